#include "calibrationhistory.h"
#include "controlserver.h"
#include "ptybalance.h"
#include "pumpsession.h"
#include "readings.h"
#include "runrecorder.h"
#include "runview.h"
#include "windowrig.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>

// dosedeskctl run as a process against a simulated pump: straight over the line, and through a
// panel (the real window on the real command stack) listening on its control socket.
class TestDosedeskctl : public QObject
{
    Q_OBJECT

    // The pump, and what befalls the run once it received a start.
    enum class Pump {
        Normal,
        Small,
        Silent,
        Unacknowledged, // told to send no acknowledgements; through the panel from its window
        TimeLimited,
        WindowSearching, // only through the panel: its window searches, nobody answers the checks
        MasterStopOnStart,
        InputStopOnStart,
        ErrorOnStart,
        TermOnStart,
        CtrlCTwice,      // the second while the script stops the pump, whose stop goes unanswered
        PanelStopOnStart // only through the panel
    };

private slots:
    void initTestCase();
    void sameValuesAsTheWindow_data();
    void sameValuesAsTheWindow();
    void verbs_data();
    void verbs();
    void hostileLines_data();
    void hostileLines();
    void crowdAndDeserter();
    void withoutRuntimeFolder();
    void calibrateWithBalance_data();
    void calibrateWithBalance();
    void protocol_data();
    void protocol();

private:
    QByteArrayList bodies(Simulator::PtyPump& pump) const;
    bool receivedInOrder(Simulator::PtyPump& target, const QByteArrayList& sent) const;
    static QStringList historyLines();
    QByteArray request(QLocalSocket& socket, const QByteArray& line);

    QTemporaryDir runtime;
    std::unique_ptr<WindowRig> rig;
    std::unique_ptr<Control::ControlServer> server;
    std::unique_ptr<Simulator::PtyPump> direct;
};

void TestDosedeskctl::initTestCase()
{
    // The panel's socket and the program's search both look in this runtime folder only.
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    rig = std::make_unique<WindowRig>();
    server = std::make_unique<Control::ControlServer>(rig->session);
    const QString path = Control::ControlServer::socketPath(instanceNumber());
    QVERIFY2(server->listen(path), qPrintable(server->errorString()));
    // Nobody but the user: read and write for the owner, nothing for group and others.
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
                                      | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFileInfo(path).permissions() & (others | QFile::ReadOwner | QFile::WriteOwner),
             QFile::ReadOwner | QFile::WriteOwner);
    // A second panel under the same number must not take the socket away from the first.
    Control::ControlServer second(rig->session);
    QVERIFY(!second.listen(path));

    Simulator::PtyPump::Options options;
    options.pacing = false;
    options.turnaroundMs = 0;
    direct = std::make_unique<Simulator::PtyPump>(options);
    QVERIFY(direct->start());
}

