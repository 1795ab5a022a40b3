// The cyclic display update on a real window: link state, connection supervision and every
// value the window shows, driven tick by tick.

#include "windowrig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include <memory>

namespace Table = BusinessLogic::CommandTable;

class DisplayUpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();

    void fadesAfterAcceptance_data();
    void fadesAfterAcceptance();
    void disconnectsAfterTenSilentTicks_data();
    void disconnectsAfterTenSilentTicks();
    void recoversOnTheProbesAnswer();
    void titleFollowsThePortChoice();
    void targetValueHasFourSignificantDigits_data();
    void targetValueHasFourSignificantDigits();
    void modelSetsVersionAndLimits_data();
    void modelSetsVersionAndLimits();
    void timeShowsRemainingOrElapsed_data();
    void timeShowsRemainingOrElapsed();
    void runButtonsFollowTheMotor();
    void statusMarks_data();
    void statusMarks();
    void cycles_data();
    void cycles();
    void comboIndexes_data();
    void comboIndexes();
    void autostartIsNotSentBackButProtocolAnswerIs();
    void focusedFieldIsLeftAlone();

private:
    Ui::mainScreen& ui() { return rig->ui(); }
    void tick() { rig->window->triggerUpdateValues(); }
    void feed(BusinessLogic::CommandSpezifier spezifier, const QByteArray& data)
    {
        rig->window->feedAnswer(Answer{spezifier, data});
    }
    // ack, nak, nothing received, address-only frame: as GetCommRxState reports them.
    void setLinkState(const QByteArray& flags)
    {
        Communication& link = rig->communication;
        link.ackReceived = flags.at(0) == '1';
        link.nakReceived = flags.at(1) == '1';
        link.noAnswer = flags.at(2) == '1';
        link.addressOnlyAnswer = flags.at(3) == '1';
    }
    static bool isLit(const QLabel* icon)
    {
        static const QImage green =
            QPixmap(QStringLiteral(":/Images/Images/1406229038_bullet-green.png")).toImage();
        return icon->pixmap().toImage() == green;
    }

    std::unique_ptr<WindowRig> rig;
    QByteArray rigKey;
};

// One window per test function (the rows of a function share it and set what they need); the
// disconnection rows differ in whether a pump is there at all.
void DisplayUpdateTest::init()
{
    const QByteArray function = QTest::currentTestFunction();
    const bool withoutPump = function == "disconnectsAfterTenSilentTicks"
                             && QByteArray(QTest::currentDataTag()) == "no port";
    const QByteArray key = function + (withoutPump ? "/no port" : "");
    if (rig && key == rigKey && function != "disconnectsAfterTenSilentTicks")
        return;
    rig.reset();
    WindowRig::Options options;
    options.withPump = !withoutPump;
    rig = std::make_unique<WindowRig>(options);
    rigKey = key;
}

void DisplayUpdateTest::cleanupTestCase()
{
    rig.reset();
}

void DisplayUpdateTest::fadesAfterAcceptance_data()
{
    QTest::addColumn<QByteArray>("flags");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("colour");
    QTest::newRow("ACK") << QByteArray("1000") << "COMMAND ACCEPTED" << "0,149,216";
    QTest::newRow("NAK") << QByteArray("0100") << "COMMAND NOT ACCEPTED (RANGE)" << "255,0,0";
}

void DisplayUpdateTest::fadesAfterAcceptance()
{
    QFETCH(QByteArray, flags);
    QFETCH(QString, text);
    QFETCH(QString, colour);
    const auto style = [&colour](int alpha) {
        return QStringLiteral("color:rgba(%1,%2%);").arg(colour).arg(alpha);
    };

    ui().labelUserAction->setText(QStringLiteral("INVALID VALUE"));
    setLinkState(flags);
    tick();
    QCOMPARE(ui().labelTransmissionState->text(), text);
    QCOMPARE(ui().labelTransmissionState->styleSheet(), style(100));
    QCOMPARE(ui().labelConnectionState->text(), QStringLiteral("PUMP CONNECTED"));
    QCOMPARE(ui().labelConnectionState->styleSheet(), QStringLiteral("color:rgb(0,149,216);"));
    QCOMPARE(ui().labelUserAction->text(), QString());

    // A frame answer afterwards neither renews nor clears the text: it fades in 25 steps.
    setLinkState("0000");
    for (int alpha = 96; alpha >= 0; alpha -= 4) {
        tick();
        QCOMPARE(ui().labelTransmissionState->styleSheet(), style(alpha));
    }
    tick();
    QCOMPARE(ui().labelTransmissionState->styleSheet(), style(0));
    QCOMPARE(ui().labelTransmissionState->text(), text);
}

