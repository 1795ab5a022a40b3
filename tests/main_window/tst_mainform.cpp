#include "styles.h"
#include "windowrig.h"

#include <QMenu>
#include <QSignalSpy>

#include <functional>

namespace {

using Action = std::function<void(WindowRig&)>;

void choose(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void type(QLineEdit* field, const QString& text)
{
    field->setFocus();
    field->setText(text);
    QTest::keyClick(field, Qt::Key_Return);
}

void toggle(QCheckBox* box)
{
    box->setChecked(!box->isChecked());
}

void pickMode(WindowRig& rig, int entry)
{
    rig.ui().buttonMode->menu()->actions().at(entry)->trigger();
}

void dispenseTime(WindowRig& rig, const QString& h, const QString& m, const QString& s)
{
    rig.ui().lineEditTimeHour->setText(h);
    rig.ui().lineEditTimeMin->setText(m);
    type(rig.ui().lineEditTimeSec, s);
}

constexpr int FlowRateEntry = 0;
constexpr int VolumeEntry = 1;

} // namespace

Q_DECLARE_METATYPE(Action)

// The window's controls, wired to the real command stack, checked by what the pump received.
class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void commandsReachThePump_data();
    void commandsReachThePump();
    void onlyOneInputHoldsStartStop_data();
    void onlyOneInputHoldsStartStop();
    void checkByteOptionsFalsifyTheFrame_data();
    void checkByteOptionsFalsifyTheFrame();
    void changeTimeKeepsTheTimeInRange_data();
    void changeTimeKeepsTheTimeInRange();
    void addressSearchFindsThePump();
    void calibrationChoiceStaysShown();
    void runButtonsShowTheStateInEffect_data();
    void runButtonsShowTheStateInEffect();
    void stressModeOnlyFromTheNormalPace();
    void firstExtraPortIsChosenAndStored();
    void storedAddressOutsideTheBusSelectsZero_data();
    void storedAddressOutsideTheBusSelectsZero();
    void closingWithAFieldInEditIsSafe();
};