QStringList TestDosedeskctl::historyLines()
{
    QFile file(GUI::CalibrationHistory::defaultPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

QByteArrayList TestDosedeskctl::bodies(Simulator::PtyPump& pump) const
{
    QByteArrayList result;
    for (const QByteArray& frame : pump.receivedFrames())
        result.append(frame.mid(3, frame.size() - 5)); // without STX, address, ETX, check byte
    return result;
}

// The window's fields (typed, then Return) and the verbs judge a value alike: both send the same
// frame, or both refuse it with the same reason.
void TestDosedeskctl::sameValuesAsTheWindow_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<QString>("reason");
    // The model the panel has learnt its pump to be (a code its identity answer begins with);
    // 0 while it does not know.
    QTest::addColumn<int>("modelCode");
    const QString flow = "; accepted: 0.03 to 100 ml/min";
    const QString cycles = "; accepted: 0 to 1000, OFF or INF (endless)";
    const auto row = [](const char* verb, const char* typed, QByteArrayList sent, QString reason,
                        int modelCode = 0) {
        QTest::addRow("%s %s %d", verb, typed, modelCode)
            << QString(verb) << QString(typed) << sent << reason << modelCode;
    };
    for (const char* typed : {"2.5", "2,5", " 2.50049"})
        row("set-flow", typed, {"RV00002500"}, {});
    row("set-flow", "12.3456", {"RV00012346"}, {});
    for (const char* typed : {"100.5", "150", "0", "-1", "0.0294", "123456789012345678"})
        row("set-flow", typed, {}, QString(typed) + " is out of range" + flow);
    for (const char* typed : {"1e3", "abc", "2.5.0"})
        row("set-flow", typed, {}, QStringLiteral("\"%1\" is not a number").arg(typed) + flow);
    row("set-flow", "", {}, "missing value" + flow);
    row("set-cycles", "INF", {"DN01000"}, {});
    row("set-cycles", "1001", {}, "1001 is out of range" + cycles);
    row("set-cycles", "7.5", {}, "7.5 is not a whole number" + cycles);
    row("set-time", "99:59:59", {"DT99595900"}, {});
    row("set-time", "100:00:00", {}, "\"100:00:00\" is no time from 00:00:00 to 99:59:59");
    row("set-flow", "50", {}, "50 is out of range; accepted: 0.03 to 20 ml/min",
        Engine::ModelCode02);
    row("set-flow", "0.05", {"RV00000050"}, {}, Engine::ModelCode02);
    row("set-flow", "0.5", {}, "0.5 is out of range; accepted: 1 to 100 ml/min",
        Engine::ModelCode10);
}

void TestDosedeskctl::sameValuesAsTheWindow()
{
    QFETCH(QString, verb);
    QFETCH(QString, typed);
    QFETCH(QByteArrayList, sent);
    QFETCH(QString, reason);
    QFETCH(int, modelCode);

    // The pump is of that model, and the panel knows it, for this row only.
    rig->pump.setValue("SV", modelCode ? modelCode : Engine::ModelCode10);
    rig->session.setPumpModel(Engine::modelOf(modelCode));
    const auto unknownAgain = qScopeGuard([&] {
        rig->pump.setValue("SV", Engine::ModelCode10);
        rig->session.setPumpModel(Engine::Model::Unknown);
    });
    rig->window->show();
    QVERIFY(QTest::qWaitForWindowActive(rig->window.get()));
    Ui::mainScreen& ui = rig->ui();
    const QStringList parts = verb == "set-time" ? typed.split(':') : QStringList{typed};
    QList<QLineEdit*> fields{verb == "set-cycles" ? ui.lineEditCycles : ui.lineEditVolume};
    if (verb == "set-time")
        fields = {ui.lineEditTimeHour, ui.lineEditTimeMin, ui.lineEditTimeSec};
    for (int i = 0; i + 1 < fields.size(); ++i)
        fields[i]->setText(parts[i]);
    fields.last()->setText("?"); // whatever is typed then is a change
    rig->pump.clearLog();
    QTest::mouseClick(fields.last(), Qt::LeftButton);
    QTest::keyClick(fields.last(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(fields.last(), Qt::Key_Backspace);
    QTest::keyClicks(fields.last(), parts.last());
    QTest::keyClick(fields.last(), Qt::Key_Return);
    QCOMPARE(ui.labelUserAction->text(), reason.isEmpty() ? QString() : "INVALID VALUE: " + reason);
    // A row sends one frame at most; the window's go to address 0.
    QCOMPARE(rig->bodiesUntilMarker(), sent.isEmpty() ? sent : QByteArrayList{"00" + sent[0]});

    for (const bool panel : {false, true}) {
        // Without the panel, nothing has asked the pump its model: the pump judges what both
        // models take.
        if (!panel && modelCode)
            continue;
        Simulator::PtyPump& target = panel ? rig->pump : *direct;
        target.clearLog();
        QProcess program;
        const QString at = panel ? QString::number(instanceNumber()) : direct->devicePath();
        program.start(DOSEDESKCTL, {panel ? "--panel" : "--port", at, verb, typed});
        QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 60000));
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(reason.isEmpty() ? err.isEmpty() : err.contains(": " + reason + " (usage"),
                 qPrintable(err));
        QCOMPARE(program.exitCode(), reason.isEmpty() ? 0 : 2);
        QCOMPARE(bodies(target), sent);
    }
}

void TestDosedeskctl::verbs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Pump>("pump");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");      // pattern for standard output
    QTest::addColumn<QString>("message");     // pattern for standard error
    QTest::addColumn<QByteArrayList>("sent"); // every frame body, in order; "..." ends a prefix

    struct Row
    {
        const char* name;
        QStringList arguments;
        Pump pump;
        int exitCode;
        QString output;
        QString message;
        QByteArrayList sent;
    };
    const QString status = QStringLiteral(
        "^mode: (flow|volume|time)\nflow_ml_min: \\d+\\.\\d{3}\nvolume_ml: \\d+\\.\\d{3}\ntime_s: "
        "\\d+\n"
        "cycles: \\d+\nbreak_s: \\d+\ndelivered_ml: \\d+\\.\\d{3}\nelapsed_s: \\d+\\.\\d\\d\n"
        "flags: .*display_on.*\n$");
    // clang-format off
    const Row rows[] = {
        {"status", {"status"}, Pump::Normal, 0, status, "^$", {"?MS", "?RV", "?DV", "..."}},
        {"setters", {"set-flow", "2.5", "set-volume", "12.345", "set-time", "01:02:03", "set-cycles",
         "3", "set-break", "125"}, Pump::Normal, 0, "^$", "^$",
         {"RV00002500", "DV00012345", "DT01020300", "DN00003", "DB00125"}},
        {"modes", {"mode", "volume", "mode", "time", "mode", "flow"}, Pump::Normal, 0, "^$", "^$",
         {"MS1", "MS2", "MS0"}},
        {"run keys", {"start", "pause", "start", "stop", "prime", "stop"}, Pump::Normal, 0, "^$",
         "^$", {"KY1", "KY3", "KY1", "KY0", "KY2", "KY0"}},
        {"wait volume", {"set-flow", "60", "start", "wait", "volume", "0.2", "--timeout", "20",
         "stop"}, Pump::Normal, 0, "^delivered_ml: (0\\.[2-9]|[1-9]\\d*\\.)\\d+\n$", "^$",
         {"RV00060000", "KY1", "?TV", "..."}},
        {"dose clears a time limit", {"dose", "1.0", "--flow", "60"}, Pump::TimeLimited, 0,
         "^delivered_ml: 1\\.000\nended: target reached\n$", "^$",
         {"MS1", "DN00001", "DV00001000", "DT00000000", "RV00060000", "KY1", "..."}},
        {"dose cut short", {"dose", "5", "--flow", "10"}, Pump::MasterStopOnStart, 1,
         "^delivered_ml: 0\\.\\d+\nended: stopped at the pump: master stop\n$",
         "^dosedeskctl: dose: delivered 0\\.\\d+ of 5\\.000 ml: stopped at the pump: master "
         "stop\n", {"MS1", "DN00001", "DV00005000", "DT00000000", "RV00010000", "KY1", "..."}},
        {"SIGTERM stops a dose", {"dose", "5", "--flow", "10"}, Pump::TermOnStart, 143, "^$",
         "^dosedeskctl: dose: terminated \\(SIGTERM\\)\ndosedeskctl: stopped the pump the script "
         "had started\n$", {"MS1", "...", "KY1", "...", "KY0", "?SS1", "..."}},
        {"a second Ctrl-C while stopping", {"set-flow", "10", "start", "wait", "volume", "900"},
         Pump::CtrlCTwice, 130, "^$", "^dosedeskctl: (start|wait): interrupted \\(SIGINT\\)\n$",
         {"RV00010000", "KY1", "...", "KY0", "..."}},
        {"dose ended by a digital input", {"dose", "5", "--flow", "10"}, Pump::InputStopOnStart, 1,
         "ended: stopped at the pump: digital input\n$", "of 5\\.000 ml: stopped at the pump: "
         "digital input\n", {"MS1", "...", "KY1", "..."}},
        {"wait ended by a pump error", {"set-flow", "10", "start", "wait", "finished"},
         Pump::ErrorOnStart, 0, "^delivered_ml: \\d+\\.\\d{3}\nended: pump error \\(overpressure "
         "no_encoder_signal\\)\n$", "^$", {"RV00010000", "KY1", "..."}},
        {"dose stopped from the panel", {"dose", "5", "--flow", "10"}, Pump::PanelStopOnStart, 1,
         "^delivered_ml: 0\\.\\d+\nended: stopped from the panel or a script\n$",
         "^dosedeskctl: dose: delivered 0\\.\\d+ of 5\\.000 ml: stopped from the panel or a "
         "script\n", {"...", "MS1", "DN00001", "DV00005000", "DT00000000", "RV00010000", "KY1",
         "..."}},
        {"a stop in the script", {"set-volume", "5", "start", "stop", "wait", "finished"},
         Pump::Normal, 0, "^delivered_ml: \\d+\\.\\d{3}\nended: stopped from the panel or a script\n$",
         "^$", {"DV00005000", "KY1", "KY0", "?SS1", "..."}},
        {"a long wait after a verb", {"start", "wait", "seconds", "15.5", "stop"}, Pump::Normal, 0,
         "^$", "^$", {"KY1", "KY0"}},
        {"a failure stops what was started", {"start", "set-flow", "50", "stop"}, Pump::Small, 1,
         "^$", "set-flow: refused by the pump \\(range\\)\n.*stopped the pump the script had "
         "started\n$", {"KY1", "RV00050000", "KY0", "?SS1", "..."}},
        {"get, send", {"set-volume", "2", "get", "DV", "send", "KY0"}, Pump::Normal, 0,
         "^answer: 2000\nanswer: ACK\n$", "^$", {"DV00002000", "?DV", "KY0"}},
        {"search", {"search"}, Pump::Normal, 0, "^address: 0\n$", "^$", {"?SI"}},
        // Water at 20 °C: 1.00285 ml a gram, so these are 0.9698 to 0.9718 ml.
        {"calibrate and write", {"calibrate", "--target", "1", "--deliveries", "3", "--mass", "0.967",
         "--mass", "0,968", "--mass", "0.969", "--write"}, Pump::Normal, 0,
         "^target_ml: 1.000\nmean_ml: 0.9708\nsystematic_percent: -2.92\nsystematic_ul: -29.2\n"
         "cv_percent: 0.10\ncalibration_now: 100.0 %\ncalibration_new: 103.0 %\nwritten: true\n"
         "volumes_ml: 0.9698 0.9708 0.9718\n$", "^$", {"?CH", "?SV", "CH10300"}},
        {"calibrate a liquid of its own density", {"calibrate", "--target", "2", "--deliveries", "3",
         "--density", "1.25", "--mass", "2.6", "--mass", "2.6", "--mass", "2.6"}, Pump::Normal, 0,
         "mean_ml: 2.0817\n(.|\n)*calibration_new: 96.1 %\nwritten: false\n", "^$", {"?CH", "?SV"}},
        {"calibrate deliveries far apart", {"calibrate", "--target", "1", "--deliveries", "3",
         "--mass", "0.5", "--mass", "0.9", "--mass", "0.7", "--write"}, Pump::Normal, 1,
         "cv_percent: 28.57\n(.|\n)*written: false\n", "too far apart \\(CV 28.57 %", {"?CH", "?SV"}},
        {"calibrate beyond 120 %", {"calibrate", "--target", "1", "--deliveries", "3", "--mass",
         "0.5", "--mass", "0.5", "--mass", "0.5", "--write"}, Pump::Normal, 1, "",
         "delivered 50.1 % of the target; the calibration it would need, 199.4 %, lies outside",
         {"?CH", "?SV"}},
        {"calibrate with a mass missing", {"calibrate", "--target", "1", "--deliveries", "3",
         "--mass", "1", "--mass", "0", "--mass", "1"}, Pump::Normal, 2, "^$",
         "mass 2: \"0\" is no mass; accepted: more than 0 g", {}},
        {"calibrate at a rate no balance has", {"calibrate", "--target", "1", "--balance", "b",
         "--balance-baud", "1234"}, Pump::Normal, 2, "^$",
         "--balance-baud \"1234\" is no baud rate; accepted: 1200, 2400, 4800, 9600, 19200, "
         "38400", {}},
        {"search while the window searches", {"search"}, Pump::WindowSearching, 1, "^$",
         "^dosedeskctl: search: search already running\n$", {"..."}},
        {"json", {"--json", "set-flow", "1.5", "status"}, Pump::Normal, 0,
         "^\\{\"ok\":true,\"verb\":\"set-flow\"\\}\n\\{.*\"flow_ml_min\":1\\.5,.*\"ok\":true.*\\}\n$",
         "^$", {"RV00001500", "..."}},
        {"get an unknown code", {"get", "ZZ"}, Pump::Normal, 1, "^$",
         "^dosedeskctl: get: refused by the pump: it does not know the code \"ZZ\"\n$", {"?ZZ"}},
        {"missing device", {"--port", "/dev/ttyUSB97", "status"}, Pump::Normal, 1, "^$",
         "^dosedeskctl: cannot open /dev/ttyUSB97: missing\n$", {}},
        {"not a serial device", {"--port", "/dev/null", "status"}, Pump::Normal, 1, "^$",
         "^dosedeskctl: cannot open /dev/null: unavailable: not a serial device\n$", {}},
        {"no answer", {"stop"}, Pump::Silent, 1, "^$",
         "^dosedeskctl: stop: no answer from the pump at address 0\n$", {"KY0", "..."}},
        {"protocol answers off", {"set-flow", "2", "start", "stop"}, Pump::Unacknowledged, 0, "^$",
         "^$", {"...", "RV00002000", "...", "KY1", "KY0"}},
        {"missing value", {"dose"}, Pump::Normal, 2, "^$", "dose: missing value", {}},
        {"unknown verb", {"status", "fly"}, Pump::Normal, 2, "^$", "unknown verb \"fly\"", {}},
        {"usage error in JSON", {"--json", "set-flow", "abc"}, Pump::Normal, 2,
         "^\\{\"error\":\"set-flow: .*is not a number.*\",\"exit\":2,\"ok\":false\\}\n$",
         "is not a number", {}},
    };
    // clang-format on
    for (const Row& row : rows) {
        for (const bool panel : {false, true}) {
            if (panel ? row.pump == Pump::CtrlCTwice
                      : row.pump == Pump::PanelStopOnStart || row.pump == Pump::WindowSearching)
                continue;
            QTest::addRow("%s %s", panel ? "panel" : "direct", row.name)
                << (QStringList{panel ? "--panel" : "--port",
                                panel ? QString::number(instanceNumber()) : QString()}
                    + row.arguments)
                << row.pump << row.exitCode << row.output << row.message << row.sent;
        }
    }
    QTest::newRow("help") << QStringList{"--help"} << Pump::Normal << 0
                          << "(?s)e\\.g\\. dosedeskctl status\n.*e\\.g\\. dosedeskctl dose 1\\.0 "
                             "--flow 60\n.*e\\.g\\. dosedeskctl search\n.*--port <PATH>.*--json"
                          << "^$" << QByteArrayList{};
    QTest::newRow("version") << QStringList{"--version"} << Pump::Normal << 0
                             << "^dosedeskctl \\d+\\.\\d+\\.\\d+\n$"
                             << "^$" << QByteArrayList{};
}