void DisplayUpdateTest::disconnectsAfterTenSilentTicks_data()
{
    QTest::addColumn<QString>("portText");
    QTest::newRow("port open") << "(PORT opend)";
    QTest::newRow("no port") << "(PORT unavailable)";
}

void DisplayUpdateTest::disconnectsAfterTenSilentTicks()
{
    QFETCH(QString, portText);
    const QString disconnected = QStringLiteral("PUMP DISCONNECTED ") + portText;
    // A pump that has answered once ...
    setLinkState("0001");
    tick();
    QVERIFY(!rig->window->isConnectionLost());
    ui().labelTransmissionState->setText(QStringLiteral("COMMAND ACCEPTED"));
    ui().checkboNoDataUpdate->setChecked(false);

    // ... is tolerated nine silent ticks.
    setLinkState("0010");
    for (int i = 1; i < 10; ++i) {
        tick();
        QCOMPARE(ui().labelConnectionState->text(), QStringLiteral("PUMP CONNECTED"));
    }
    QVERIFY(!rig->window->isConnectionLost());

    rig->stack.addCommand(rig->table.at(Table::getVolume.spezifier), 0, false);
    rig->stack.addCommand(rig->table.at(Table::getFlowRate.spezifier), 0, false);
    tick();
    QCOMPARE(ui().labelConnectionState->text(), disconnected);
    QCOMPARE(ui().labelConnectionState->styleSheet(),
             QStringLiteral("color:rgb(255,100,0); font-size:12pt;"));
    QCOMPARE(ui().labelTransmissionState->text(), QString());
    QVERIFY(rig->window->isConnectionLost());
    // The queue holds nothing but the probe: SetCommAddress and ExecuteCommCheck.
    QCOMPARE(rig->stack.queuedCount(), 2);
    QVERIFY(rig->window->timer().isActive());
    QCOMPARE(rig->window->timer().interval(), 500);

    // Every further silent tick drops what queued up and probes anew.
    rig->stack.addCommand(rig->table.at(Table::getVolume.spezifier), 0, false);
    tick();
    QCOMPARE(rig->stack.queuedCount(), 2);
    QCOMPARE(ui().labelConnectionState->text(), disconnected);

    // A plain answer ends the lost state and the disconnection text, and drops what queued up
    // meanwhile (at most a new probe follows); only an acknowledge or an address-only frame
    // names the pump as connected.
    rig->stack.addCommand(rig->table.at(Table::getVolume.spezifier), 0, false);
    rig->stack.addCommand(rig->table.at(Table::getFlowRate.spezifier), 0, false);
    QCOMPARE(rig->stack.queuedCount(), 4);
    setLinkState("0000");
    tick();
    QVERIFY(!rig->window->isConnectionLost());
    QCOMPARE(ui().labelConnectionState->text(), QString());
    QVERIFY(rig->stack.queuedCount() <= 2);
    QCOMPARE(rig->window->timer().interval(), 100);
    setLinkState("0001");
    tick();
    QCOMPARE(ui().labelConnectionState->text(), QStringLiteral("PUMP CONNECTED"));
}