void TestMainForm::commandsReachThePump_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<QString>("userAction");
    const QString invalid = QStringLiteral("INVALID VALUE");
    using L = QList<QByteArray>;
    auto row = [](const char* name, Action action, L expected, const QString& note = {}) {
        QTest::newRow(name) << action << expected << note;
    };

    // The first digital-output choice after start only records what the combo shows, so this
    // row must come before any other use of the digital output in this process.
    row("digital output: first choice recorded, repeat ignored, change sent",
        [](WindowRig& r) {
            choose(r.ui().comboDigOut, 2);
            choose(r.ui().comboDigOut, 3);
            choose(r.ui().comboDigOut, 3);
        },
        {"00RS3"});

    row("start", [](WindowRig& r) { r.ui().buttonStart->click(); }, {"00KY1"});
    row("stop", [](WindowRig& r) { r.ui().buttonStop->click(); }, {"00KY0"});
    row("prime", [](WindowRig& r) { r.ui().buttonPrime->click(); }, {"00KY2"});
    row("pause", [](WindowRig& r) { r.ui().buttonPause->click(); }, {"00KY3"});

    row("flow rate 12.345", [](WindowRig& r) { type(r.ui().lineEditVolume, "12.345"); },
        {"00RV00012345"});
    row("volume 12.345",
        [](WindowRig& r) {
            pickMode(r, VolumeEntry);
            type(r.ui().lineEditVolume, "12.345");
        },
        {"00MS1", "00DV00012345"});
    row("volume 12.3456 truncated",
        [](WindowRig& r) {
            pickMode(r, VolumeEntry);
            type(r.ui().lineEditVolume, "12.3456");
        },
        {"00MS1", "00DV00012345"});
    row("flow rate with decimal comma", [](WindowRig& r) { type(r.ui().lineEditVolume, "12,5"); },
        {"00RV00012500"});
    row("volume typo sends nothing",
        [](WindowRig& r) {
            pickMode(r, VolumeEntry);
            type(r.ui().lineEditVolume, "12,5x");
        },
        {"00MS1"}, invalid);
    row("flow rate beyond the pump's number", [](WindowRig& r) { type(r.ui().lineEditVolume, "3e6"); },
        {}, invalid);
    row("negative flow rate is the pump's to refuse", [](WindowRig& r) { type(r.ui().lineEditVolume, "-5"); },
        {"00RV000-5000"});

    row("dispense time 01:02:03", [](WindowRig& r) { dispenseTime(r, "01", "02", "03"); },
        {"00DT01020300"});
    row("dispense time typo sends nothing", [](WindowRig& r) { dispenseTime(r, "01", "02", "3x"); },
        {}, invalid);
    row("break time 2 min 5 s",
        [](WindowRig& r) {
            r.ui().lineEditBreakTimeMin->setText("2");
            type(r.ui().lineEditBreakTimeSec, "5");
        },
        {"00DB00125"});
    row("cycles 7", [](WindowRig& r) { type(r.ui().lineEditCycles, "7"); }, {"00DN00007"});
    row("cycles shown as endless", [](WindowRig& r) { type(r.ui().lineEditCycles, "INF"); },
        {"00DN01000"});
    row("cycles with decimals sends nothing", [](WindowRig& r) { type(r.ui().lineEditCycles, "7.5"); },
        {}, invalid);

    row("calibration volume 2,5", [](WindowRig& r) { type(r.ui().lineEditCalVolume, "2,5"); },
        {"00CF00002500"});
    row("factory calibration volume 3",
        [](WindowRig& r) { type(r.ui().lineEditFactoryCalVolume, "3"); }, {"00ZR!00003000"});
    row("factory stroke volume 20.2",
        [](WindowRig& r) { type(r.ui().lineEditFactoryPumpStrokeVolume, "20.2"); },
        {"00ZF!00202"});
    row("factory stroke volume typo",
        [](WindowRig& r) { type(r.ui().lineEditFactoryPumpStrokeVolume, "x"); }, {}, invalid);

    row("analog input entries",
        [](WindowRig& r) {
            for (int index : {1, 2, 3, 4, 0})
                choose(r.ui().comboAnalIn, index);
        },
        {"00RA0", "00RA3", "00RA1", "00RA2", "00RA9"});
    row("digital input 1 edge start/stop", [](WindowRig& r) { choose(r.ui().comboDigIn1, 2); },
        {"00L106"});
    row("digital input 2 entries",
        [](WindowRig& r) {
            for (int index : {3, 4, 5, 0})
                choose(r.ui().comboDigIn2, index);
        },
        {"00L208", "00L209", "00L210", "00L200"});
    row("same language twice sent once",
        [](WindowRig& r) {
            choose(r.ui().comboLanguage, 3);
            choose(r.ui().comboLanguage, 3);
        },
        {"00LS3"});
    row("calibration 80.0 % twice sent once",
        [](WindowRig& r) {
            choose(r.ui().comboCalPercent, 0);
            choose(r.ui().comboCalPercent, 0);
        },
        {"00CH08000"});
    row("calibration 100.0 % and 120.0 %",
        [](WindowRig& r) {
            choose(r.ui().comboCalPercent, 200);
            choose(r.ui().comboCalPercent, 400);
        },
        {"00CH10000", "00CH12000"});
    row("autostart on and off",
        [](WindowRig& r) {
            toggle(r.ui().checkboAutostart);
            toggle(r.ui().checkboAutostart);
        },
        {"00SA1", "00SA0"});
    row("fluid type", [](WindowRig& r) { choose(r.ui().comboTypeFluid, 2); }, {"00CC2"});
    row("contrast", [](WindowRig& r) { choose(r.ui().comboContrast, 55); }, {"00LC055"});
    row("protocol answer off", [](WindowRig& r) { toggle(r.ui().checkboProtAnswer); }, {"00SP0"});
    row("pump address", [](WindowRig& r) { choose(r.ui().comboPumpAddress, 5); }, {"00AD05"});
    row("communication address then test",
        [](WindowRig& r) {
            choose(r.ui().comboCommAddress, 3);
            r.ui().buttonTestComm->click();
        },
        {"03?SI"});
    row("test", [](WindowRig& r) { r.ui().buttonTestComm->click(); }, {"00?SI"});
    row("typed command",
        [](WindowRig& r) {
            r.ui().lineEditDiscreteCommand->setText("?DV");
            QTest::keyClick(r.ui().lineEditDiscreteCommand, Qt::Key_Return);
        },
        {"00?DV"});
    row("factory defaults", [](WindowRig& r) { r.ui().buttonDefaults->click(); }, {"00IP"});
    row("maintenance position", [](WindowRig& r) { r.ui().buttonMaintenancePos->click(); },
        {"00MP1"});
    row("factory mode", [](WindowRig& r) { toggle(r.ui().checkboFactoryMode); }, {"00PF!1"});
    row("pump model", [](WindowRig& r) { choose(r.ui().comboPumpModel, 3); }, {"00PM!3"});
    row("mode menu",
        [](WindowRig& r) {
            pickMode(r, VolumeEntry);
            pickMode(r, FlowRateEntry);
        },
        {"00MS1", "00MS0"});
}

