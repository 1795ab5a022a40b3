// Checks the help collection as built: every page of the control table is there with real
// content, listed in the table of contents, and every link of every page leads to a page.
#include "helpbrowser.h"
#include "helpcontent.h"
#include "helpfiles.h"

#include <QHelpContentItem>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTextDocument>
#include <QtTest>

namespace {

// A page the help starts at plus every page a control refers to.
QStringList expectedPages()
{
    QStringList pages{QStringLiteral("index.html")};
    for (const HelpContent::PageControls& entry : HelpContent::pages())
        pages << entry.page;
    return pages;
}

void collectTocPaths(QHelpContentItem* item, QSet<QString>& paths)
{
    if (!item)
        return;
    paths.insert(item->url().path());
    for (int i = 0; i < item->childCount(); ++i)
        collectTocPaths(item->child(i), paths);
}

} // namespace

class TestHelpCollection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageHasContent_data();
    void pageHasContent();
    void tableOfContentsListsEveryPage();
    void everyLinkLeadsToAPage();

private:
    QHelpEngine* engine = nullptr;
};

void TestHelpCollection::initTestCase()
{
    QVERIFY2(QFileInfo::exists(QStringLiteral(DOSEDESK_HELP_COLLECTION)), DOSEDESK_HELP_COLLECTION);
    engine = new QHelpEngine(QStringLiteral(DOSEDESK_HELP_COLLECTION), this);
    QSignalSpy created(engine->contentModel(), &QHelpContentModel::contentsCreated);
    QVERIFY(engine->setupData());
    QVERIFY(created.count() > 0 || created.wait(10000));
    QCOMPARE(engine->registeredDocumentations(), QStringList{QStringLiteral("zul.dosedesk.1.0")});
}

void TestHelpCollection::pageHasContent_data()
{
    QTest::addColumn<QString>("page");
    for (const QString& page : expectedPages())
        QTest::newRow(qPrintable(page)) << page;
}

void TestHelpCollection::pageHasContent()
{
    QFETCH(QString, page);
    const QByteArray html = engine->fileData(HelpFiles::pageUrl(page));
    QVERIFY2(!html.isEmpty(), "page missing from the collection");
    QVERIFY2(html.contains("<h1>"), "page has no heading");
    QVERIFY2(html.contains("<link rel=\"stylesheet\" type=\"text/css\" href=\"help.css\">"),
             "page does not use the shared style sheet");

    QTextDocument document;
    document.setHtml(QString::fromUtf8(html));
    QVERIFY2(!document.metaInformation(QTextDocument::DocumentTitle).isEmpty(), "page has no title");
    const QString text = document.toPlainText().simplified();
    QVERIFY2(text.size() > 350, qPrintable(QStringLiteral("only %1 characters of text").arg(text.size())));
}

void TestHelpCollection::tableOfContentsListsEveryPage()
{
    QHelpContentModel* model = engine->contentModel();
    QSet<QString> tocPaths;
    for (int row = 0; row < model->rowCount(); ++row)
        collectTocPaths(model->contentItemAt(model->index(row, 0)), tocPaths);

    for (const QString& page : expectedPages())
        QVERIFY2(tocPaths.contains(QStringLiteral("/doc/") + page), qPrintable(page));

    // A page in the collection that the contents do not list could never be selected in the tree.
    const QList<QUrl> files = engine->files(QStringLiteral("zul.dosedesk.1.0"), QString(), QStringLiteral("html"));
    QVERIFY(files.size() >= expectedPages().size());
    for (const QUrl& file : files)
        QVERIFY2(tocPaths.contains(file.path()), qPrintable(file.toString()));
}

void TestHelpCollection::everyLinkLeadsToAPage()
{
    // Links of <a> are pages, completed as the page view completes them; <link> and <img> name
    // resources, taken as written.
    static const QRegularExpression link(QStringLiteral("<(a|link|img)\\s[^>]*(?:href|src)=\"([^\"]+)\""));
    const QList<QUrl> files = engine->files(QStringLiteral("zul.dosedesk.1.0"), QString(), QStringLiteral("html"));
    QVERIFY(!files.isEmpty());
    int links = 0;
    for (const QUrl& file : files) {
        const QString html = QString::fromUtf8(engine->fileData(file));
        for (const QRegularExpressionMatch& match : link.globalMatch(html)) {
            const QUrl written = file.resolved(QUrl(match.captured(2)));
            const QUrl target = match.captured(1) == QLatin1String("a") ? HelpBrowser::completedPage(written) : written;
            const QString where = file.fileName() + QStringLiteral(" -> ") + match.captured(2);
            QVERIFY2(target.scheme() == QLatin1String("qthelp"), qPrintable(where + QStringLiteral(" leaves the help")));
            QVERIFY2(!engine->fileData(target.adjusted(QUrl::RemoveFragment)).isEmpty(),
                     qPrintable(where + QStringLiteral(" leads nowhere")));
            ++links;
        }
    }
    QVERIFY(links > files.size() * 3);
}

QTEST_MAIN(TestHelpCollection)
#include "tst_helpcollection.moc"