void TestDosedeskctl::verbs()
{
    QFETCH(QStringList, arguments);
    QFETCH(Pump, pump);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, message);
    QFETCH(QByteArrayList, sent);

    const bool panel = arguments.first() == QLatin1String("--panel");
    Simulator::PtyPump& target = panel ? rig->pump : *direct;
    if (arguments.first() == QLatin1String("--port"))
        arguments[1] = direct->devicePath();
    target.setValue("SV", pump == Pump::Small ? 102 : 110);
    target.setValue("DT", pump == Pump::TimeLimited ? 50 : 0); // half a second
    target.modifyFaults([pump](Simulator::Faults& faults) {
        faults.silent = pump == Pump::Silent;
        faults.ignoredCode = pump == Pump::CtrlCTwice        ? "KY0"
                             : pump == Pump::WindowSearching ? "?SI"
                                                             : "";
    });
    target.setValue("SP", pump == Pump::Unacknowledged ? 0 : 1);
    target.setValue("CH", 10000); // calibrated to 100.0 %
    // As a user unticks "Protocol Answer": the panel's link, and the pump, are told.
    const bool answers = !panel || pump != Pump::Unacknowledged;
    if (rig->ui().checkboProtAnswer->isChecked() != answers) {
        rig->pump.clearLog();
        rig->ui().checkboProtAnswer->setChecked(answers);
        // The frame that tells the panel's pump belongs to no row: it is let in first.
        QVERIFY(QTest::qWaitFor([&] { return bodies(rig->pump).join(' ').contains("SP"); }, 10000));
    }
    QString out;
    QString err;
    QString line;
    QStringList historyBefore;
    QElapsedTimer ran;
    int exit = -1;
    for (int attempt = 1;; ++attempt) {
        target.clearLog();
        if (pump == Pump::WindowSearching)
            rig->ui().buttonSearchPump->click();
        historyBefore = historyLines();
        QProcess program;
        ran.start();
        program.start(QStringLiteral(DOSEDESKCTL), arguments);
        bool upset = pump < Pump::MasterStopOnStart;
        // The panel serves the socket from this thread's event loop.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto pid = pid_t(program.processId()); // 0 once it has ended: no kill then
                if (!upset && pid > 0 && bodies(target).contains("KY1")) {
                    upset = true;
                    if (pump == Pump::MasterStopOnStart)
                        target.setMasterStop(true);
                    else if (pump == Pump::PanelStopOnStart)
                        rig->ui().buttonStop->click();
                    else if (pump >= Pump::TermOnStart)
                        ::kill(pid, pump == Pump::TermOnStart ? SIGTERM : SIGINT);
                    else { // an input or errors, then the pump's own stop key
                        const bool input = pump == Pump::InputStopOnStart;
                        target.setValue(input ? "SS2" : "SS6", input ? 0x03 : 0x81);
                        target.query("KY0");
                    }
                } else if (pump == Pump::CtrlCTwice && pid > 0 && bodies(target).contains("KY0"))
                    ::kill(pid, SIGINT);
                return program.state() == QProcess::NotRunning;
            },
            60000));
        if (pump == Pump::WindowSearching)
            rig->stack.clear(); // the window's search ends with its probes
        target.setMasterStop(false);
        target.setErrorBits(0);
        target.setValue("SS2", 1); // motor adjusted, no input active
        out = QString::fromLocal8Bit(program.readAllStandardOutput());
        err = QString::fromLocal8Bit(program.readAllStandardError());
        exit = program.exitCode();
        // What the line did, should the pump seem to have fallen silent.
        line =
            QStringLiteral("pump: last frame %1 ms ago, late answer bytes %2 ms ago, last "
                           "frames: %3; panel: %4, late bytes at the link %5 ms ago")
                .arg(target.msSinceLastFrame())
                .arg(target.msSinceLateAnswer().value_or(-1))
                .arg(QString::fromLatin1(bodies(target).mid(bodies(target).size() - 12).join(' ')),
                     panel ? rig->connectionText() : QStringLiteral("-"))
                .arg(panel ? rig->communication.msSinceLateBytes().value_or(-1) : -1);
        // A row that expects no silent pump runs once more when its pump went unheard for
        // seconds: the pseudo-terminals of a loaded machine are then on trial, not the verb. A
        // pump that never answers, or a verb that misreads one, fails again.
        if (attempt > 1 || !err.contains("no answer from the pump")
            || QRegularExpression(message).match(err).hasMatch())
            break;
        qWarning("the pump went unheard, the row runs again: %s", qPrintable(err + line));
        target.query("KY0");
    }
    QVERIFY2(QRegularExpression(output).match(out).hasMatch(), qPrintable(out + err + line));
    QVERIFY2(QRegularExpression(message).match(err).hasMatch(), qPrintable(err + line));
    QCOMPARE(exit, exitCode);
    // A wait in seconds lasts at least as long as asked, never a little less.
    if (const int wait = int(arguments.indexOf("seconds")); wait > 0)
        QVERIFY2(ran.elapsed() >= qint64(arguments.at(wait + 1).toDouble() * 1000),
                 qPrintable(QString::number(ran.elapsed())));
    // A calibration that reached the pump is kept in the history, with what became of it.
    const QStringList added = historyLines().mid(historyBefore.size());
    if (arguments.contains("calibrate") && !sent.isEmpty()) {
        const QString outcome = exitCode != 0                   ? ",\"refused: "
                                : arguments.contains("--write") ? ",written$"
                                                                : ",not written$";
        QVERIFY2(!added.isEmpty() && added.last().contains(QRegularExpression(outcome)),
                 qPrintable(added.join(u'\n')));
    } else {
        QCOMPARE(added.size(), 0);
    }

    QVERIFY(receivedInOrder(target, sent));
    // What the panel was told to send is in its messages panel, as a click's command would be.
    const auto told = std::find_if(sent.rbegin(), sent.rend(), [](const QByteArray& body) {
        return !body.startsWith('?') && body != "...";
    });
    if (panel && told != sent.rend())
        QVERIFY(rig->ui().textEditTxData->toPlainText().contains(QString::fromLatin1(*told)));
}

