// The shown window while the pump is polled: each finished edit reaches the pump once, the
// verdict line speaks of the user's commands only, the display sends nothing of its own, and
// run commands overtake the readings waiting in the queue.
#include "commandtable.h"
#include "windowrig.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QWheelEvent>

#include <functional>

namespace {

namespace Table = BusinessLogic::CommandTable;
using Action = std::function<void(WindowRig&)>;

const QString Accepted = QStringLiteral("COMMAND ACCEPTED");
const QString Refused = QStringLiteral("COMMAND NOT ACCEPTED (RANGE)");
const QString NotAnswered = QStringLiteral("COMMAND NOT ANSWERED");

WindowRig::Options polled()
{
    WindowRig::Options options;
    options.polling = true;
    return options;
}

// Clicks the field as a user would, replaces its text by typing, and ends with the key.
void typeInto(QLineEdit* field, const char* text, Qt::Key key = Qt::Key_Return)
{
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, key);
}

void wheelStep(QWidget* field)
{
    const QPoint at = field->rect().center();
    QWheelEvent wheel(at, field->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(field, &wheel);
}

void choose(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// The limit only stops a test that would otherwise wait for ever; a busy machine may be slow.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 30000)
{
    return QTest::qWaitFor(done, timeoutMs);
}

// Waits for readings the pump receives after now, so that anything still queued has gone out.
bool settle(WindowRig& rig, int frames = 24)
{
    const int target = rig.pump.frameCount() + frames;
    return waitFor([&] { return rig.pump.frameCount() >= target; });
}

} // namespace

Q_DECLARE_METATYPE(Action)

class TestTruthfulness : public QObject
{
    Q_OBJECT

private slots:
    void userCommands_data();
    void userCommands();
    void pumpAnsweringSomeFramesStaysConnected();
    void lostConnectionCheckIsAskedAgain();
    void runCommandsOvertakeQueuedReadings_data();
    void runCommandsOvertakeQueuedReadings();
    void unnumberableCopyStopsAndSaysWhy();
    void searchFindingNobodyRestoresItself_data();
    void searchFindingNobodyRestoresItself();
};

void TestTruthfulness::userCommands_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QByteArray>("refusedCode");
    QTest::addColumn<QByteArray>("ignoredCode");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<QString>("verdict"); // empty: no verdict may be shown
    using L = QList<QByteArray>;
    auto row = [](const char* name, Action action, L expected, const QString& verdict,
                  QByteArray refused = {}, QByteArray ignored = {}) {
        QTest::newRow(name) << action << refused << ignored << expected << verdict;
    };

    row("a flow rate outside the shown model's range",
        [](WindowRig& r) {
            QVERIFY(waitFor([&r] { return r.ui().labelPumpModel->text() == "VELOR 10"; }));
            typeInto(r.ui().lineEditVolume, "0.5");
            QCOMPARE(r.ui().labelUserAction->text(),
                     "INVALID VALUE: 0.5 is out of range; accepted: 1 to 100 ml/min");
        },
        {}, {});
    row("Enter on typed cycles, then a click elsewhere",
        [](WindowRig& r) {
            typeInto(r.ui().lineEditCycles, "7", Qt::Key_Enter);
            QTest::mouseClick(r.ui().lineEditVolume, Qt::LeftButton);
        },
        {"00DN00007"}, Accepted);
    row("Return on an unchanged field",
        [](WindowRig& r) {
            QTest::mouseClick(r.ui().lineEditVolume, Qt::LeftButton);
            QTest::keyClick(r.ui().lineEditVolume, Qt::Key_Return);
        },
        {}, {});
    row("one wheel step",
        [](WindowRig& r) {
            QTest::mouseClick(r.ui().lineEditCycles, Qt::LeftButton);
            wheelStep(r.ui().lineEditCycles);
        },
        {"00DN00001"}, Accepted);
    row(
        "a wheel notch steps from a typed decimal comma",
        [](WindowRig& r) {
            QTest::mouseClick(r.ui().lineEditVolume, Qt::LeftButton);
            r.ui().lineEditVolume->setText("12,5");
            wheelStep(r.ui().lineEditVolume);
        },
        {"00RV00012510"}, Accepted);
    row("refused value", [](WindowRig& r) { typeInto(r.ui().lineEditVolume, "55.5"); },
        {"00RV00055500"}, Refused, "RV");
    row("unanswered value", [](WindowRig& r) { typeInto(r.ui().lineEditVolume, "55.5"); },
        {"00RV00055500"}, NotAnswered, {}, "RV");
    row("refused reading", [](WindowRig&) {}, {}, {}, "?TV");
    row("first digital-output choice", [](WindowRig& r) { choose(r.ui().comboDigOut, 2); },
        {"00RS2"}, Accepted);
    row("language chosen again after the pump changed it",
        [](WindowRig& r) {
            choose(r.ui().comboLanguage, 3);
            QVERIFY(r.waitForBody("00LS3"));
            r.pump.setValue("LS", 1);
            choose(r.ui().comboLanguage, 3);
        },
        {"00LS3", "00LS3"}, Accepted);
    row("calibration fields start empty and send only what was typed",
        [](WindowRig& r) {
            QVERIFY(r.ui().lineEditCalVolume->text().isEmpty());
            QTest::mouseClick(r.ui().lineEditCalVolume, Qt::LeftButton);
            wheelStep(r.ui().lineEditVolume); // the wheel over another field
            QTest::keyClick(r.ui().lineEditCalVolume, Qt::Key_Return);
            typeInto(r.ui().lineEditCalVolume, "2.5");
        },
        {"00CF00002500"}, Accepted);
    row("unanswered protocol-answer reading does not tick the box again",
        [](WindowRig& r) {
            QTest::mouseClick(r.ui().checkboProtAnswer, Qt::LeftButton);
            const auto asked = [&r] { return r.bodies().count("00?SP"); };
            const int before = asked();
            QVERIFY(waitFor([&] { return asked() >= before + 2; }));
            QVERIFY(!r.ui().checkboProtAnswer->isChecked());
        },
        {"00SP0"}, Accepted, {}, "?SP");
    row("values move again after the link controls",
        [](WindowRig& r) {
            r.ui().buttonTestComm->click();
            r.ui().checkboUnusedLRC->click();
            r.ui().checkboUnusedLRC->click();
            r.pump.setValue("RV", 33000);
            QVERIFY(waitFor([&r] { return r.ui().lineEditVolume->text() == "33.00"; }));
        },
        {}, {});
    row("choosing a port again unticks \"incorrect LRC\"",
        [](WindowRig& r) {
            r.ui().checkboIncorrectLRC->click();
            QVERIFY(waitFor([&r] { return r.communication.invalidLrc; }));
            emit r.ui().listWidgetComPorts->comPortPathChange(r.pump.devicePath());
            QVERIFY(!r.ui().checkboIncorrectLRC->isChecked());
        },
        {}, {});
}