void DisplayUpdateTest::recoversOnTheProbesAnswer()
{
    // The pump goes quiet: the first real silence counts down to the disconnection ...
    rig->pump.modifyFaults([](Simulator::Faults& faults) { faults.silent = true; });
    ui().checkboNoDataUpdate->setChecked(false);
    rig->pump.clearLog();
    QTRY_VERIFY_WITH_TIMEOUT(rig->window->isConnectionLost()
                                 && ui().labelConnectionState->text().startsWith(
                                     QLatin1String("PUMP DISCONNECTED")),
                             5000);
    QCOMPARE(ui().labelConnectionState->text(), QStringLiteral("PUMP DISCONNECTED (PORT opend)"));
    QCOMPARE(rig->window->timer().interval(), 500);
    // ... and from then on the window probes the pump with a communication check.
    rig->pump.clearLog();
    QVERIFY(rig->waitForBody("00?SI", 2000));

    // The pump answers the next probe: the window is back at the normal pace.
    rig->pump.modifyFaults([](Simulator::Faults& faults) { faults.silent = false; });
    QTRY_VERIFY_WITH_TIMEOUT(!rig->window->isConnectionLost(), 3000);
    QCOMPARE(rig->window->timer().interval(), 100);
    QVERIFY(!ui().labelConnectionState->text().startsWith(QLatin1String("PUMP DISCONNECTED")));

    // The countdown starts afresh: nine silent ticks do not yet count as lost.
    ui().checkboNoDataUpdate->setChecked(true);
    setLinkState("0010");
    for (int i = 1; i < 10; ++i)
        tick();
    QVERIFY(!rig->window->isConnectionLost());
    tick();
    QVERIFY(rig->window->isConnectionLost());
}

void DisplayUpdateTest::titleFollowsThePortChoice()
{
    const QString prefix = QStringLiteral("ZUL DOSEDESK  V1.0.4  (ADDR ");
    setLinkState("0000");
    tick();
    QCOMPARE(rig->window->windowTitle(), prefix + "0, " + rig->pump.devicePath() + ")");

    // Another device chosen in the list: the title shows the newly stored name.
    Simulator::PtyPump second;
    QVERIFY(second.start());
    ui().listWidgetComPorts->addExtraPort(second.devicePath());
    ui().listWidgetComPorts->selectPort(second.devicePath());
    ui().comboCommAddress->setCurrentIndex(7);
    tick();
    QCOMPARE(rig->window->windowTitle(), prefix + "7, " + second.devicePath() + ")");
}

void DisplayUpdateTest::targetValueHasFourSignificantDigits_data()
{
    QTest::addColumn<int>("runMode");
    QTest::addColumn<BusinessLogic::CommandSpezifier>("source");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("text");
    const BusinessLogic::CommandSpezifier flow = Table::getFlowRate.spezifier;
    const BusinessLogic::CommandSpezifier volume = Table::getVolume.spezifier;
    QTest::newRow("flow 12.5") << 0 << flow << QByteArray("12500") << "12.50";
    QTest::newRow("flow 0.5") << 0 << flow << QByteArray("500") << "0.5000";
    QTest::newRow("flow 100") << 2 << flow << QByteArray("100000") << "100.0";
    QTest::newRow("volume 1.234") << 1 << volume << QByteArray("1234") << "1.234";
    // A negative answer must not turn the number of decimals into nonsense.
    QTest::newRow("negative") << 0 << flow << QByteArray("-5000") << "-5.000";
}

void DisplayUpdateTest::targetValueHasFourSignificantDigits()
{
    QFETCH(int, runMode);
    QFETCH(BusinessLogic::CommandSpezifier, source);
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);
    feed(Table::getRunMode.spezifier, QByteArray::number(runMode));
    feed(source, answer);
    tick(); // the run mode chooses the source from the next tick on
    tick();
    QCOMPARE(ui().lineEditVolume->text(), text);
    QCOMPARE(ui().lineEditCalVolume->text(), text);
    QCOMPARE(ui().lineEditFactoryCalVolume->text(), text);
    QCOMPARE(ui().buttonMode->text(),
             runMode == 1 ? QStringLiteral("     ml     ") : QStringLiteral("   ml/min   "));
    QCOMPARE(ui().groupBoxEditVolFlow->title(),
             runMode == 1 ? QStringLiteral("Volume") : QStringLiteral("Flow rate"));
}

void DisplayUpdateTest::modelSetsVersionAndLimits_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<int>("runMode");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::newRow("VELOR 02 flow") << QByteArray("0010201015") << 0 << "VELOR 02" << "V1.15" << 0.03 << 20.0;
    QTest::newRow("VELOR 10 flow") << QByteArray("0011001023") << 0 << "VELOR 10" << "V1.23" << 1.0 << 100.0;
}

