#include "calibrationhistory.h"
#include "calibrationwizard.h"
#include "ptybalance.h"
#include "windowrig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <cmath>
#include <memory>
#include <utility>

// The calibration wizard as a user goes through it, from the settings tab's button to the check
// run, against a simulated pump that delivers 97 % of what it meters and a simulated balance.
class TestCalibrationWizard : public QObject
{
    Q_OBJECT

private slots:
    void calibrate_data();
    void calibrate();
    void cancelStopsThePump();
};

namespace {

constexpr double WaterAt20GramsPerMl = 0.9972; // as a balance in air shows it
constexpr int DeliveryMs = 30000;

void typeInto(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClicks(field, text);
}

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// A check box is ticked with the space bar: a click in its middle may miss its label.
void tick(QCheckBox* box)
{
    QTest::keyClick(box, Qt::Key_Space);
}

// Types the mass into the row's cell as a user does: the cell's editor, then Return.
void typeMass(QTableWidget* table, int row, const QString& mass)
{
    // An editor closed before is deleted only later; one open now is the one to type in.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto* editor = table->viewport()->findChild<QLineEdit*>();
    if (!editor) {
        table->setCurrentCell(row, 0);
        table->editItem(table->item(row, 0));
        editor = table->viewport()->findChild<QLineEdit*>();
    }
    QVERIFY(editor);
    typeInto(editor, mass);
    QTest::keyClick(editor, Qt::Key_Return);
    // The cell takes the text from the editor a turn of the event loop later.
    QCoreApplication::processEvents();
}

QString textOf(QWidget* parent, const char* name)
{
    return child<QLabel>(parent, name)->text();
}

} // namespace

// typed: per delivery, what the user types for its mass ("" when the balance weighs it); "0|1.2"
// types 0 first, which must be refused, then 1.2.
void TestCalibrationWizard::calibrate_data()
{
    QTest::addColumn<bool>("onBalance");
    QTest::addColumn<int>("settleMs");         // still this long counts as settled
    QTest::addColumn<int>("balanceGivesUpMs"); // "S" and "Z" wait this long to settle
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<qint64>("calibration"); // in the pump afterwards
    QTest::addColumn<bool>("firstCutShort"); // a master stop ends the first delivery early
    QTest::newRow("weighed on the balance, first delivery cut short")
        << true << 400 << 10000 << QStringList{"", "", ""} << "103.1 % written" << qint64(10310)
        << true;
    QTest::newRow("balance never settles: typed by hand")
        << true << 600000 << 300 << QStringList{"0.9672", "0,9672", "0.9672"} << "103.1 % written"
        << qint64(10310) << false;
    QTest::newRow("typed masses too far apart")
        << false << 400 << 0 << QStringList{"0|0.90", "x|1.00", "1.10"}
        << "Not written: the deliveries lie too far apart" << qint64(10000) << false;
}