void TestTruthfulness::userCommands()
{
    QFETCH(Action, action);
    QFETCH(QByteArray, refusedCode);
    QFETCH(QByteArray, ignoredCode);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(QString, verdict);

    WindowRig rig(polled());
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    rig.pump.modifyFaults([&](Simulator::Faults& f) {
        f.refusedCode = refusedCode;
        f.ignoredCode = ignoredCode;
    });
    QVERIFY(waitFor([&] { return !rig.window->isConnectionLost(); }));
    QVERIFY(settle(rig));
    rig.pump.clearLog();

    action(rig);
    if (!verdict.isEmpty())
        QVERIFY(waitFor([&] { return rig.ui().labelTransmissionState->text() == verdict; }));
    QVERIFY(settle(rig));
    QCOMPARE(rig.commandBodies(), expected);
    if (verdict.isEmpty())
        QCOMPARE(rig.ui().labelTransmissionState->text(), QString());
}

void TestTruthfulness::pumpAnsweringSomeFramesStaysConnected()
{
    WindowRig rig(polled());
    QVERIFY(waitFor([&] { return !rig.window->isConnectionLost(); }));
    // Every few display ticks an acknowledged command, then a reading the pump leaves unanswered.
    rig.window->updateDetachAll();
    rig.pump.modifyFaults([](Simulator::Faults& f) { f.ignoredCode = "?TV"; });
    QTimer pair;
    QObject::connect(&pair, &QTimer::timeout, &rig.stack, [&rig] {
        rig.stack.addCommand(rig.table.at(Table::setRunMode.spezifier), 0, false);
        rig.stack.addCommand(rig.table.at(Table::getActualVolume.spezifier), 0, false);
    });
    pair.start(300);
    const auto disconnected = [&rig] {
        return rig.ui().labelConnectionState->text().contains("DISCONNECTED");
    };
    QElapsedTimer ran;
    ran.start();
    while (ran.elapsed() < 3000) {
        QVERIFY2(!disconnected(), qPrintable(QString::number(ran.elapsed())));
        QTest::qWait(20);
    }
    // A pump that is really gone is told.
    pair.stop();
    rig.window->updateAttachAll();
    rig.pump.modifyFaults([](Simulator::Faults& f) { f.silent = true; });
    QVERIFY(waitFor(disconnected));
}

