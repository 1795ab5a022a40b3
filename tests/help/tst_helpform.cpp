// Walks the window's real form against the help: every control the help explains exists under
// its name, carries its page, and a what's-this request on it shows that page.
#include "fakehelphost.h"
#include "helpcontent.h"
#include "helpfiles.h"
#include "helptab.h"
#include "ui_mainscreen.h"
#include "windowcaptioneventfilter.h"

#include <QApplication>
#include <QDialog>
#include <QtTest>
#include <memory>

class TestHelpForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void formHasEveryControlOfTheHelp();
    void formControlsCarryTheirPages();
    void whatsThisOnFormControls_data();
    void whatsThisOnFormControls();

private:
    std::unique_ptr<QDialog> form;
    std::unique_ptr<FakeHelpHost> host;
    std::unique_ptr<HelpContent> content;
};

void TestHelpForm::init()
{
    form = std::make_unique<QDialog>();
    auto* ui = new Ui::mainScreen;
    ui->setupUi(form.get());
    // The help tab's tree and page view are made by the window after the form, before tagging.
    HelpTab::build(ui->tabHelp, QStringLiteral(DOSEDESK_HELP_COLLECTION), form.get());
    delete ui;
    host = std::make_unique<FakeHelpHost>(form.get());
    qApp->installEventFilter(new WindowCaptionEventFilter(host.get(), form.get()));
    content = std::make_unique<HelpContent>(host.get());
}

void TestHelpForm::cleanup()
{
    content.reset();
    form.reset();
    host.reset();
}

void TestHelpForm::formHasEveryControlOfTheHelp()
{
    QCOMPARE(form->objectName(), QStringLiteral("mainScreen"));
    QCOMPARE(HelpContent::missingControls(form.get()), QStringList());
}

void TestHelpForm::formControlsCarryTheirPages()
{
    for (const HelpContent::PageControls& entry : HelpContent::pages()) {
        for (const QString& name : entry.controls) {
            const QObject* control = form->findChild<QObject*>(name);
            QVERIFY2(control, qPrintable(name));
            QCOMPARE(control->property(HelpFiles::pageProperty).toString(), entry.page);
        }
    }
    // A label names the list right of it: one carrying another page sends the user astray.
    for (const QGridLayout* grid : form->findChildren<QGridLayout*>()) {
        for (int i = 0; i < grid->count(); ++i) {
            const auto* label = qobject_cast<const QLabel*>(grid->itemAt(i)->widget());
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(i, &row, &column, &rows, &columns);
            const QLayoutItem* right = grid->itemAtPosition(row, column + columns);
            const auto* list = right ? qobject_cast<const QComboBox*>(right->widget()) : nullptr;
            if (label && list)
                QCOMPARE(label->property(HelpFiles::pageProperty),
                         list->property(HelpFiles::pageProperty));
        }
    }
}

void TestHelpForm::whatsThisOnFormControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("page");
    QTest::newRow("stop button") << "buttonStop" << "stopbutton.html";
    QTest::newRow("search pump") << "buttonSearchPump" << "searchpump.html";
    QTest::newRow("cycles field") << "lineEditCycles" << "cycle.html";
    QTest::newRow("help tree") << "helpContentWidget" << "help.html";
}

void TestHelpForm::whatsThisOnFormControls()
{
    QFETCH(QString, name);
    QFETCH(QString, page);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    auto* widget = form->findChild<QWidget*>(name);
    QVERIFY(widget);
    FakeHelpHost::requestWhatsThis(widget);
    QVERIFY(!host->pageText(page).isEmpty());
    QCOMPARE(widget->whatsThis(), host->pageText(page));
}

QTEST_MAIN(TestHelpForm)
#include "tst_helpform.moc"
