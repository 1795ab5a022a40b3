// The cyclic display update on a real window: link state, connection supervision and every
// value the window shows, driven tick by tick.

#include "windowrig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
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
    void targetValueHasFourSignificantDigits_data();
    void targetValueHasFourSignificantDigits();
    void timeShowsRemainingOrElapsed_data();
    void timeShowsRemainingOrElapsed();
    void statusMarks_data();
    void statusMarks();
    void cycles_data();
    void cycles();
    void controlsFollowThePump_data();
    void controlsFollowThePump();

private:
    Ui::mainScreen& ui() { return rig->ui(); }
    // One display tick, after one exchange of the state set by setLinkState, if any.
    void tick()
    {
        if (!linkFlags.isEmpty()) {
            using Verdict = BusinessLogic::CommandStack::Verdict;
            std::optional<Verdict> verdict;
            if (linkFlags.at(0) == '1')
                verdict = Verdict::Accepted;
            else if (linkFlags.at(1) == '1')
                verdict = Verdict::Refused;
            rig->stack.noteExchange(linkFlags.at(2) != '1', verdict, linkFlags.at(3) == '1');
            // "+": another command of the user's went unanswered in the same tick.
            if (linkFlags.endsWith('+'))
                rig->stack.noteExchange(false, Verdict::NotAnswered);
        }
        rig->window->triggerUpdateValues();
    }
    void feed(BusinessLogic::CommandSpezifier spezifier, const QByteArray& data)
    {
        rig->window->feedAnswer(Answer{spezifier, data});
    }
    // ack, nak, nothing received, address-only frame: the exchange seen before every tick
    // from now on, for the rest of this window.
    void setLinkState(const QByteArray& flags) { linkFlags = flags; }
    static bool isLit(const QLabel* icon)
    {
        static const QImage green =
            QPixmap(QStringLiteral(":/Images/Images/1406229038_bullet-green.png")).toImage();
        return icon->pixmap().toImage() == green;
    }

    std::unique_ptr<WindowRig> rig;
    QByteArray rigKey;
    QByteArray linkFlags;
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
    // The test plays the line's part (what each tick's exchanges got); the queue runs only
    // when it lets it.
    options.lineThread = false;
    rig = std::make_unique<WindowRig>(options);
    rigKey = key;
}

void DisplayUpdateTest::cleanupTestCase()
{
    rig.reset();
    linkFlags.clear();
}

void DisplayUpdateTest::fadesAfterAcceptance_data()
{
    QTest::addColumn<QByteArray>("flags");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("colour");
    QTest::newRow("ACK") << QByteArray("1000") << "COMMAND ACCEPTED" << "0,149,216";
    QTest::newRow("NAK") << QByteArray("0100") << "COMMAND NOT ACCEPTED (RANGE)" << "255,0,0";
    QTest::newRow("NAK beside no answer") << QByteArray("0100+") << "COMMAND NOT ACCEPTED (RANGE)"
                                          << "255,0,0";
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
    // A note on a typed value outlives the polling, the pump's address-only answers included.
    ui().labelUserAction->setText(QStringLiteral("INVALID VALUE"));
    setLinkState("0001");
    tick();
    QCOMPARE(ui().labelUserAction->text(), QStringLiteral("INVALID VALUE"));
}

void DisplayUpdateTest::disconnectsAfterTenSilentTicks_data()
{
    QTest::addColumn<QString>("portText");
    QTest::newRow("port open") << "(PORT open)";
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
    ui().labelUserAction->setText(QStringLiteral("INVALID VALUE"));
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
    QCOMPARE(ui().labelUserAction->text(), QString());
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
    // ... and leaves the focus in a field being typed into.
    rig->window->show();
    QVERIFY(QTest::qWaitForWindowActive(rig->window.get()));
    ui().lineEditCycles->setFocus();
    QVERIFY(QTest::qWaitFor([this] { return ui().lineEditCycles->hasFocus(); }));
    setLinkState("0000");
    tick();
    QVERIFY(ui().lineEditCycles->hasFocus());
    QVERIFY(!rig->window->isConnectionLost());
    QCOMPARE(ui().labelConnectionState->text(), QString());
    QVERIFY(rig->stack.queuedCount() <= 2);
    QCOMPARE(rig->window->timer().interval(), 100);
    setLinkState("0001");
    tick();
    QCOMPARE(ui().labelConnectionState->text(), QStringLiteral("PUMP CONNECTED"));
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
    // The calibration fields show only what the user typed there.
    QVERIFY(ui().lineEditCalVolume->text().isEmpty());
    QVERIFY(ui().lineEditFactoryCalVolume->text().isEmpty());
    QCOMPARE(ui().buttonMode->text(),
             runMode == 1 ? QStringLiteral("     ml     ") : QStringLiteral("   ml/min   "));
    QCOMPARE(ui().groupBoxEditVolFlow->title(),
             runMode == 1 ? QStringLiteral("Volume") : QStringLiteral("Flow rate"));
}