// "..." stands for any frames, none included. The last frame may still be on its way to the
// pump when the program has given up waiting for its answer.
bool TestDosedeskctl::receivedInOrder(Simulator::PtyPump& target, const QByteArrayList& sent) const
{
    const auto named =
        std::count_if(sent.begin(), sent.end(), [](const auto& b) { return b != "..."; });
    target.waitForFrames(int(named), 10000);
    const QByteArrayList received = bodies(target);
    qsizetype at = 0;
    bool skipping = false;
    bool inOrder = true;
    for (const QByteArray& body : sent) {
        if (body == "...") {
            skipping = true;
            continue;
        }
        while (skipping && at < received.size() && received.at(at) != body)
            ++at;
        inOrder = inOrder && at < received.size() && received.at(at) == body;
        ++at;
        skipping = false;
    }
    inOrder = inOrder && (skipping || at == received.size());
    if (!inOrder)
        qWarning("received: %s", received.join(' ').constData());
    return inOrder;
}

QByteArray TestDosedeskctl::request(QLocalSocket& socket, const QByteArray& line)
{
    socket.write(line);
    // The limit only stops a test that would otherwise wait for ever.
    if (!QTest::qWaitFor([&] { return socket.canReadLine(); }, 30000))
        return "<no answer>";
    return socket.readLine();
}