void TestMainForm::commandsReachThePump()
{
    QFETCH(Action, action);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(QString, userAction);

    WindowRig rig;
    QVERIFY2(rig.pump.isRunning(), qPrintable(rig.pump.errorString()));
    rig.ui().labelUserAction->clear();
    action(rig);
    QCOMPARE(rig.bodiesUntilMarker(), expected);
    QCOMPARE(rig.ui().labelUserAction->text(), userAction);
}

void TestMainForm::onlyOneInputHoldsStartStop_data()
{
    QTest::addColumn<int>("firstInput");
    QTest::addColumn<int>("secondEntry");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<int>("firstInputShows");

    QTest::newRow("input 1 edge, then input 2 level") << 1 << 1 << QList<QByteArray>{"00L106", "00L201"} << 0;
    QTest::newRow("input 1 edge, then input 2 reset") << 1 << 3 << QList<QByteArray>{"00L106", "00L208"} << 2;
    QTest::newRow("input 2 level, then input 1 edge") << 2 << 2 << QList<QByteArray>{"00L201", "00L106"} << 0;
}

void TestMainForm::onlyOneInputHoldsStartStop()
{
    QFETCH(int, firstInput);
    QFETCH(int, secondEntry);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(int, firstInputShows);

    WindowRig rig;
    QComboBox* first = firstInput == 1 ? rig.ui().comboDigIn1 : rig.ui().comboDigIn2;
    QComboBox* second = firstInput == 1 ? rig.ui().comboDigIn2 : rig.ui().comboDigIn1;
    choose(first, firstInput == 1 ? 2 : 1);
    choose(second, secondEntry);
    QCOMPARE(rig.bodiesUntilMarker(), expected);
    QCOMPARE(first->currentIndex(), firstInputShows);
    QCOMPARE(second->currentIndex(), secondEntry);
}

void TestMainForm::checkByteOptionsFalsifyTheFrame_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("checkByteXor");
    QTest::addColumn<bool>("unused");
    QTest::newRow("incorrect") << "checkboIncorrectLRC" << 0x55 << false;
    QTest::newRow("unused") << "checkboUnusedLRC" << 0 << true;
}

void TestMainForm::checkByteOptionsFalsifyTheFrame()
{
    QFETCH(QString, option);
    QFETCH(int, checkByteXor);
    QFETCH(bool, unused);

    WindowRig rig;
    auto* box = rig.window->findChild<QCheckBox*>(option);
    QVERIFY(box);
    box->setChecked(true);
    // Test drops whatever is still queued: let the option reach the link first.
    QTRY_COMPARE(rig.stack.queuedCount(), 0);
    rig.ui().buttonTestComm->click();
    QVERIFY(rig.waitForBody("00?SI"));
    const QByteArray frame = rig.pump.receivedFrames().constLast();
    quint8 good = 0;
    for (char c : frame.left(frame.size() - 1))
        good ^= quint8(c);
    const quint8 sent = quint8(frame.back());
    QCOMPARE(sent, unused ? quint8('U') : quint8(good ^ checkByteXor));
}

