#include "ptypump.h"
#include "pumpcontrol.h"
#include "rawport.h"
#include "simulatorprocess.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using Simulator::Faults;
using Simulator::PtyPump;
using Simulator::PumpControl;
using Simulator::SimulatorProcess;

namespace {

// Sends a command frame on a raw port and returns what comes back before 150 ms of silence.
QByteArray exchange(const QString& path, const QByteArray& addressAndBody)
{
    RawPort port(path);
    if (!port.isOpen() || !port.write(commandFrame(addressAndBody)))
        return "no port";
    return port.read(150);
}

} // namespace

class TestSimulatorProcess : public QObject
{
    Q_OBJECT

private slots:
    void controlLines_data();
    void controlLines();
    void controlChangesPump();
    void programServesAndObeys();
    void programOptions();
};

void TestSimulatorProcess::controlLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("lateMs");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<bool>("silent");

    QTest::newRow("silent on") << "silent on" << true << 0 << 0 << true;
    QTest::newRow("late default") << "late-lrc on" << true << 200 << 0 << false;
    QTest::newRow("late 350") << "  late-lrc   350 " << true << 350 << 0 << false;
    QTest::newRow("chunked default") << "chunked on" << true << 0 << 3 << false;
    QTest::newRow("chunked 5 10") << "chunked 5 10" << true << 0 << 5 << false;
    QTest::newRow("chunked 5") << "chunked 5" << false << 0 << 0 << false;
    QTest::newRow("error bits 256") << "error-bits 256" << false << 0 << 0 << false;
    QTest::newRow("garbage later") << "garbage 5 later" << false << 0 << 0 << false;
    QTest::newRow("set unknown") << "set XY 5" << false << 0 << 0 << false;
    QTest::newRow("unknown") << "explode" << false << 0 << 0 << false;
    QTest::newRow("empty") << "   " << false << 0 << 0 << false;
}

void TestSimulatorProcess::controlLines()
{
    QFETCH(QString, line);
    QFETCH(bool, ok);
    QFETCH(int, lateMs);
    QFETCH(int, chunkSize);
    QFETCH(bool, silent);

    PtyPump pump;
    PumpControl control(pump);
    const PumpControl::Result result = control.apply(line);
    QCOMPARE(result.ok, ok);
    QVERIFY(PumpControl::replyLine(result).startsWith(ok ? "ok" : "error "));
    const Faults faults = pump.faults();
    QCOMPARE(faults.lateCheckByteMs, lateMs);
    QCOMPARE(faults.chunkSize, chunkSize);
    QCOMPARE(faults.silent, silent);
}

void TestSimulatorProcess::controlChangesPump()
{
    PtyPump pump;
    PumpControl control(pump);
    QVERIFY(control.apply("set DV 12500").ok);
    QCOMPARE(control.apply("get DV").message, QString("12500"));
    QVERIFY(control.apply("error-bits 129").ok);
    QCOMPARE(pump.value("SS6"), qint64(129));
    QVERIFY(control.apply("master-stop on").ok);
    QCOMPARE(pump.value("SS4"), qint64(0));
    QVERIFY(control.apply("corrupt 0.25").ok);
    QCOMPARE(pump.faults().corruptFraction, 0.25);
    QVERIFY(control.apply("quit").quit);
}

void TestSimulatorProcess::programServesAndObeys()
{
    SimulatorProcess simulator;
    QVERIFY2(!simulator.program().isEmpty(), "velor-pump-sim not found");
    QVERIFY2(simulator.start({"--no-pacing", "--address", "2"}), qPrintable(simulator.errorString()));
    const QString device = simulator.devicePath();
    QVERIFY(device.startsWith("/dev/"));

    QCOMPARE(exchange(device, "02KY1"), QByteArray("\x06"));
    QCOMPARE(simulator.sendControl("set DV 2500"), QString("ok"));
    QCOMPARE(exchange(device, "02?DV"), QByteArray("\x02" "2500\x03" "\x06"));
    QCOMPARE(simulator.sendControl("silent on"), QString("ok"));
    QCOMPARE(exchange(device, "02KY0"), QByteArray());
    QCOMPARE(simulator.sendControl("silent off"), QString("ok"));
    QVERIFY(simulator.sendControl("nonsense").startsWith("error"));

    QVERIFY(simulator.sendControl("replug").startsWith("ok /dev/"));
    QVERIFY(simulator.devicePath() != device || QFileInfo::exists(device));
    QCOMPARE(exchange(simulator.devicePath(), "02KY0"), QByteArray("\x06"));
    QCOMPARE(simulator.sendControl("frames"), QString("ok 4"));

    const QByteArray log = simulator.readLog();
    QVERIFY2(log.contains("<STX>02KY1<ETX>"), log.constData());
    QVERIFY(log.contains("-> ACK"));
    QVERIFY(log.contains("nothing (silent)"));
    simulator.stop();
    QVERIFY(!simulator.isRunning());
}

void TestSimulatorProcess::programOptions()
{
    QTemporaryDir folder;
    const QString link = folder.filePath("pump");
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--no-pacing", "--model", "102", "--link", link, "--nak-all"}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), simulator.devicePath());
    QCOMPARE(exchange(link, "00?SV"), QByteArray("\x15"));
    QCOMPARE(simulator.sendControl("nak-all off"), QString("ok"));
    QCOMPARE(exchange(link, "00?SV"), QByteArray("\x02" "0010201023\x03" "\x02"));
    simulator.stop();
    QVERIFY(!QFileInfo(link).isSymLink());

    SimulatorProcess refused;
    QVERIFY(!refused.start({"--model", "105"}));
}

QTEST_GUILESS_MAIN(TestSimulatorProcess)
#include "tst_simulatorprocess.moc"
