// Checks the window side of the help on a stand-in window: controls tagged with their pages,
// the help key, what's-this popups filled from the built collection, links clicked in them,
// and the window following a move to another screen (two offscreen screens side by side).
#include "fakehelphost.h"
#include "helpcontent.h"
#include "helpfiles.h"
#include "windowcaptioneventfilter.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QWhatsThis>
#include <QtTest>
#include <memory>

// The screen tests run on the two screens that main() asks the offscreen platform for.
#define NEED_TWO_SCREENS()                                                                        \
    if (QGuiApplication::screens().size() < 2)                                                     \
    QSKIP("needs two screens: run without -platform")

class TestHelpContent : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tagsEveryControlWithItsPage();
    void missingControlsAreNamed();
    void helpKeyOpensHelp_data();
    void helpKeyOpensHelp();
    void helpKeyGoesWithHelpContent();
    void whatsThisShowsPage_data();
    void whatsThisShowsPage();
    void untaggedChildShowsPageOfItsGroup();
    void clickedLinkOpensHelpTab_data();
    void clickedLinkOpensHelpTab();
    void firstPaintCentresWindow();
    void moveToOtherScreenRecentres();
    void otherWindowsAreLeftAlone();
    void moveWithinScreenKeepsPlace();
    void inactiveWindowIsNotPulledBack();

private:
    QWidget* control(const QString& name) const { return window->findChild<QWidget*>(name); }
    void showActive();
    bool centredOn(int screenIndex) const;
    static constexpr int left = 0;
    static constexpr int right = 1;

    std::unique_ptr<QWidget> window;
    std::unique_ptr<FakeHelpHost> host;
    std::unique_ptr<HelpContent> content;
};

void TestHelpContent::init()
{
    // One group per page holding that page's controls, a level below the window, as in the form.
    window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("mainScreen"));
    window->setMinimumSize(400, 300);
    auto* panel = new QWidget(window.get());
    for (const HelpContent::PageControls& entry : HelpContent::pages()) {
        auto* group = new QWidget(panel);
        for (const QString& name : entry.controls) {
            QWidget* widget = name.startsWith(QLatin1String("button")) ? new QPushButton(name, group)
                                                                          : static_cast<QWidget*>(new QLabel(name, group));
            widget->setObjectName(name);
        }
    }
    host = std::make_unique<FakeHelpHost>(window.get());
    qApp->installEventFilter(new WindowCaptionEventFilter(host.get(), window.get()));
    content = std::make_unique<HelpContent>(host.get());
}

void TestHelpContent::cleanup()
{
    QWhatsThis::hideText();
    QWhatsThis::leaveWhatsThisMode();
    content.reset();
    window.reset();
    host.reset();
}

void TestHelpContent::showActive()
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
}

bool TestHelpContent::centredOn(int screenIndex) const
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screenIndex >= screens.size())
        return false;
    const QPoint offset = window->geometry().center() - screens.at(screenIndex)->geometry().center();
    return offset.manhattanLength() <= 2 && window->size() == window->minimumSize();
}

void TestHelpContent::tagsEveryControlWithItsPage()
{
    int tagged = 0;
    for (const HelpContent::PageControls& entry : HelpContent::pages()) {
        for (const QString& name : entry.controls) {
            QWidget* widget = control(name);
            QVERIFY(widget);
            QCOMPARE(widget->property(HelpFiles::pageProperty).toString(), entry.page);
            ++tagged;
        }
    }
    QVERIFY(tagged > HelpContent::pages().size());
    QVERIFY(!window->property(HelpFiles::pageProperty).isValid());
}

void TestHelpContent::missingControlsAreNamed()
{
    QVERIFY(HelpContent::missingControls(window.get()).isEmpty());
    delete control(QStringLiteral("buttonPrime"));
    delete control(QStringLiteral("labelErrorNoneText"));
    QCOMPARE(HelpContent::missingControls(window.get()),
             (QStringList{QStringLiteral("buttonPrime"), QStringLiteral("labelErrorNoneText")}));
}

void TestHelpContent::helpKeyOpensHelp_data()
{
    QTest::addColumn<bool>("fromOtherWindow");
    QTest::newRow("in the window") << false;
    QTest::newRow("in another window of the program") << true;
}

void TestHelpContent::helpKeyOpensHelp()
{
    QFETCH(bool, fromOtherWindow);
    const QKeySequence help(QKeySequence::HelpContents);
    QVERIFY(!help.isEmpty());
    showActive();
    QWidget other;
    QWidget* target = window.get();
    if (fromOtherWindow) {
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        target = &other;
    }
    QTest::keySequence(target, help);
    QCOMPARE(host->calls, QStringList{QStringLiteral("activateHelp")});
}