void TestMainForm::changeTimeKeepsTheTimeInRange_data()
{
    // Each step types a text into one field ("h", "m" or "s"), starting from 00:00:00.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("shown");
    using S = QStringList;
    QTest::newRow("field by field") << S{"h=1", "m=2", "s=3"} << S{"01", "02", "03"};
    QTest::newRow("seconds carry") << S{"s=90"} << S{"00", "01", "30"};
    QTest::newRow("minutes carry") << S{"m=75"} << S{"01", "15", "00"};
    QTest::newRow("100 hours clamp") << S{"h=100"} << S{"99", "59", "59"};
    QTest::newRow("negative clamps to zero") << S{"h=1", "s=-3700"} << S{"00", "00", "00"};
    QTest::newRow("negative field borrows") << S{"h=1", "s=-1"} << S{"00", "59", "59"};
    QTest::newRow("empty counts as zero") << S{"m=5", "m="} << S{"00", "00", "00"};
    QTest::newRow("typo left for the user") << S{"h=1", "s=3x"} << S{"01", "00", "3x"};
    QTest::newRow("huge number clamps") << S{"h=99999999999999"} << S{"99", "59", "59"};
}

void TestMainForm::changeTimeKeepsTheTimeInRange()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, shown);

    WindowRig rig(WindowRig::withoutPump());
    const QHash<QString, QLineEdit*> fields{{"h", rig.ui().lineEditTimeHour},
                                             {"m", rig.ui().lineEditTimeMin},
                                             {"s", rig.ui().lineEditTimeSec}};
    for (QLineEdit* field : fields)
        field->setText("00");
    QSignalSpy secondsChanged(rig.ui().lineEditTimeSec, &QLineEdit::textChanged);
    int secondsTyped = 0;
    for (const QString& step : steps) {
        fields.value(step.section(u'=', 0, 0))->setText(step.section(u'=', 1));
        secondsTyped += step.startsWith(u's') ? 1 : 0;
    }
    const QStringList result{rig.ui().lineEditTimeHour->text(), rig.ui().lineEditTimeMin->text(),
                             rig.ui().lineEditTimeSec->text()};
    QCOMPARE(result, shown);
    // Rewriting the fields reports no text change of its own, so changeTime never re-enters.
    QCOMPARE(secondsChanged.count(), secondsTyped);
}

void TestMainForm::addressSearchFindsThePump()
{
    WindowRig::Options options;
    options.pumpAddress = 7;
    WindowRig rig(options);
    QVERIFY(rig.pump.isRunning());

    rig.ui().buttonSearchPump->click();
    QCOMPARE(rig.stack.queuedCount(), 99 * 3 + 2);

    QTRY_COMPARE_WITH_TIMEOUT(rig.ui().comboCommAddress->currentIndex(), 7, 20000);
    QCOMPARE(rig.ui().labelLocatedAddressIndicator->text(), QStringLiteral("7"));
    const QSettings stored(Constants::OrganisationName, Constants::ApplicationName);
    QCOMPARE(stored.value(rig.window->settingsPrefix() + "/Communication/Address").toInt(), 7);

    // The search stopped at the first answer: nothing was sent to address 8, and the rest of
    // the 299 commands were dropped.
    const QList<QByteArray> sent = rig.bodiesUntilMarker();
    QVERIFY(sent.contains("07?SI"));
    QVERIFY(!sent.contains("08?SI"));
    QVERIFY(!sent.contains("08SP1"));
    QCOMPARE(sent.count("00SP1"), 1);
    QCOMPARE(rig.stack.queuedCount(), 0);
    // Polling and the display run again.
    QVERIFY(rig.window->timer().isActive() == !rig.ui().checkboNoDataUpdate->isChecked());
}

void TestMainForm::calibrationChoiceStaysShown()
{
    WindowRig rig;
    choose(rig.ui().comboCalPercent, 57);
    rig.ui().comboCalPercent->clearFocus();
    // The first display update after the pump answered drops the queue: send first.
    QVERIFY(rig.waitForBody("00CH08570"));
    // The display shows the choice from the window's own record until the pump is polled.
    rig.window->triggerUpdateValues();
    QCOMPARE(rig.ui().comboCalPercent->currentIndex(), 57);
}

void TestMainForm::runButtonsShowTheStateInEffect_data()
{
    // Expected look per button (start, pause, stop, prime): A active, I idle, then the square
    // side if any (L or R).
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("looks");
    QTest::newRow("start") << "buttonStart" << QStringList{"A", "A", "I", "I"};
    QTest::newRow("stop") << "buttonStop" << QStringList{"I", "I", "A", "I"};
    QTest::newRow("pause") << "buttonPause" << QStringList{"AR", "AL", "IL", "IR"};
    QTest::newRow("prime") << "buttonPrime" << QStringList{"IR", "IL", "IL", "AR"};
}

