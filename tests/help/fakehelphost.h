#pragma once

#include "helphost.h"

#include <QHelpEngineCore>
#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>

// Stands in for the main window: serves pages from the built collection and records what the
// help asks of the window, in order.
class FakeHelpHost : public HelpHost
{
public:
    explicit FakeHelpHost(QWidget* widget)
        : widget(widget), engine(QStringLiteral(DOSEDESK_HELP_COLLECTION))
    {
        engine.setupData();
    }

    void activateHelp() override { calls << QStringLiteral("activateHelp"); }
    QByteArray helpFileData(const QUrl& url) override { return engine.fileData(url); }
    void showHelpPage(const QUrl& url) override
    {
        calls << QStringLiteral("showHelpPage");
        shownPages << url;
    }
    QWidget* hostWidget() override { return widget; }

    QWidget* widget;
    QHelpEngineCore engine;
    QStringList calls;
    QList<QUrl> shownPages;
};