void DisplayUpdateTest::modelSetsVersionAndLimits()
{
    QFETCH(QByteArray, version);
    QFETCH(int, runMode);
    QFETCH(QString, model);
    QFETCH(QString, firmware);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    feed(Table::getRunMode.spezifier, QByteArray::number(runMode));
    // Start from a model with other limits, so that the change has to show.
    const bool small = model == QLatin1String("VELOR 02");
    feed(Table::getModelVersion.spezifier, small ? "0011001023" : "0010201015");
    tick();

    feed(Table::getModelVersion.spezifier, version);
    tick();
    QCOMPARE(ui().labelPumpModel->text(), model);
    QCOMPARE(ui().labelVersionHW->text(), model);
    QCOMPARE(ui().labelVersionFW->text(), firmware);
    // The limits follow the model of the previous tick.
    QCOMPARE(ui().lineEditVolume->minimum, small ? 1.0 : 0.03);
    tick();
    QCOMPARE(ui().lineEditVolume->minimum, minimum);
    QCOMPARE(ui().lineEditVolume->maximum, maximum);
}

void DisplayUpdateTest::timeShowsRemainingOrElapsed_data()
{
    QTest::addColumn<QByteArray>("target");  // hhmmss
    QTest::addColumn<QByteArray>("elapsed"); // hhmmsscc
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("remaining") << QByteArray("000100") << QByteArray("00003000")
                               << QStringList{"00", "00", "30"};
    QTest::newRow("elapsed") << QByteArray("000000") << QByteArray("00003000")
                             << QStringList{"00", "00", "30"};
    QTest::newRow("hundredths round up") << QByteArray("000000") << QByteArray("00003050")
                                         << QStringList{"00", "00", "31"};
    QTest::newRow("a whole minute left") << QByteArray("000200") << QByteArray("00010000")
                                         << QStringList{"00", "01", "00"};
    QTest::newRow("borrow over two units") << QByteArray("010000") << QByteArray("00003000")
                                           << QStringList{"00", "59", "30"};
}

void DisplayUpdateTest::timeShowsRemainingOrElapsed()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, elapsed);
    QFETCH(QStringList, shown);
    feed(Table::getDispenseTime.spezifier, target);
    feed(Table::getTimeActual.spezifier, elapsed);
    feed(Table::getPumpStatus.spezifier, "001 1");
    tick();
    QCOMPARE((QStringList{ui().labelTimeActualHour->text(), ui().labelTimeActualMin->text(),
                          ui().labelTimeActualSec->text()}),
             shown);

    // Standing still, the labels show the target again.
    feed(Table::getPumpStatus.spezifier, "000 1");
    tick();
    QCOMPARE(ui().labelTimeActualHour->text(), QString::fromLatin1(target.mid(0, 2)));
    QCOMPARE(ui().labelTimeActualMin->text(), QString::fromLatin1(target.mid(2, 2)));
    QCOMPARE(ui().labelTimeActualSec->text(), QString::fromLatin1(target.mid(4, 2)));
}

void DisplayUpdateTest::runButtonsFollowTheMotor()
{
    QStackedWidget* buttons = ui().stackedButtonStartPause;
    feed(Table::getPumpStatus.spezifier, "001 1");
    tick();
    QCOMPARE(buttons->currentWidget(), ui().pagePause);
    tick();
    QCOMPARE(buttons->currentWidget(), ui().pagePause);

    // With master stop active the time labels keep what they show.
    feed(Table::getPumpStatus.spezifier, "008 4");
    feed(Table::getTimeActual.spezifier, "00001200");
    tick();
    feed(Table::getPumpStatus.spezifier, "000 1");
    tick();
    QCOMPARE(buttons->currentWidget(), ui().pageStart);
    QCOMPARE(ui().labelTimeActualSec->text(), QStringLiteral("12"));
    QVERIFY(isLit(ui().labelMasterStopActiveIcon) == false);
}