void TestDosedeskctl::hostileLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("dropped");

    QTest::newRow("not JSON") << QByteArray("{verb: set-flow\n") << "malformed request" << false;
    QTest::newRow("no object") << QByteArray("[1, 2]\n") << "malformed request: not an object"
                               << false;
    QTest::newRow("unknown verb") << QByteArray("{\"verb\":\"fly\"}\n") << "unknown verb" << false;
    QTest::newRow("value of another type")
        << QByteArray("{\"verb\":\"set-volume\",\"value\":[1]}\n") << "is not a number" << false;
    QTest::newRow("line beyond 4 KiB")
        << QByteArray(5000, 'x') << "line longer than 4096 bytes" << true;
}

void TestDosedeskctl::hostileLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, answer);
    QFETCH(bool, dropped);

    QLocalSocket socket;
    socket.connectToServer(Control::ControlServer::socketPath(instanceNumber()));
    QVERIFY(socket.waitForConnected(2000));
    rig->pump.clearLog();
    const QByteArray reply = request(socket, line);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\{.*\"ok\":false.*\\}\n$"))
                     .match(QString::fromUtf8(reply))
                     .hasMatch()
                 && QRegularExpression(answer).match(QString::fromUtf8(reply)).hasMatch(),
             reply.constData());
    QCOMPARE(rig->bodiesUntilMarker(), QList<QByteArray>());
    if (dropped) {
        QVERIFY(QTest::qWaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; },
                                5000));
    } else {
        // The same client is still served.
        QCOMPARE(request(socket, "{\"verb\":\"set-cycles\",\"value\":4}\n"),
                 QByteArray("{\"ok\":true,\"verb\":\"set-cycles\"}\n"));
    }
}

