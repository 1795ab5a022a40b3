#include "runview.h"
#include "windowrig.h"

#include <QDialogButtonBox>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryFile>

#include <algorithm>
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
    void checkByteOptionsFalsifyTheFrame_data();
    void checkByteOptionsFalsifyTheFrame();
    void addressSearchFindsThePump();
    void returnInAFieldPressesNoButton_data();
    void returnInAFieldPressesNoButton();
    void storedSettingsLoad_data();
    void storedSettingsLoad();
    void storedAddressIsSelected();
    void brokerSetInTheWindow_data();
    void brokerSetInTheWindow();
    void closingAsksWhileThePumpRuns_data();
    void closingAsksWhileThePumpRuns();
};

void TestMainForm::commandsReachThePump_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<QString>("userAction");
    using L = QList<QByteArray>;
    auto row = [](const char* name, Action action, L expected, const QString& note = {}) {
        QTest::newRow(name) << action << expected << note;
    };

    row("digital output: every choice sent",
        [](WindowRig& r) {
            choose(r.ui().comboDigOut, 2);
            choose(r.ui().comboDigOut, 3);
            choose(r.ui().comboDigOut, 3);
        },
        {"00RS2", "00RS3", "00RS3"});

    row("start", [](WindowRig& r) { r.ui().buttonStart->click(); }, {"00KY1"});
    row("pause, prime, stop",
        [](WindowRig& r) {
            r.ui().buttonPause->click();
            r.ui().buttonPrime->click();
            r.ui().buttonStop->click();
        },
        {"00KY3", "00KY2", "00KY0"});

    row("volume 12.3456 rounded, a typo refused",
        [](WindowRig& r) {
            pickMode(r, VolumeEntry);
            type(r.ui().lineEditVolume, "12.3456");
            type(r.ui().lineEditVolume, "12,5x");
        },
        {"00MS1", "00DV00012346"},
        "INVALID VALUE: \"12,5x\" is not a number; accepted: 0.03 to 999.9 ml");

    row("break time 2 min 5 s",
        [](WindowRig& r) {
            r.ui().lineEditBreakTimeMin->setText("2");
            type(r.ui().lineEditBreakTimeSec, "5");
        },
        {"00DB00125"});

    row("calibration volume 2,5", [](WindowRig& r) { type(r.ui().lineEditCalVolume, "2,5"); },
        {"00CF00002500"});
    row("factory calibration volume 3",
        [](WindowRig& r) { type(r.ui().lineEditFactoryCalVolume, "3"); }, {"00ZR!00003000"});
    row("factory stroke volume 20.2",
        [](WindowRig& r) { type(r.ui().lineEditFactoryPumpStrokeVolume, "20.2"); },
        {"00ZF!00202"});

    row("analog input entries",
        [](WindowRig& r) {
            for (int index : {1, 2, 3, 4, 0})
                choose(r.ui().comboAnalIn, index);
        },
        {"00RA0", "00RA3", "00RA1", "00RA2", "00RA9"});
    row("digital input 1 edge start/stop", [](WindowRig& r) { choose(r.ui().comboDigIn1, 2); },
        {"00L106"});
    row("input 2 takes start/stop from input 1: input 1 read back",
        [](WindowRig& r) {
            choose(r.ui().comboDigIn1, 2);
            choose(r.ui().comboDigIn2, 1);
        },
        {"00L106", "00L201", "00?L1"});
    row("digital input 2 entries",
        [](WindowRig& r) {
            for (int index : {3, 4, 5, 0})
                choose(r.ui().comboDigIn2, index);
        },
        {"00L208", "00L209", "00L210", "00L200"});
    row("same language twice sent twice",
        [](WindowRig& r) {
            choose(r.ui().comboLanguage, 3);
            choose(r.ui().comboLanguage, 3);
        },
        {"00LS3", "00LS3"});
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
    row("protocol answer off", [](WindowRig& r) { toggle(r.ui().checkboProtAnswer); }, {"00SP0"});
    row("pump address", [](WindowRig& r) { choose(r.ui().comboPumpAddress, 5); }, {"00AD05"});
    row("communication address then test",
        [](WindowRig& r) {
            choose(r.ui().comboCommAddress, 3);
            r.ui().buttonTestComm->click();
        },
        {"03?SI"});
    row("typed command",
        [](WindowRig& r) {
            r.ui().lineEditDiscreteCommand->setText("?DV");
            QTest::keyClick(r.ui().lineEditDiscreteCommand, Qt::Key_Return);
        },
        {"00?DV"});
    row("factory defaults", [](WindowRig& r) { r.ui().buttonDefaults->click(); }, {"00IP"});
    row("pump model", [](WindowRig& r) { choose(r.ui().comboPumpModel, 3); }, {"00PM!3"});
    row("mode menu",
        [](WindowRig& r) {
            pickMode(r, VolumeEntry);
            pickMode(r, FlowRateEntry);
            type(r.ui().lineEditVolume, "1");
        },
        {"00MS1", "00MS0", "00RV00001000"});
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

