#pragma once

#include <QTextBrowser>
#include <QUrl>

class QHelpEngine;

// Page view of the help tab: loads "qthelp" pages from the help engine and completes page names
// given without their ".html" extension.
class HelpBrowser : public QTextBrowser
{
    Q_OBJECT

public:
    explicit HelpBrowser(QHelpEngine* helpEngine, QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;

    // The page a name stands for: unchanged when its path mentions "html", else with ".html".
    static QUrl completedPage(const QUrl& name);

public slots:
    void setSource(const QUrl& name);
    void setHyperlink(const QUrl& link);
    QVariant getHelpTextCurrentlySelected();

protected:
    // Every way of changing the page (tree, links, history) passes here, so the name rule holds
    // for all of them.
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

private:
    QUrl hyperlink;
    QHelpEngine* helpEngine;
};
