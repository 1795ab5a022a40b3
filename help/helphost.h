#pragma once

class QByteArray;
class QUrl;
class QWidget;

// What the context help needs from the window it serves; the main window implements it.
class HelpHost
{
public:
    virtual ~HelpHost() = default;

    // Opens the settings tabs if hidden, selects the help tab and shows the start page.
    virtual void activateHelp() = 0;
    // The raw bytes of a page of the help collection; empty when it has no such page.
    virtual QByteArray helpFileData(const QUrl& url) = 0;
    // Selects the page in the help tab's content tree and shows it in the page view.
    virtual void showHelpPage(const QUrl& url) = 0;
    // The window itself: owner of the help key and the widget tree that carries the help pages.
    virtual QWidget* hostWidget() = 0;
};