void DisplayUpdateTest::timeShowsRemainingOrElapsed_data()
{
    QTest::addColumn<QByteArray>("target");  // hhmmss
    QTest::addColumn<QByteArray>("elapsed"); // hhmmsscc
    QTest::addColumn<QStringList>("shown");
    // Remaining 1:29.5, where the elapsed time would read 0:31.
    QTest::newRow("remaining") << QByteArray("000200") << QByteArray("00003050")
                               << QStringList{"00", "01", "30"};
    QTest::newRow("elapsed") << QByteArray("000000") << QByteArray("12343000")
                             << QStringList{"12", "34", "30"};
    QTest::newRow("hundredths round up") << QByteArray("000000") << QByteArray("00003050")
                                         << QStringList{"00", "00", "31"};
    QTest::newRow("a whole minute left") << QByteArray("000200") << QByteArray("00010000")
                                         << QStringList{"00", "01", "00"};
    QTest::newRow("borrow over two units") << QByteArray("010000") << QByteArray("00003000")
                                           << QStringList{"00", "59", "30"};
    QTest::newRow("59.6 s carry into the minutes")
        << QByteArray("000100") << QByteArray("00000040") << QStringList{"00", "01", "00"};
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

void DisplayUpdateTest::statusMarks_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("lit"); // the marks of the page that light
    QTest::newRow("no error") << QByteArray("000 6") << QStringList{"labelErrorNoneIcon"};
    QTest::newRow("overpressure") << QByteArray("001 6") << QStringList{"labelErrorOverpressureIcon"};
    QTest::newRow("4-20 mA") << QByteArray("008 6") << QStringList{"labelError4_20mATooLowIcon"};
    QTest::newRow("both ends") << QByteArray("129 6")
                               << QStringList{"labelErrorOverpressureIcon", "labelErrorNoEncoderSignalIcon"};
    // Bits 1 and 2 light nothing of their own but still mean "not no error".
    QTest::newRow("unused bits") << QByteArray("006 6") << QStringList{};
    QTest::newRow("page 2 input 1, lower DC") << QByteArray("010 2")
                                              << QStringList{"labelInput1ActiveIcon", "labelMotorLowerDCIcon"};
    QTest::newRow("page 1 idle") << QByteArray("000 1") << QStringList{"labelDisplayOnIcon"};
    QTest::newRow("page 1 all") << QByteArray("007 1")
                                << QStringList{"labelMotorMotionIcon", "labelPumpFaultIcon"};
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

void DisplayUpdateTest::controlsFollowThePump_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<BusinessLogic::CommandSpezifier>("source");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QVariant>("shown"); // combo index, check state or label text
    const auto row = [](const char* name, const QString& control,
                        BusinessLogic::CommandSpezifier source, const QByteArray& answer,
                        const QVariant& shown) {
        QTest::newRow(name) << control << source << answer << shown;
    };
    row("analog 0", "comboAnalIn", Table::getAnalogInput.spezifier, "0", 1);
    row("analog 1", "comboAnalIn", Table::getAnalogInput.spezifier, "1", 3);
    row("analog off", "comboAnalIn", Table::getAnalogInput.spezifier, "9", 0);
    row("input 1 edge", "comboDigIn1", Table::getDigitalIn1.spezifier, "6", 2);
    row("input 2 both", "comboDigIn2", Table::getDigitalIn2.spezifier, "10", 5);
    row("contrast", "comboContrast", Table::getDisplayContrast.spezifier, "40", 40);
    row("pump model", "comboPumpModel", Table::getPumpModel.spezifier, "5", 5);
    row("pump address", "comboPumpAddress", Table::getPumpAddress.spezifier, "7", 7);
    row("factory mode", "checkboFactoryMode", Table::getFactoryMode.spezifier, "1", true);
    // Model code in five digits, then the firmware version.
    row("model name", "labelPumpModel", Table::getModelVersion.spezifier, "0011001234",
        QStringLiteral("VELOR 10"));
    row("firmware", "labelVersionFW", Table::getModelVersion.spezifier, "0011001234",
        QStringLiteral("V1.234"));
}

void DisplayUpdateTest::controlsFollowThePump()
{
    QFETCH(QString, control);
    QFETCH(BusinessLogic::CommandSpezifier, source);
    QFETCH(QByteArray, answer);
    QFETCH(QVariant, shown);
    auto* widget = rig->window->findChild<QWidget*>(control);
    QVERIFY(widget);
    const char* property = qobject_cast<QComboBox*>(widget)   ? "currentIndex"
                           : qobject_cast<QCheckBox*>(widget) ? "checked"
                                                              : "text";
    tick(); // past the first tick, which may find the pump again and probe it
    {
        // Something else shown first, so that the answer has to change it.
        const QSignalBlocker blocker(widget);
        widget->setProperty(property, shown.typeId() == QMetaType::Bool  ? QVariant(!shown.toBool())
                                      : shown.typeId() == QMetaType::Int ? QVariant(shown.toInt() == 1 ? 2 : 1)
                                                                         : QVariant(QString()));
    }
    rig->pump.clearLog();
    feed(source, answer);
    tick();
    QCOMPARE(widget->property(property), shown);
    // A value shown is no value chosen: nothing goes back to the pump, readings aside.
    for (const QByteArray& body : rig->bodiesUntilMarker())
        QVERIFY2(body.mid(2).startsWith('?'), body.constData());
}

QTEST_MAIN(DisplayUpdateTest)
#include "tst_displayupdate.moc"
