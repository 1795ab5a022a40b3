#pragma once

#include "helpfiles.h"
#include "helphost.h"

#include <QApplication>
#include <QHelpEngineCore>
#include <QHelpEvent>
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

    // The text of a page of the collection, as a what's-this popup shows it.
    QString pageText(const QString& page) { return QString::fromUtf8(engine.fileData(HelpFiles::pageUrl(page))); }

    // Asks for the what's-this explanation of a widget, as a click in what's-this mode does.
    static void requestWhatsThis(QWidget* target)
    {
        QHelpEvent request(QEvent::WhatsThis, QPoint(1, 1), target->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(target, &request);
    }

    QWidget* widget;
    QHelpEngineCore engine;
    QStringList calls;
    QList<QUrl> shownPages;
};