void TestMainForm::runButtonsShowTheStateInEffect()
{
    QFETCH(QString, button);
    QFETCH(QStringList, looks);

    WindowRig rig(WindowRig::withoutPump());
    rig.window->findChild<QPushButton*>(button)->click();
    const QPushButton* buttons[] = {rig.ui().buttonStart, rig.ui().buttonPause,
                                    rig.ui().buttonStop, rig.ui().buttonPrime};
    for (int i = 0; i < 4; ++i) {
        const QString look = looks.at(i);
        QString expected = Styles::styleButtonBase
            + (look.startsWith(u'A') ? Styles::styleButtonActive : Styles::styleButtonIdle);
        if (look.endsWith(u'L'))
            expected += Styles::styleSquareLeft;
        if (look.endsWith(u'R'))
            expected += Styles::styleSquareRight;
        QVERIFY2(buttons[i]->styleSheet() == expected, qPrintable(buttons[i]->objectName()));
    }
}

void TestMainForm::stressModeOnlyFromTheNormalPace()
{
    {
        // While the pump is silent the display runs at 500 ms; the stress mode stays out.
        WindowRig silent(WindowRig::withoutPump());
        silent.ui().checkboNoDataUpdate->setChecked(false);
        silent.ui().buttonStressTest->click();
        QCOMPARE(silent.window->timer().interval(), 500);
        QVERIFY(silent.window->timer().isActive());
    }
    WindowRig::Options options;
    options.polling = true;
    WindowRig rig(options);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.window->isConnectionLost(), 10000);
    QTRY_COMPARE(rig.window->timer().interval(), 100);
    rig.ui().buttonStressTest->click();
    QCOMPARE(rig.window->timer().interval(), 10);
    QVERIFY(rig.window->timer().isActive());
    rig.ui().buttonStressTest->click();
    QCOMPARE(rig.window->timer().interval(), 100);
}

void TestMainForm::firstExtraPortIsChosenAndStored()
{
    WindowRig::Options options;
    options.extraPorts = {QStringLiteral("/nonexistent/ttyOther")};
    WindowRig rig(options);
    // The rig puts its pump's device first; the other extra path is listed but not chosen.
    QVERIFY(rig.communication.isOpen());
    QVERIFY(!rig.communication.portPath().isEmpty());
    QVERIFY(rig.pump.devicePath().endsWith(rig.communication.portPath()));
    QCOMPARE(rig.window->storedPortName(), rig.pump.devicePath());
    QVERIFY(!rig.ui().listWidgetComPorts->findItems("/nonexistent/ttyOther", Qt::MatchExactly).isEmpty());
}

void TestMainForm::storedAddressOutsideTheBusSelectsZero_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("shown");
    QTest::newRow("250") << QVariant(250) << 0;
    QTest::newRow("-3") << QVariant(-3) << 0;
    QTest::newRow("not a number") << QVariant("x7") << 0;
    QTest::newRow("99") << QVariant(99) << 99;
    QTest::newRow("42") << QVariant(42) << 42;
}

void TestMainForm::storedAddressOutsideTheBusSelectsZero()
{
    QFETCH(QVariant, stored);
    WindowRig::Options options = WindowRig::withoutPump();
    options.storedSettings = {{Constants::AddressSettingsKey, stored}};
    WindowRig rig(options);
    QTEST(rig.ui().comboCommAddress->currentIndex(), "shown");
}

void TestMainForm::closingWithAFieldInEditIsSafe()
{
    // Closing the program while the user is typing: the field's last edit must not reach the
    // half-destroyed window.
    WindowRig rig(WindowRig::withoutPump());
    rig.window->show();
    QApplication::setActiveWindow(rig.window.get());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    rig.ui().lineEditVolume->setFocus();
    QTRY_VERIFY(rig.ui().lineEditVolume->hasFocus());
    rig.ui().lineEditVolume->setText(QStringLiteral("12.5"));
    const int queuedBefore = rig.stack.queuedCount();
    rig.window.reset();
    QCOMPARE(rig.stack.queuedCount(), queuedBefore);
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