void TestDosedeskctl::crowdAndDeserter()
{
    rig->pump.modifyFaults([](Simulator::Faults& faults) { faults.silent = false; });
    rig->pump.setValue("SV", 110);
    rig->pump.clearLog();
    const QString path = Control::ControlServer::socketPath(instanceNumber());
    // Twenty clients at once; the first never writes, the others set a count each.
    std::vector<std::unique_ptr<QLocalSocket>> crowd;
    for (int i = 0; i < 20; ++i) {
        crowd.push_back(std::make_unique<QLocalSocket>());
        crowd.back()->connectToServer(path);
        QVERIFY(crowd.back()->waitForConnected(2000));
    }
    for (int i = 1; i < 20; ++i)
        crowd[std::size_t(i)]->write(QByteArrayLiteral("{\"verb\":\"set-cycles\",\"value\":%1}\n")
                                         .replace("%1", QByteArray::number(i)));
    for (int i = 1; i < 20; ++i)
        QCOMPARE(request(*crowd[std::size_t(i)], {}),
                 QByteArray("{\"ok\":true,\"verb\":\"set-cycles\"}\n"));

    // A client that leaves while its wait runs: what it queued behind the wait is never sent.
    const int crowdOnly = server->clientCount();
    QLocalSocket deserter;
    deserter.connectToServer(path);
    QVERIFY(deserter.waitForConnected(2000));
    QCOMPARE(request(deserter,
                     "{\"verb\":\"set-flow\",\"value\":2.5}\n{\"verb\":\"wait\",\"for\":"
                     "\"volume\",\"value\":900}\n{\"verb\":\"set-flow\",\"value\":3.5}\n"),
             QByteArray("{\"ok\":true,\"verb\":\"set-flow\"}\n"));
    QVERIFY(rig->waitForBody("00?TV"));
    deserter.abort();
    // Once the panel has let the client go, only what the client had already queued goes out.
    QTRY_COMPARE_WITH_TIMEOUT(server->clientCount(), crowdOnly, 10000);

    QList<QByteArray> expected;
    for (int i = 1; i < 20; ++i)
        expected.append("00DN" + QByteArray::number(i).rightJustified(5, '0'));
    expected.append("00RV00002500");
    QList<QByteArray> received = rig->bodiesUntilMarker();
    // The crowd's requests may be read in any order; each is sent once.
    std::sort(received.begin(), received.begin() + std::min(received.size(), qsizetype(19)));
    QCOMPARE(received.mid(0, expected.size()), expected);
    // Only the readings of the abandoned wait follow, and they stop.
    for (const QByteArray& body : received.mid(expected.size()))
        QCOMPARE(body, QByteArray("00?TV"));
    rig->pump.clearLog();
    // Time for a wait that wrongly lived on to poll again; a slow machine can only hide it.
    QTest::qWait(3 * Control::PumpSession::PollIntervalMs);
    QCOMPARE(rig->bodiesUntilMarker(), QList<QByteArray>());
    QCOMPARE(crowd.front()->state(), QLocalSocket::ConnectedState);
}

// Sessions without a runtime folder (cron, ssh, su): panel and tool still meet, and the tool
// says nothing about the missing folder.
void TestDosedeskctl::withoutRuntimeFolder()
{
    QTemporaryDir temporary;
    const QByteArray runtimeBefore = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray temporaryBefore = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", runtimeBefore);
        qputenv("TMPDIR", temporaryBefore);
    });
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", temporary.path().toLocal8Bit());
    Control::ControlServer panel(rig->session);
    QVERIFY2(panel.listen(Control::ControlServer::socketPath(instanceNumber())),
             qPrintable(panel.errorString()));

    QProcess program;
    program.start(QStringLiteral(DOSEDESKCTL),
                  {QStringLiteral("--panel"), QString::number(instanceNumber()),
                   QStringLiteral("mode"), QStringLiteral("flow")});
    QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 60000));
    QCOMPARE(program.readAllStandardError(), QByteArray());
    QCOMPARE(program.exitCode(), 0);
}

