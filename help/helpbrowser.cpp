#include "helpbrowser.h"

#include <QHelpEngine>

HelpBrowser::HelpBrowser(QHelpEngine* helpEngine, QWidget* parent)
    : QTextBrowser(parent), helpEngine(helpEngine)
{
}

QUrl HelpBrowser::completedPage(const QUrl& name)
{
    const QString path = name.path(QUrl::FullyDecoded);
    if (path.isEmpty() || path.contains(QStringLiteral("html")))
        return name;
    // The extension belongs to the path: a fragment or query must stay behind it.
    QUrl page = name;
    page.setPath(path + QStringLiteral(".html"), QUrl::DecodedMode);
    return page;
}

void HelpBrowser::setSource(const QUrl& name)
{
    QTextBrowser::setSource(name, QTextDocument::UnknownResource);
}

void HelpBrowser::doSetSource(const QUrl& name, QTextDocument::ResourceType type)
{
    QTextBrowser::doSetSource(completedPage(name), type);
}

void HelpBrowser::setHyperlink(const QUrl& link)
{
    hyperlink = link;
}

QVariant HelpBrowser::getHelpTextCurrentlySelected()
{
    return loadResource(QTextDocument::HtmlResource, hyperlink);
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name)
{
    if (name.scheme() == QLatin1String("qthelp"))
        return helpEngine ? helpEngine->fileData(name) : QByteArray();
    return QTextBrowser::loadResource(type, name);
}