// The answers to the first connection checks are lost while every reading is answered: a later
// check names the pump.
void TestTruthfulness::lostConnectionCheckIsAskedAgain()
{
    WindowRig::Options options = polled();
    options.pumpFaults.ignoredCode = "?SI";
    WindowRig rig(options);
    // The check of the start has gone; the one asked when the readings were first answered too.
    QVERIFY(waitFor([&] { return rig.bodies().contains("00?SI"); }));
    rig.pump.setFaults(Simulator::Faults());
    QVERIFY2(waitFor([&] { return rig.showsConnected(); }), qPrintable(rig.connectionText()));
}

void TestTruthfulness::runCommandsOvertakeQueuedReadings_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("stop") << "buttonStop" << QByteArray("00KY0");
    QTest::newRow("pause") << "buttonPause" << QByteArray("00KY3");
    QTest::newRow("start") << "buttonStart" << QByteArray("00KY1");
}

void TestTruthfulness::runCommandsOvertakeQueuedReadings()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, body);
    // The queue runs only while this test waits, so that the click finds the readings queued.
    WindowRig::Options options;
    options.lineThread = false;
    WindowRig rig(options);
    auto* run = rig.window->findChild<QPushButton*>(button);
    QVERIFY(run);
    rig.ui().lineEditVolume->setText("5");
    emit rig.ui().lineEditVolume->editingFinished(); // a user command queued before the click
    rig.refresher.execute();                         // a whole burst of readings waits
    const int waiting = rig.stack.queuedCount();
    QVERIFY(waiting > 5);
    run->click();
    QVERIFY(waitFor([&] { return rig.stack.queuedCount() == 0; }));
    QCOMPARE(rig.bodies().mid(0, 2), (QList<QByteArray>{"00RV00005000", body}));
    // The readings still reach the items that asked for them.
    rig.pump.setValue("RV", 44000);
    rig.refresher.execute();
    run->click();
    QVERIFY(waitFor([&] { return rig.stack.queuedCount() == 0; }));
    rig.window->triggerUpdateValues();
    QCOMPARE(rig.ui().lineEditVolume->text(), QString("44.00"));
}

void TestTruthfulness::unnumberableCopyStopsAndSaysWhy()
{
    QTemporaryFile notAFolder;
    QVERIFY(notAFolder.open());
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DOSEDESK_LOCK_DIR", notAFolder.fileName() + "/locks");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(DOSEDESK_PROGRAM, {});
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitCode(), 1);
    const QByteArray folder = notAFolder.fileName().toLocal8Bit() + QByteArray("/locks");
    QVERIFY2(program.readAllStandardError().contains(folder), "the message names the folder");
}

void TestTruthfulness::searchFindingNobodyRestoresItself_data()
{
    QTest::addColumn<bool>("lineLost");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nobody answers") << false << "NONE";
    QTest::newRow("line lost half-way") << true << "search interrupted: line lost";
}

void TestTruthfulness::searchFindingNobodyRestoresItself()
{
    QFETCH(bool, lineLost);
    QFETCH(QString, shown);
    WindowRig rig(polled());
    QVERIFY(waitFor([&] { return !rig.window->isConnectionLost(); }));
    rig.pump.modifyFaults([](Simulator::Faults& f) { f.ignoredCode = "?SI"; });
    rig.ui().labelLocatedAddressIndicator->setText("7"); // what an earlier search found
    rig.ui().buttonSearchPump->click();
    if (lineLost) {
        QVERIFY(rig.waitForBody("03?SI"));
        QVERIFY(rig.pump.unplug());
    }
    // 99 addresses, each with an unanswered check of 120 ms.
    QVERIFY(waitFor([&] { return rig.ui().labelLocatedAddressIndicator->text() == shown; }, 60000));
    if (lineLost) {
        QVERIFY(rig.pump.replug());
        rig.communication.setCommPortPath(rig.pump.devicePath());
    }
    QVERIFY(rig.window->timer().isActive());
    rig.pump.clearLog();
    QVERIFY(rig.waitForBody("00?TV")); // polling on the previous address
    // A later check the pump answers is no search any more.
    rig.pump.setFaults(Simulator::Faults());
    rig.ui().buttonTestComm->click();
    QVERIFY(settle(rig));
    QCOMPARE(rig.ui().labelLocatedAddressIndicator->text(), shown);
}

QTEST_MAIN(TestTruthfulness)
#include "tst_truthfulness.moc"
