// Checks the help tab's page view and content tree on the built collection: page names without
// extension, pages and style sheet loaded from the collection, the tree selecting and showing a
// page, and a missing collection.
#include "helpbrowser.h"
#include "helpfiles.h"
#include "helptab.h"

#include <QGridLayout>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

namespace {

// Remembers every resource the page view asks for.
class RecordingBrowser : public HelpBrowser
{
public:
    using HelpBrowser::HelpBrowser;
    QVariant loadResource(int type, const QUrl& name) override
    {
        requested << name;
        return HelpBrowser::loadResource(type, name);
    }
    QList<QUrl> requested;
};

QString renderedText(const QByteArray& html)
{
    QTextDocument document;
    document.setHtml(QString::fromUtf8(html));
    return document.toPlainText();
}

bool waitForContents(QHelpEngine* engine)
{
    if (engine->contentModel()->rowCount() > 0)
        return true;
    QSignalSpy created(engine->contentModel(), &QHelpContentModel::contentsCreated);
    return created.wait(10000) && engine->contentModel()->rowCount() > 0;
}

} // namespace

class TestHelpBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void completedPage_data();
    void completedPage();
    void setSourceShowsPage_data();
    void setSourceShowsPage();
    void styleSheetComesFromCollection();
    void missingPageGivesNothing();
    void otherSchemesLoadAsUsual();
    void selectedHyperlinkText();
    void treeLinkWithoutExtensionShowsPage();
    void showPageSelectsAndShows_data();
    void showPageSelectsAndShows();
    void tabLaysOutTreeLeftOfPage_data();
    void tabLaysOutTreeLeftOfPage();
    void missingCollectionLeavesHelpEmpty();
    void windowTearsDownTab();

private:
    QHelpEngine* engine = nullptr;
};

void TestHelpBrowser::initTestCase()
{
    engine = new QHelpEngine(QStringLiteral(DOSEDESK_HELP_COLLECTION), this);
    QVERIFY(engine->setupData());
}

void TestHelpBrowser::completedPage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("page");
    QTest::newRow("bare name") << "qthelp://zul.dosedesk.1.0/doc/cycle" << "qthelp://zul.dosedesk.1.0/doc/cycle.html";
    QTest::newRow("full name") << "qthelp://zul.dosedesk.1.0/doc/cycle.html" << "qthelp://zul.dosedesk.1.0/doc/cycle.html";
    QTest::newRow("relative") << "breaktime" << "breaktime.html";
    QTest::newRow("anchor stays behind") << "cycle#example" << "cycle.html#example";
    QTest::newRow("html anywhere") << "xhtmlpage" << "xhtmlpage";
    QTest::newRow("encoded html") << "page%68tml" << "page%68tml";
    QTest::newRow("case matters") << "page.HTML" << "page.HTML.html";
    QTest::newRow("no path") << "" << "";
}

void TestHelpBrowser::completedPage()
{
    QFETCH(QString, name);
    QFETCH(QString, page);
    QCOMPARE(HelpBrowser::completedPage(QUrl(name)), QUrl(page));
}

void TestHelpBrowser::setSourceShowsPage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("page");
    QTest::newRow("cycle without extension") << "qthelp://zul.dosedesk.1.0/doc/cycle" << "cycle.html";
    QTest::newRow("stop button") << "qthelp://zul.dosedesk.1.0/doc/stopbutton.html" << "stopbutton.html";
    QTest::newRow("odd name") << "qthelp://zul.dosedesk.1.0/doc/in12ow" << "in12ow.html";
}

void TestHelpBrowser::setSourceShowsPage()
{
    QFETCH(QString, name);
    QFETCH(QString, page);
    HelpBrowser browser(engine);
    browser.setSource(QUrl(name));
    const QUrl expected = HelpFiles::pageUrl(page);
    QCOMPARE(browser.source(), expected);
    const QByteArray html = engine->fileData(expected);
    QVERIFY(!html.isEmpty());
    QCOMPARE(browser.toPlainText(), renderedText(html));
}

void TestHelpBrowser::styleSheetComesFromCollection()
{
    RecordingBrowser browser(engine);
    browser.setSource(HelpFiles::startPage());
    QVERIFY2(browser.requested.contains(HelpFiles::pageUrl(QStringLiteral("help.css"))),
             qPrintable(QDebug::toString(browser.requested)));
    QVERIFY(!engine->fileData(HelpFiles::pageUrl(QStringLiteral("help.css"))).isEmpty());
}

void TestHelpBrowser::missingPageGivesNothing()
{
    HelpBrowser browser(engine);
    QVERIFY(browser.loadResource(QTextDocument::HtmlResource, HelpFiles::pageUrl(QStringLiteral("nosuch.html")))
                .toByteArray()
                .isEmpty());
    browser.setSource(HelpFiles::pageUrl(QStringLiteral("nosuch")));
    QVERIFY(browser.toPlainText().isEmpty());

    HelpBrowser withoutEngine(nullptr);
    QVERIFY(withoutEngine.loadResource(QTextDocument::HtmlResource, HelpFiles::startPage()).toByteArray().isEmpty());
}