void TestCalibrationWizard::calibrate()
{
    QFETCH(bool, onBalance);
    QFETCH(int, settleMs);
    QFETCH(int, balanceGivesUpMs);
    QFETCH(QStringList, typed);
    QFETCH(QString, recorded);
    QFETCH(qint64, calibration);
    QFETCH(bool, firstCutShort);
    WindowRig::Options options;
    options.pumpTrueFactor = 0.97;
    WindowRig rig(options);
    Simulator::PtyBalance::Options scale;
    scale.settleMs = settleMs;
    scale.stableTimeoutMs = balanceGivesUpMs;
    Simulator::PtyBalance balance([&rig] { return rig.pump.outflowMl() * WaterAt20GramsPerMl; },
                                  scale);
    QVERIFY2(balance.start(), qPrintable(balance.errorString()));

    click(rig.ui().buttonCalibrate);
    auto* wizard = rig.window->findChild<CalibrationWizard*>();
    QVERIFY(wizard);
    QVERIFY(QTest::qWaitForWindowExposed(wizard));
    QAbstractButton* next = wizard->button(QWizard::NextButton);
    // Primed, then on to the plan: 1 ml at 100 ml/min, three deliveries of water at 20 °C.
    click(child<QPushButton>(wizard, "primeButton"));
    QVERIFY(rig.waitForBody("00KY2"));
    click(child<QPushButton>(wizard, "stopButton"));
    QVERIFY(rig.waitUntil([&] { return textOf(wizard, "primeStatus") == "Stopped."; }) >= 0);
    click(next);
    typeInto(child<QLineEdit>(wizard, "targetVolume"), "1");
    typeInto(child<QLineEdit>(wizard, "flowRate"), "250");
    click(next);
    QVERIFY2(textOf(wizard, "planProblem").startsWith("Flow rate: 250 is out of range"),
             qPrintable(textOf(wizard, "planProblem")));
    typeInto(child<QLineEdit>(wizard, "flowRate"), "100");
    child<QSpinBox>(wizard, "deliveries")->setValue(int(typed.size()));
    if (onBalance) {
        tick(child<QCheckBox>(wizard, "balanceBox"));
        child<QComboBox>(wizard, "balancePort")->setEditText(balance.devicePath());
    }
    click(next);
    QCOMPARE(wizard->currentId(), int(CalibrationWizard::DeliveryPage));

    auto* table = child<QTableWidget>(wizard, "massTable");
    for (int row = 0; row < typed.size(); ++row) {
        const QString weighed = QStringLiteral("Delivery %1: ").arg(row + 1);
        QString status;
        // A delivery cut short is discarded, and a balance that fails to zero delivers nothing:
        // either way the user delivers again.
        while (status.isEmpty() || status.contains("deliver again")) {
            click(child<QPushButton>(wizard, "deliverButton"));
            if (std::exchange(firstCutShort, false)) {
                QVERIFY(rig.waitForBody("00KY1"));
                rig.pump.setMasterStop(true);
                QVERIFY(rig.waitUntil(
                            [&] {
                                return textOf(wizard, "deliveryStatus")
                                    .contains("Delivery 1 discarded");
                            },
                            DeliveryMs)
                        >= 0);
                rig.pump.setMasterStop(false);
            }
            QVERIFY(rig.waitUntil(
                        [&] {
                            status = textOf(wizard, "deliveryStatus");
                            return status.startsWith(weighed) || status.contains("type")
                                   || status.contains("deliver again");
                        },
                        DeliveryMs)
                    >= 0);
        }
        for (const QString& mass : typed[row].split(u'|', Qt::SkipEmptyParts)) {
            QVERIFY(!next->isEnabled());
            typeMass(table, row, mass);
        }
        QVERIFY2(!table->item(row, 1)->text().isEmpty(),
                 qPrintable(textOf(wizard, "deliveryStatus")));
    }
    QVERIFY(next->isEnabled());
    click(next);
    QVERIFY(rig.waitUntil([&] { return wizard->currentPage()->isComplete(); }) >= 0);
    auto* write = child<QCheckBox>(wizard, "writeBox");
    QCOMPARE(write->isEnabled(), calibration != 10000);
    if (write->isEnabled())
        tick(write);
    click(wizard->button(QWizard::CommitButton));
    QVERIFY(rig.waitUntil([&] { return wizard->currentPage()->isComplete(); }, DeliveryMs) >= 0);
    QVERIFY2(textOf(wizard, "recordStatus").contains(recorded),
             qPrintable(textOf(wizard, "recordStatus")));
    QCOMPARE(rig.pump.value("CH").value_or(-1), calibration);
    const auto history = GUI::CalibrationHistory().recent(wizard->pumpName(), 1);
    QCOMPARE(history.size(), size_t(1));
    QCOMPARE(history.front().value("outcome").startsWith("written"), calibration != 10000);
    if (calibration == 10000)
        return;

    // The check run with the new calibration, weighed as the deliveries were: within 0.5 % of
    // the target.
    click(next);
    const double before = rig.pump.outflowMl();
    click(child<QPushButton>(wizard, "checkButton"));
    QVERIFY(rig.waitUntil(
                [&] {
                    const QString status = textOf(wizard, "checkStatus");
                    return status.contains(" ml delivered") || status.contains("type its mass");
                },
                DeliveryMs)
            >= 0);
    const double deliveredMl = rig.pump.outflowMl() - before;
    if (textOf(wizard, "checkStatus").contains("type its mass")) {
        auto* mass = child<QLineEdit>(wizard, "checkMass");
        typeInto(mass, QString::number(deliveredMl * WaterAt20GramsPerMl, 'f', 4));
        QTest::keyClick(mass, Qt::Key_Return);
    }
    QVERIFY2(textOf(wizard, "checkStatus").contains("within ±1.0 %"),
             qPrintable(textOf(wizard, "checkStatus")));
    QVERIFY2(std::abs(deliveredMl - 1.0) <= 0.005, qPrintable(QString::number(deliveredMl)));
}

// A user who primes and then cancels leaves no pump running.
void TestCalibrationWizard::cancelStopsThePump()
{
    WindowRig rig;
    click(rig.ui().buttonCalibrate);
    auto* wizard = rig.window->findChild<CalibrationWizard*>();
    QVERIFY(wizard);
    click(child<QPushButton>(wizard, "primeButton"));
    QVERIFY(rig.waitForBody("00KY2"));
    QVERIFY(rig.waitUntil([&] { return textOf(wizard, "primeStatus").startsWith("Priming"); })
            >= 0);
    click(wizard->button(QWizard::CancelButton));
    QVERIFY(rig.waitForBody("00KY0"));
}

QTEST_MAIN(TestCalibrationWizard)
#include "tst_calibrationwizard.moc"
