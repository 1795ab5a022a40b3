// The help tab of the real window. This test lives beside the program (in bin/) and runs from
// another working folder, as a program started from a desktop launcher would: the window must
// still find the help collection beside the executable.
#include "helpbrowser.h"
#include "helpcontent.h"
#include "windowrig.h"

#include <QDir>
#include <QHelpContentWidget>
#include <QTemporaryDir>
#include <QTest>

class TestHelpTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void f1ShowsTheStartPageFromAnotherFolder();
    void whatsThisLinkOpensItsPage();

private:
    QTemporaryDir elsewhere;
};

void TestHelpTab::initTestCase()
{
    QVERIFY(elsewhere.isValid());
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    QVERIFY(!QFileInfo::exists(QStringLiteral("./doc/HelpContentCol.qhc")));
}

void TestHelpTab::f1ShowsTheStartPageFromAnotherFolder()
{
    WindowRig rig(WindowRig::withoutPump());
    HelpContent help(rig.window.get());
    rig.window->show();
    QApplication::setActiveWindow(rig.window.get());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    QVERIFY(!rig.ui().TabsExtendedSettings->isVisible());

    QTest::keyClick(rig.window.get(), Qt::Key_F1);

    QTRY_VERIFY(rig.ui().TabsExtendedSettings->isVisible());
    QCOMPARE(rig.ui().TabsExtendedSettings->currentWidget(), rig.ui().tabHelp);
    auto* browser = rig.window->findChild<HelpBrowser*>(QStringLiteral("helpBrowser"));
    auto* tree = rig.window->findChild<QHelpContentWidget*>(QStringLiteral("helpContentWidget"));
    QVERIFY(browser);
    QVERIFY(tree);
    QTRY_COMPARE(browser->source().fileName(), QStringLiteral("index.html"));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("DoseDesk")));
    QTRY_VERIFY(tree->model()->rowCount() > 0);
    // The chapters under the start page are open at first sight.
    QTRY_VERIFY(tree->isExpanded(tree->model()->index(0, 0)));

    const QString shots = qEnvironmentVariable("DOSEDESK_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QTest::qWait(200);
        if (!rig.window->grab().save(shots + QStringLiteral("/help-tab.png")))
            qWarning("could not save the help tab picture in %s", qPrintable(shots));
    }
    rig.window->hide();
}

void TestHelpTab::whatsThisLinkOpensItsPage()
{
    WindowRig rig(WindowRig::withoutPump());
    rig.window->showHelpPage(QUrl(QStringLiteral("qthelp://zul.dosedesk.1.0/doc/cycle")));
    auto* browser = rig.window->findChild<HelpBrowser*>(QStringLiteral("helpBrowser"));
    QVERIFY(browser);
    QTRY_COMPARE(browser->source().fileName(), QStringLiteral("cycle.html"));
    QVERIFY(browser->toPlainText().size() > 200);
}

QTEST_MAIN(TestHelpTab)
#include "tst_helptab.moc"