void TestMainForm::addressSearchFindsThePump()
{
    WindowRig::Options options;
    options.pumpAddress = 7;
    WindowRig rig(options);
    QVERIFY(rig.pump.isRunning());

    rig.ui().buttonSearchPump->click();
    rig.ui().buttonStop->click(); // meant for the pump the window is set to, not one probed

    QTRY_COMPARE_WITH_TIMEOUT(rig.ui().comboCommAddress->currentIndex(), 7, 20000);
    QCOMPARE(rig.ui().labelLocatedAddressIndicator->text(), QStringLiteral("7"));
    const QSettings stored(Constants::OrganisationName, Constants::ApplicationName);
    QCOMPARE(stored.value(rig.window->settingsPrefix() + "/Communication/Address").toInt(), 7);

    // The panel took the first pump that answered; the search went on to the last address,
    // to list every pump on the bus.
    QVERIFY(rig.waitUntil([&] { return !rig.session.search().isRunning(); }, 30000) >= 0);
    const QList<QByteArray> sent = rig.bodiesUntilMarker();
    QVERIFY(sent.contains("07?SI"));
    QVERIFY(sent.contains("98?SI"));
    QVERIFY(sent.indexOf("00KY0") >= 0 && sent.indexOf("00KY0") < sent.indexOf("07?SI"));
    const auto stops = [](const QByteArray& body) { return body.endsWith("KY0"); };
    QCOMPARE(std::count_if(sent.begin(), sent.end(), stops), 1);
    // Polling and the display run again.
    QVERIFY(rig.window->timer().isActive() == !rig.ui().checkboNoDataUpdate->isChecked());
}

void TestMainForm::returnInAFieldPressesNoButton_data()
{
    QTest::addColumn<QString>("button"); // had the focus last, before the field
    QTest::newRow("start") << "buttonStart";
    QTest::newRow("mode menu") << "buttonMode";
}

void TestMainForm::returnInAFieldPressesNoButton()
{
    WindowRig rig;
    rig.window->show();
    QApplication::setActiveWindow(rig.window.get());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    QFETCH(QString, button);
    rig.window->findChild<QPushButton*>(button)->setFocus();
    rig.ui().lineEditDiscreteCommand->setFocus();
    rig.ui().lineEditDiscreteCommand->setText(QStringLiteral("?DV"));
    QTest::keyClick(rig.ui().lineEditDiscreteCommand, Qt::Key_Return);
    QCOMPARE(rig.bodiesUntilMarker(), QList<QByteArray>{"00?DV"});
}

void TestMainForm::storedSettingsLoad_data()
{
    QTest::addColumn<QByteArray>("stored"); // copy 2's group, as earlier versions wrote it
    QTest::addColumn<int>("address");
    const QByteArray copy2 = "[DOSEDESK_INSTANCE_2]\nCommunication\\Port%29=tcp://lab:4001\n";
    QTest::newRow("99") << copy2 + "Communication\\Address=99" << 99;
    QTest::newRow("250") << copy2 + "Communication\\Address=250" << 0;
    QTest::newRow("not a number") << copy2 + "Communication\\Address=x7" << 0;
}

void TestMainForm::storedSettingsLoad()
{
    QFETCH(QByteArray, stored);
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(stored) == stored.size() && file.flush());
    GUI::PanelSettings loaded;
    loaded.load(QSettings(file.fileName(), QSettings::IniFormat), 2);
    QCOMPARE(loaded.port, QStringLiteral("tcp://lab:4001"));
    QTEST(loaded.address, "address");
}

void TestMainForm::storedAddressIsSelected()
{
    WindowRig::Options options = WindowRig::withoutPump();
    options.storedSettings = {{QStringLiteral("Communication/Address"), 99}};
    QCOMPARE(WindowRig(options).ui().comboCommAddress->currentIndex(), 99);
}

void TestMainForm::brokerSetInTheWindow_data()
{
    QTest::addColumn<QString>("broker");
    QTest::addColumn<QString>("stateLine"); // empty: the dialogue stays open with the reason
    QTest::addColumn<QString>("reason");
    // Nothing listens on port 1: the bridge says so and tries again.
    QTest::newRow("a broker that does not answer")
        << "mqtt://127.0.0.1:1"
        << "MQTT broker: Connection refused; trying again in 1 s"
        << "";
    QTest::newRow("no broker address") << "ftp://lab"
                                       << ""
                                       << "\"ftp://lab\" is no broker address";
    QTest::newRow("emptied: off") << ""
                                  << "MQTT broker: off"
                                  << "";
}