void TestHelpBrowser::otherSchemesLoadAsUsual()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("local.html")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<h1>Local page</h1>");
    file.close();

    HelpBrowser browser(engine);
    const QVariant data = browser.loadResource(QTextDocument::HtmlResource, QUrl::fromLocalFile(file.fileName()));
    QVERIFY(data.toString().contains(QStringLiteral("Local page")));
}

void TestHelpBrowser::selectedHyperlinkText()
{
    HelpBrowser browser(engine);
    QVERIFY(browser.getHelpTextCurrentlySelected().toByteArray().isEmpty());
    const QUrl link = HelpFiles::pageUrl(QStringLiteral("searchpump.html"));
    browser.setHyperlink(link);
    const QByteArray text = browser.getHelpTextCurrentlySelected().toByteArray();
    QVERIFY(!text.isEmpty());
    QCOMPARE(text, engine->fileData(link));
}

void TestHelpBrowser::treeLinkWithoutExtensionShowsPage()
{
    QWidget tab;
    const HelpTab help = HelpTab::build(&tab, QStringLiteral(DOSEDESK_HELP_COLLECTION), &tab);
    emit help.helpContentWidget->linkActivated(QUrl(QStringLiteral("qthelp://zul.dosedesk.1.0/doc/cycle")));
    QCOMPARE(help.helpBrowser->source(), HelpFiles::pageUrl(QStringLiteral("cycle.html")));
    QVERIFY(help.helpBrowser->toPlainText().contains(QStringLiteral("Cycles")));
}

void TestHelpBrowser::showPageSelectsAndShows_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("start page") << "index.html";
    QTest::newRow("third level") << "pumpaddress.html";
    QTest::newRow("odd name") << "signal4_20mAtoolow.html";
}

void TestHelpBrowser::showPageSelectsAndShows()
{
    QFETCH(QString, page);
    QWidget tab;
    const HelpTab help = HelpTab::build(&tab, QStringLiteral(DOSEDESK_HELP_COLLECTION), &tab);
    QVERIFY(waitForContents(help.helpEngine));

    const QUrl url = HelpFiles::pageUrl(page);
    help.showPage(url);

    const QModelIndex current = help.helpContentWidget->currentIndex();
    QVERIFY(current.isValid());
    QCOMPARE(help.helpEngine->contentModel()->contentItemAt(current)->url(), url);
    for (QModelIndex parent = current.parent(); parent.isValid(); parent = parent.parent())
        QVERIFY(help.helpContentWidget->isExpanded(parent));
    QCOMPARE(help.helpBrowser->source(), url);
    QCOMPARE(help.helpBrowser->toPlainText(), renderedText(help.helpEngine->fileData(url)));
}

void TestHelpBrowser::tabLaysOutTreeLeftOfPage_data()
{
    QTest::addColumn<int>("existingLayout");
    QTest::newRow("no layout") << 0;
    QTest::newRow("vertical box") << 1;
    QTest::newRow("grid") << 2;
}

void TestHelpBrowser::tabLaysOutTreeLeftOfPage()
{
    QFETCH(int, existingLayout);
    QWidget tab;
    if (existingLayout == 1)
        new QVBoxLayout(&tab);
    else if (existingLayout == 2)
        new QGridLayout(&tab);
    const HelpTab help = HelpTab::build(&tab, QStringLiteral(DOSEDESK_HELP_COLLECTION), &tab);
    tab.resize(900, 500);
    tab.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tab));

    QCOMPARE(help.helpContentWidget->parentWidget(), &tab);
    QCOMPARE(help.helpBrowser->parentWidget(), &tab);
    QVERIFY(help.helpContentWidget->isVisible());
    QVERIFY(help.helpBrowser->isVisible());
    if (existingLayout != 2)
        QVERIFY(help.helpContentWidget->geometry().right() < help.helpBrowser->geometry().left());
    // The page view takes the room the tree leaves.
    QVERIFY(help.helpBrowser->width() > 0);
}

void TestHelpBrowser::missingCollectionLeavesHelpEmpty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("doc/HelpContentCol.qhc"));
    QWidget tab;
    const HelpTab help = HelpTab::build(&tab, path, &tab);
    QTest::qWait(200);
    QCOMPARE(help.helpEngine->contentModel()->rowCount(), 0);
    help.showPage(HelpFiles::startPage());
    QVERIFY(help.helpBrowser->toPlainText().isEmpty());
    QVERIFY(help.helpEngine->fileData(HelpFiles::startPage()).isEmpty());
    // Looking for the help must not leave an empty collection behind for the next start.
    QVERIFY(!QFileInfo::exists(path));
}

void TestHelpBrowser::windowTearsDownTab()
{
    // The window owns the engine, the tab owns the tree and the page view; closing the window
    // must release all of them once.
    auto window = std::make_unique<QWidget>();
    auto* tab = new QWidget(window.get());
    const HelpTab help = HelpTab::build(tab, QStringLiteral(DOSEDESK_HELP_COLLECTION), window.get());
    QPointer<QHelpContentWidget> tree = help.helpContentWidget;
    QPointer<QHelpEngine> helpEngine = help.helpEngine;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window.reset();
    QVERIFY(tree.isNull());
    QVERIFY(helpEngine.isNull());
}

QTEST_MAIN(TestHelpBrowser)
#include "tst_helpbrowser.moc"