// A pump that delivers 97 % of what it meters, weighed on a balance: calibrate doses and weighs
// each delivery, sets 103.1 %, and a check run then delivers the target within 0.5 %. A balance
// that never settles fails the call and leaves the calibration alone.
void TestDosedeskctl::calibrateWithBalance_data()
{
    QTest::addColumn<int>("settleMs"); // still this long counts as settled
    QTest::addColumn<int>("giveUpMs"); // the balance's "S" and "Z" wait this long to settle
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("settles") << 400 << 10000 << 0 << QString();
    QTest::newRow("never settles")
        << 600000 << 300 << 1 << "calibrate: delivery 1: the balance did not settle";
}

void TestDosedeskctl::calibrateWithBalance()
{
    QFETCH(int, settleMs);
    QFETCH(int, giveUpMs);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    Simulator::PtyPump::Options options;
    options.pacing = false;
    options.trueFactor = 0.97;
    Simulator::PtyPump pump(options);
    QVERIFY(pump.start());
    Simulator::PtyBalance::Options scale;
    scale.settleMs = settleMs;
    scale.stableTimeoutMs = giveUpMs;
    constexpr double WaterAt20GramsPerMl = 0.9972; // as a balance in air shows it
    Simulator::PtyBalance balance([&pump] { return pump.outflowMl() * WaterAt20GramsPerMl; },
                                  scale);
    QVERIFY2(balance.start(), qPrintable(balance.errorString()));
    const auto run = [&pump](const QStringList& arguments) {
        QProcess program;
        program.start(DOSEDESKCTL, QStringList{"--port", pump.devicePath()} + arguments);
        program.waitForFinished(60000);
        return std::make_pair(
            program.exitCode(),
            QString::fromLocal8Bit(program.readAll() + program.readAllStandardError()));
    };
    const auto [status, said] =
        run({"calibrate", "--target", "1", "--deliveries", "3", "--balance", balance.devicePath(),
             "--balance-baud", "19200", "--flow", "100", "--write"});
    QVERIFY2(status == exitCode && said.contains(message), qPrintable(said));
    QCOMPARE(pump.value("CH"), exitCode == 0 ? 10310 : 10000);
    if (exitCode != 0)
        return;
    const double before = pump.outflowMl();
    QCOMPARE(run({"dose", "1", "--flow", "100"}).first, 0);
    QVERIFY2(std::abs(pump.outflowMl() - before - 1.0) <= 0.005,
             qPrintable(QString::number(pump.outflowMl() - before, 'f', 4)));
}

// A protocol file, checked whole before anything is sent, run step by step directly and through
// the panel; a wrong file is refused with its place in the file, a failing step is named.
void TestDosedeskctl::protocol_data()
{
    QTest::addColumn<QString>("yaml");
    QTest::addColumn<QStringList>("arguments"); // after the file
    QTest::addColumn<bool>("panel");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArrayList>("sent");
    const QString head = "dosedesk-protocol: 1\nname: t\npump: 0\nsteps:\n";
    const QString everyStep = head
                              + "  - prime: {seconds: 0.2}\n"
                                "  - repeat: 2\n"
                                "    steps:\n"
                                "      - dose: {volume_ml: 1, flow_ml_min: 100}\n"
                                "      - note: dosed\n"
                                "  - set: {mode: flow, flow_ml_min: 60}\n"
                                "  - start: {}\n"
                                "  - wait: {volume_ml: 0.1}\n"
                                "  - stop: {}\n"
                                "  - ask: Replace the bottle\n";
    // 2 × 1 ml at 100 ml/min, 0.1 ml at 60 ml/min, 0.2 s priming.
    const QString ran = "(?s)^t: 10 steps for the pump at address 0\nvolume: 2.100 ml\nexpected "
                        "duration: at least \\d+ s .*step 3 of 10 \\(line 9: \\(1 of 2\\) note: "
                        "dosed\\)\nnote: dosed\n.*protocol \"[^\n]*\" done: 10 steps\n$";
    const QByteArrayList everyFrame{"KY2", "...",        "KY0", "...", "KY1", "...", "KY1",
                                    "...", "RV00060000", "KY1", "...", "KY0", "..."};
    for (const bool panel : {false, true})
        QTest::addRow("every step, %s", panel ? "panel" : "direct")
            << everyStep << QStringList{} << panel << 0 << ran << "Replace the bottle \\[Enter"
            << everyFrame;
    QTest::newRow("asks nobody") << everyStep << QStringList{"--no-input"} << false << 1 << ""
                                 << "step 10 of 10 \\(line 14: ask: Replace the bottle\\): ask: it "
                                    "asks a person, and --no-input was given\n$"
                                 << everyFrame;
    QTest::newRow("checked only") << everyStep << QStringList{"--check"} << false << 0
                                  << "^t: 10 steps for the pump at address 0\nvolume: 2.100 ml\n"
                                  << "^$" << QByteArrayList{};
    // The documented examples pass the check as written.
    const QStringList examples{"feed-three-bottles", "overnight-cycles", "gradient-steps"};
    const QStringList summaries{"volume: 16.000 ml\nexpected duration: at least 2 min 44 s",
                                "volume: 16.000 ml\nexpected duration: 1 h 45 min 12 s\n",
                                "expected duration: at least 30 min 0 s"};
    for (int i = 0; i < examples.size(); ++i) {
        QFile example(QStringLiteral(DOSEDESK_PROTOCOLS "/%1.yaml").arg(examples[i]));
        QVERIFY(example.open(QIODevice::ReadOnly));
        const QString yaml = QString::fromUtf8(example.readAll());
        QTest::addRow("example %s", qPrintable(examples[i]))
            << yaml << QStringList{"--check"} << false << 0 << summaries[i] << "^$"
            << QByteArrayList{};
        // Tried on the simulated pump an hour a minute: every step, nothing to the real pump.
        if (i == 0)
            QTest::newRow("example tried on the simulated pump")
                << yaml << QStringList{"--dry-run", "--speed", "60"} << false << 0
                << "(?s)dry run on the simulated pump, its clock 60 times as fast\n.*step 12 of "
                   "12 .*protocol \"[^\n]*\" done: 12 steps\n$"
                << "Replace the bottle" << QByteArrayList{};
    }
    QTest::newRow("a wrong file says where, sends nothing")
        << head + "  - dose: {volume: 5}\n  - set: {flow_ml_min: 250}\n  - wait: {seconds: x}\n"
        << QStringList{} << false << 2 << "^$"
        << "^dosedeskctl: [^\n]*:5:12: unknown key \"volume\" in dose; accepted: volume_ml, "
           "flow_ml_min\ndosedeskctl: [^\n]*:6:24: flow_ml_min: 250 is out of range; accepted: "
           "0.03 to 100 ml/min\ndosedeskctl: [^\n]*:7:21: seconds: \"x\" is not a number"
        << QByteArrayList{};
    QTest::newRow("through a panel whose pump is another")
        << QString(everyStep).replace("pump: 0", "pump: 5") << QStringList{} << true << 2 << ""
        << "step 1 of 10 .*: prime: meant for the pump at address 5; this line's pump is at "
           "address 0\n$"
        << QByteArrayList{};
    QTest::newRow("a step without a pump") << "dosedesk-protocol: 1\nsteps:\n  - stop: {}\n"
                                           << QStringList{} << false << 2 << "^$"
                                           << ":3:5: a step without a pump" << QByteArrayList{};
    QTest::newRow("a step the pump refuses stops the pump")
        << head + "  - start: {}\n  - set: {flow_ml_min: 50}\n"
        << QStringList{} << false << 1 << ""
        << "step 2 of 2 \\(line 6: set flow_ml_min 50\\): set-flow: refused by the pump"
        << QByteArrayList{"KY1", "RV00050000", "KY0", "..."};
}