// The user opens the broker's settings, types and confirms: the bridge starts at once and the
// settings are stored for this copy; a wrong address keeps the dialogue open and stores nothing.
void TestMainForm::brokerSetInTheWindow()
{
    QFETCH(QString, broker);
    QFETCH(QString, stateLine);
    WindowRig::Options options = WindowRig::withoutPump();
    options.storedSettings = {{QStringLiteral("MQTT/Broker"), QStringLiteral("mqtt://old:1883")}};
    WindowRig rig(options);
    QTest::mouseClick(child<QPushButton>(rig.window.get(), "buttonBroker"), Qt::LeftButton);
    auto* dialog = child<QDialog>(rig.window.get(), "brokerDialog");
    QVERIFY(dialog && dialog->isVisible());
    auto* field = child<QLineEdit>(dialog, "editBroker");
    QCOMPARE(field->text(), QStringLiteral("mqtt://old:1883"));
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, broker);
    QTest::keyClicks(child<QLineEdit>(dialog, "editBrokerNode"), QStringLiteral("rig"));
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    const QString stored = QSettings(Constants::OrganisationName, Constants::ApplicationName)
                               .value(rig.window->settingsPrefix() + "/MQTT/Broker")
                               .toString();
    if (stateLine.isEmpty()) {
        QVERIFY(dialog->isVisible());
        QFETCH(QString, reason);
        QVERIFY(child<QLabel>(dialog, "labelBrokerProblem")->text().contains(reason));
        QCOMPARE(stored, QStringLiteral("mqtt://old:1883"));
        return;
    }
    QCOMPARE(stored, broker);
    QTRY_COMPARE(child<QLabel>(rig.window.get(), "labelBrokerState")->text(), stateLine);
}

void TestMainForm::closingAsksWhileThePumpRuns_data()
{
    QTest::addColumn<int>("work");     // 0 nothing, 1 a run, 2 a search nobody answers
    QTest::addColumn<bool>("escape");  // else the window manager's close
    QTest::addColumn<QString>("answer"); // the button of the question; none when none is asked
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("stopSent");
    QTest::newRow("Escape, idle") << 0 << true << QString() << false << false;
    QTest::newRow("Escape, running") << 1 << true << QString() << false << false;
    QTest::newRow("close, idle") << 0 << false << QString() << true << false;
    QTest::newRow("close, running: Cancel") << 1 << false << "Cancel" << false << false;
    QTest::newRow("close, running: stop") << 1 << false << mainForm::StopItText << true << true;
    QTest::newRow("close, running: leave")
        << 1 << false << mainForm::LeaveItRunningText << true << false;
    QTest::newRow("close, searching: stop") << 2 << false << mainForm::StopItText << true << false;
}

void TestMainForm::closingAsksWhileThePumpRuns()
{
    QFETCH(int, work);
    QFETCH(bool, escape);
    QFETCH(QString, answer);
    QFETCH(bool, closed);
    QFETCH(bool, stopSent);
    WindowRig::Options options;
    options.polling = work == 1;
    WindowRig rig(options);
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    if (work == 2) {
        rig.pump.modifyFaults([](Simulator::Faults& faults) { faults.ignoredCode = "?SI"; });
        rig.ui().buttonSearchPump->click();
    } else if (work == 1) {
        QTRY_VERIFY_WITH_TIMEOUT(!rig.window->isConnectionLost(), 10000);
        QTest::mouseClick(rig.ui().buttonStart, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig.window->runPanel().recorder().isRunOpen(), 10000);
    }
    if (escape) {
        rig.ui().lineEditVolume->setFocus();
        QTest::keyClick(rig.ui().lineEditVolume, Qt::Key_Escape);
    } else {
        rig.window->close();
    }
    auto* question = rig.window->findChild<QMessageBox*>();
    QCOMPARE(question != nullptr, !answer.isEmpty());
    if (question) {
        QTRY_VERIFY(question->isVisible());
        const QList<QAbstractButton*> buttons = question->buttons();
        const auto chosen = std::find_if(buttons.cbegin(), buttons.cend(), [&](auto* button) {
            return button->text().remove(u'&') == answer;
        });
        QVERIFY(chosen != buttons.cend());
        QTest::mouseClick(*chosen, Qt::LeftButton);
    }
    // Looked at once when the window stays: it shows itself a moment after it is built.
    if (closed)
        QTRY_VERIFY_WITH_TIMEOUT(!rig.window->isVisible(), 10000);
    else
        QVERIFY(rig.window->isVisible());
    // A search's probes go with the window: at most the one on the line is left.
    QVERIFY(work != 2 || rig.stack.queuedCount() <= 1);
    QCOMPARE(rig.bodiesUntilMarker().contains("00KY0"), stopSent);
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
