#pragma once

#include <QString>

class HelpBrowser;
class QHelpContentWidget;
class QHelpEngine;
class QObject;
class QUrl;
class QWidget;

// The help tab: the collection's content tree beside the page view, both on one help engine.
class HelpTab
{
public:
    QHelpEngine* helpEngine = nullptr;
    QHelpContentWidget* helpContentWidget = nullptr;
    HelpBrowser* helpBrowser = nullptr;

    // Opens the collection (by its absolute path) with an engine owned by engineParent and lays out
    // the content tree and the page view from left to right in the tab. A missing collection
    // leaves the tree empty.
    static HelpTab build(QWidget* tab, const QString& collectionPath, QObject* engineParent);

    // Selects the page in the content tree, expands its entry and lets the tree report it as
    // activated, which shows it in the page view. A page the tree does not list (yet) is shown
    // in the page view directly.
    void showPage(const QUrl& url) const;
};