void DisplayUpdateTest::statusMarks_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("lit"); // the marks of the page that light
    QTest::newRow("no error") << QByteArray("000 6") << QStringList{"labelErrorNoneIcon"};
    QTest::newRow("overpressure") << QByteArray("001 6") << QStringList{"labelErrorOverpressureIcon"};
    QTest::newRow("4-20 mA") << QByteArray("008 6") << QStringList{"labelError4_20mATooLowIcon"};
    QTest::newRow("power, motor, temperature")
        << QByteArray("112 6")
        << QStringList{"labelErrorPowerSupplyFailureIcon", "labelErrorMotorNotAdjIcon",
                       "labelErrorMaxTempExceededIcon"};
    QTest::newRow("no encoder") << QByteArray("128 6") << QStringList{"labelErrorNoEncoderSignalIcon"};
    QTest::newRow("both ends") << QByteArray("129 6")
                               << QStringList{"labelErrorOverpressureIcon", "labelErrorNoEncoderSignalIcon"};
    // Bits 1 and 2 light nothing of their own but still mean "not no error".
    QTest::newRow("unused bits") << QByteArray("006 6") << QStringList{};
    QTest::newRow("page 1 idle") << QByteArray("000 1") << QStringList{"labelDisplayOnIcon"};
    QTest::newRow("page 1 all") << QByteArray("007 1")
                                << QStringList{"labelMotorMotionIcon", "labelPumpFaultIcon"};
    QTest::newRow("page 2") << QByteArray("015 2")
                            << QStringList{"labelMotorAdjustedIcon", "labelInput1ActiveIcon",
                                           "labelInput2ActiveIcon", "labelMotorLowerDCIcon"};
    QTest::newRow("page 3") << QByteArray("001 3") << QStringList{"labelRunModeActiveIcon"};
    QTest::newRow("page 4 master stop") << QByteArray("001 4")
                                        << QStringList{"labelDispenseModeActiveIcon",
                                                       "labelMasterStopActiveIcon"};
    QTest::newRow("page 4 no master stop") << QByteArray("008 4") << QStringList{};
}

void DisplayUpdateTest::statusMarks()
{
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, lit);
    static const QHash<char, QStringList> marksOfPage = {
        {'1', {"labelMotorMotionIcon", "labelPumpFaultIcon", "labelDisplayOnIcon"}},
        {'2', {"labelMotorAdjustedIcon", "labelInput1ActiveIcon", "labelInput2ActiveIcon",
               "labelMotorLowerDCIcon"}},
        {'3', {"labelRunModeActiveIcon"}},
        {'4', {"labelDispenseModeActiveIcon", "labelMasterStopActiveIcon"}},
        {'6', {"labelErrorNoneIcon", "labelErrorOverpressureIcon", "labelError4_20mATooLowIcon",
               "labelErrorPowerSupplyFailureIcon", "labelErrorMotorNotAdjIcon",
               "labelErrorMaxTempExceededIcon", "labelErrorNoEncoderSignalIcon"}},
    };
    // Every mark of the page starts lit the other way round, so that each has to change.
    feed(Table::getPumpStatus.spezifier, QByteArray("255 ") + answer.back());
    tick();
    feed(Table::getPumpStatus.spezifier, answer);
    tick();
    QStringList shown;
    for (const QString& name : marksOfPage.value(answer.back())) {
        const auto* icon = rig->window->findChild<QLabel*>(name);
        QVERIFY2(icon, qPrintable(name));
        if (isLit(icon))
            shown.append(name);
    }
    QCOMPARE(shown, lit);
}

void DisplayUpdateTest::cycles_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("text");
    QTest::newRow("1") << QByteArray("1") << "OFF";
    QTest::newRow("2") << QByteArray("2") << "2";
    QTest::newRow("999") << QByteArray("999") << "999";
    QTest::newRow("1000") << QByteArray("1000") << "INF";
}

void DisplayUpdateTest::cycles()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);
    feed(Table::getDispenseVolumeNumber.spezifier, answer);
    feed(Table::getDispenseVolumeBreakTime.spezifier, "125");
    tick();
    QCOMPARE(ui().lineEditCycles->text(), text);
    QCOMPARE(ui().lineEditBreakTimeMin->text(), QStringLiteral("2"));
    QCOMPARE(ui().lineEditBreakTimeSec->text(), QStringLiteral("5"));
}