void TestDosedeskctl::protocol()
{
    QFETCH(QString, yaml);
    QFETCH(QStringList, arguments);
    QFETCH(bool, panel);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, message);
    QFETCH(QByteArrayList, sent);
    Simulator::PtyPump& target = panel ? rig->pump : *direct;
    // The small pump takes at most 20 ml/min, and the check knows no model.
    target.setValue("SV", QTest::currentDataTag()
                                  == QByteArray("a step the pump refuses stops "
                                                "the pump")
                              ? 102
                              : 110);
    target.setValue("SP", 1);
    target.clearLog();
    QFile file(runtime.filePath("protocol.yaml"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(yaml.toUtf8());
    file.close();
    // The run record the steps go to: the panel's, or the tool's own for its own line.
    const bool dry = arguments.contains("--dry-run");
    const QString recordName = panel ? rig->window->runPanel().recorder().copyName()
                               : dry ? QStringLiteral("dry-run")
                                     : QStringLiteral("dosedeskctl");
    QFile record(GUI::RunRecordFile(GUI::RunRecorder::standardFolder(), recordName, {})
                     .pathFor(QDateTime::currentDateTimeUtc().date()));
    // Only what this run adds counts; the panel keeps the file open, so it stays.
    const qint64 recordBefore = record.size();
    QProcess program;
    program.start(DOSEDESKCTL, (panel ? QStringList{"--panel", QString::number(instanceNumber())}
                                      : QStringList{"--port", target.devicePath()})
                                   + QStringList{"run", file.fileName()} + arguments);
    program.write("\n"); // Enter, for a step that asks
    program.closeWriteChannel();
    // The panel serves the socket from this thread's event loop.
    QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 60000));
    const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(QRegularExpression(output).match(out).hasMatch(), qPrintable(out + err));
    QVERIFY2(QRegularExpression(message).match(err).hasMatch(), qPrintable(err));
    QCOMPARE(program.exitCode(), exitCode);
    QVERIFY(receivedInOrder(target, sent));
    if (exitCode != 0 || arguments.contains("--check"))
        return;
    // Every step, its beginning and its end, is in the record; a dry run's rows say so.
    QVERIFY(record.open(QIODevice::ReadOnly) && record.seek(recordBefore));
    const QString rows = QString::fromUtf8(record.readAll());
    const QString mark = dry ? QStringLiteral("dry run: ") : QString();
    const int steps =
        int(rows.count(QRegularExpression(",\"?" + mark + "step \\d+ of \\d+ .* done")));
    QVERIFY2(rows.contains(QRegularExpression(",\"?" + mark + "step 1 of (\\d+) .* begins[^$]*,\"?"
                                              + mark + "step \\1 of \\1 .* done")),
             qPrintable(rows));
    QVERIFY2(rows.contains(mark + "protocol \"\"") && steps > 1, qPrintable(rows));
}

QTEST_MAIN(TestDosedeskctl)
#include "tst_dosedeskctl.moc"