void TestHelpContent::helpKeyGoesWithHelpContent()
{
    showActive();
    content.reset();
    QVERIFY(window->findChildren<QShortcut*>().isEmpty());
    QTest::keySequence(window.get(), QKeySequence(QKeySequence::HelpContents));
    QVERIFY(host->calls.isEmpty());
}

void TestHelpContent::whatsThisShowsPage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("page");
    QTest::newRow("stop button") << "buttonStop" << "stopbutton.html";
    QTest::newRow("error text") << "labelPumpFaultText" << "pumperror.html";
    QTest::newRow("address label") << "labelCommAddress" << "commaddress.html";
    QTest::newRow("odd page name") << "labelInput2ActiveIcon" << "in12ow.html";
}

void TestHelpContent::whatsThisShowsPage()
{
    QFETCH(QString, name);
    QFETCH(QString, page);
    showActive();
    QWidget* widget = control(name);
    QVERIFY(widget);
    widget->setWhatsThis(QStringLiteral("stale text of an earlier request"));
    FakeHelpHost::requestWhatsThis(widget);

    QVERIFY(!host->pageText(page).isEmpty());
    QCOMPARE(widget->whatsThis(), host->pageText(page));
}

void TestHelpContent::untaggedChildShowsPageOfItsGroup()
{
    showActive();
    QWidget* group = control(QStringLiteral("groupComm"));
    auto* label = new QLabel(QStringLiteral("no page of its own"), group);
    FakeHelpHost::requestWhatsThis(label);

    QVERIFY(label->whatsThis().isEmpty());
    QCOMPARE(group->whatsThis(), host->pageText(QStringLiteral("general.html")));
}

void TestHelpContent::clickedLinkOpensHelpTab_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("page");
    QTest::newRow("relative link") << "searchpump.html" << "qthelp://zul.dosedesk.1.0/doc/searchpump.html";
    QTest::newRow("full link") << "qthelp://zul.dosedesk.1.0/doc/cycle.html" << "qthelp://zul.dosedesk.1.0/doc/cycle.html";
    QTest::newRow("link with anchor") << "digin2.html#top" << "qthelp://zul.dosedesk.1.0/doc/digin2.html#top";
}

void TestHelpContent::clickedLinkOpensHelpTab()
{
    QFETCH(QString, href);
    QFETCH(QString, page);
    showActive();
    QWidget* widget = control(QStringLiteral("buttonSearchPump"));
    QWhatsThis::enterWhatsThisMode();
    QVERIFY(QWhatsThis::inWhatsThisMode());

    QWhatsThisClickedEvent click(href);
    QVERIFY(QApplication::sendEvent(widget, &click));
    QVERIFY(!QWhatsThis::inWhatsThisMode());

    QTRY_COMPARE(host->calls, (QStringList{QStringLiteral("activateHelp"), QStringLiteral("showHelpPage")}));
    QCOMPARE(host->shownPages, QList<QUrl>{QUrl(page)});
}

void TestHelpContent::firstPaintCentresWindow()
{
    NEED_TWO_SCREENS();
    window->setGeometry(20, 20, 600, 500);
    showActive();
    QTRY_VERIFY(centredOn(left));
}

void TestHelpContent::moveToOtherScreenRecentres()
{
    NEED_TWO_SCREENS();
    showActive();
    QTRY_VERIFY(centredOn(left));
    window->move(2000, 100);
    QTRY_COMPARE(window->screen(), QGuiApplication::screens().at(right));
    window->repaint();
    QTRY_VERIFY(centredOn(right));
}

void TestHelpContent::otherWindowsAreLeftAlone()
{
    NEED_TWO_SCREENS();
    window->setObjectName(QStringLiteral("someOtherWindow"));
    window->setGeometry(2000, 100, 500, 400);
    showActive();
    window->repaint();
    QTest::qWait(50);
    QCOMPARE(window->geometry(), QRect(2000, 100, 500, 400));
}

void TestHelpContent::moveWithinScreenKeepsPlace()
{
    NEED_TWO_SCREENS();
    showActive();
    QTRY_VERIFY(centredOn(left));
    window->move(10, 10);
    window->repaint();
    QTest::qWait(50);
    QCOMPARE(window->pos(), QPoint(10, 10));
}

void TestHelpContent::inactiveWindowIsNotPulledBack()
{
    NEED_TWO_SCREENS();
    showActive();
    QTRY_VERIFY(centredOn(left));
    window->move(2000, 100);
    QTRY_COMPARE(window->screen(), QGuiApplication::screens().at(right));
    window->repaint();
    QTRY_VERIFY(centredOn(right));

    // Another program in front: no window of this one is active.
    QApplication::setActiveWindow(nullptr);
    QVERIFY(!QApplication::activeWindow());
    const QPoint placed = window->pos();
    window->repaint();
    QTest::qWait(50);
    QCOMPARE(window->pos(), placed);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" DOSEDESK_TWO_SCREENS);
    QApplication app(argc, argv);
    TestHelpContent test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_helpcontent.moc"