void DisplayUpdateTest::comboIndexes_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<BusinessLogic::CommandSpezifier>("source");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("index");
    const auto row = [](const char* name, const QString& combo,
                        BusinessLogic::CommandSpezifier source, const QByteArray& answer, int index) {
        QTest::newRow(name) << combo << source << answer << index;
    };
    row("analog 0", "comboAnalIn", Table::getAnalogInput.spezifier, "0", 1);
    row("analog 1", "comboAnalIn", Table::getAnalogInput.spezifier, "1", 3);
    row("analog 3", "comboAnalIn", Table::getAnalogInput.spezifier, "3", 2);
    row("analog off", "comboAnalIn", Table::getAnalogInput.spezifier, "9", 0);
    row("input 1 edge", "comboDigIn1", Table::getDigitalIn1.spezifier, "6", 2);
    row("input 2 reset", "comboDigIn2", Table::getDigitalIn2.spezifier, "8", 3);
    row("input 2 both", "comboDigIn2", Table::getDigitalIn2.spezifier, "10", 5);
    row("output 4", "comboDigOut", Table::getDigitalOut.spezifier, "4", 4);
    row("calibration 100 %", "comboCalPercent", Table::getCustCalPercent.spezifier, "10000", 200);
    row("language", "comboLanguage", Table::getLanguage.spezifier, "3", 3);
    row("contrast", "comboContrast", Table::getDisplayContrast.spezifier, "40", 40);
    row("fluid", "comboTypeFluid", Table::getPumpProfileCharactristic.spezifier, "2", 2);
    row("pump address", "comboPumpAddress", Table::getPumpAddress.spezifier, "17", 17);
    row("pump model", "comboPumpModel", Table::getPumpModel.spezifier, "5", 5);
}

void DisplayUpdateTest::comboIndexes()
{
    QFETCH(QString, combo);
    QFETCH(BusinessLogic::CommandSpezifier, source);
    QFETCH(QByteArray, answer);
    QFETCH(int, index);
    auto* box = rig->window->findChild<QComboBox*>(combo);
    QVERIFY(box);
    tick(); // past the first tick, which may find the pump again and probe it
    box->setCurrentIndex(index == 1 ? 2 : 1);
    const int queued = rig->stack.queuedCount();
    feed(source, answer);
    tick();
    QCOMPARE(box->currentIndex(), index);
    // A value shown is no value chosen: nothing goes back to the pump.
    QCOMPARE(rig->stack.queuedCount(), queued);
}

void DisplayUpdateTest::autostartIsNotSentBackButProtocolAnswerIs()
{
    tick(); // past the first tick, which may find the pump again and probe it
    const int queued = rig->stack.queuedCount();
    feed(Table::getAutostart.spezifier, "1");
    tick();
    QVERIFY(ui().checkboAutostart->isChecked());
    QCOMPARE(rig->stack.queuedCount(), queued);
    QVERIFY(!ui().checkboAutostart->signalsBlocked());

    // The protocol-answer box stays connected: the state shown is queued for the pump.
    feed(Table::getProtocolAnswer.spezifier, "0");
    tick();
    QVERIFY(!ui().checkboProtAnswer->isChecked());
    QCOMPARE(rig->stack.queuedCount(), queued + 1);
}

void DisplayUpdateTest::focusedFieldIsLeftAlone()
{
    rig->window->show();
    QApplication::setActiveWindow(rig->window.get());
    QVERIFY(QTest::qWaitForWindowActive(rig->window.get()));
    ui().TabsExtendedSettings->show();
    ui().TabsExtendedSettings->setCurrentWidget(ui().tabCyclic);
    ui().lineEditCycles->setFocus();
    QTRY_VERIFY(ui().lineEditCycles->hasFocus());
    ui().lineEditCycles->setText(QStringLiteral("7"));

    feed(Table::getDispenseVolumeNumber.spezifier, "5");
    feed(Table::getDispenseVolumeBreakTime.spezifier, "65");
    tick();
    QCOMPARE(ui().lineEditCycles->text(), QStringLiteral("7"));
    QCOMPARE(ui().lineEditBreakTimeMin->text(), QStringLiteral("1"));

    // Leaving the field sends what was typed; from then on the pump's value shows again.
    ui().lineEditBreakTimeSec->setFocus();
    QTRY_VERIFY(ui().lineEditBreakTimeSec->hasFocus());
    feed(Table::getDispenseVolumeNumber.spezifier, "5");
    feed(Table::getDispenseVolumeBreakTime.spezifier, "70");
    tick();
    QCOMPARE(ui().lineEditCycles->text(), QStringLiteral("5"));
    QCOMPARE(ui().lineEditBreakTimeMin->text(), QStringLiteral("1"));
    QCOMPARE(ui().lineEditBreakTimeSec->text(), QStringLiteral("5"));
}

QTEST_MAIN(DisplayUpdateTest)
#include "tst_displayupdate.moc"
