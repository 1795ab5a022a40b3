#include "ptypump.h"
#include "rawport.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

using Simulator::PtyPump;

namespace {

PtyPump::Options fastOptions(int address = 0)
{
    PtyPump::Options options;
    options.address = address;
    options.pacing = false;
    options.turnaroundMs = 0;
    return options;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestPtyPump : public QObject
{
    Q_OBJECT

private slots:
    void startIsAcknowledged();
    void readingGetsAnswerFrame();
    void otherAddressGetsNothing();
    void faultsSwitchWhileRunning();
    void lateCheckByte();
    void garbageNow();
    void unplugAndReplug();
    void serialPortWorksAndSeesUnplug();
    void pacing_data();
    void pacing();
    void idlePumpDoesNotSpin();
};

void TestPtyPump::startIsAcknowledged()
{
    PtyPump pump(fastOptions());
    QVERIFY2(pump.start(), qPrintable(pump.errorString()));
    RawPort port(pump.devicePath());
    QVERIFY(port.isOpen());
    const QByteArray start = QByteArray::fromHex("0230304B59310322");
    QCOMPARE(start, commandFrame("00KY1"));
    QVERIFY(port.write(start));
    QCOMPARE(port.read(), QByteArray("\x06"));
    QVERIFY(pump.waitForFrames(1, 1000));
    QCOMPARE(pump.receivedFrames(), QList<QByteArray>{start});
    QCOMPARE(pump.value("SS1").value_or(0) & 1, 1);
}

void TestPtyPump::readingGetsAnswerFrame()
{
    PtyPump pump(fastOptions(3));
    QVERIFY(pump.start());
    QVERIFY(pump.setValue("DV", 12500));
    RawPort port(pump.devicePath());
    QVERIFY(port.write(commandFrame("03?DV")));
    const QByteArray answer = port.read();
    QCOMPARE(answer, QByteArray("\x02" "12500\x03" "7"));
    QCOMPARE(pump.exchanges().value(0).answer, answer);
}

void TestPtyPump::otherAddressGetsNothing()
{
    PtyPump pump(fastOptions(3));
    QVERIFY(pump.start());
    RawPort port(pump.devicePath());
    QVERIFY(port.write(commandFrame("04KY1")));
    QVERIFY(pump.waitForFrames(1, 1000));
    QCOMPARE(port.read(150), QByteArray());
    QCOMPARE(pump.value("SS1"), qint64(0));
}

void TestPtyPump::faultsSwitchWhileRunning()
{
    PtyPump pump(fastOptions());
    QVERIFY(pump.start());
    RawPort port(pump.devicePath());
    pump.modifyFaults([](Simulator::Faults& faults) { faults.silent = true; });
    QVERIFY(port.write(commandFrame("00KY1")));
    QCOMPARE(port.read(150), QByteArray());
    // Silence is a dead transmitter: the command still took effect.
    QCOMPARE(pump.value("SS1").value_or(0) & 1, 1);
    pump.setFaults({});
    pump.modifyFaults([](Simulator::Faults& faults) { faults.nakAll = true; });
    QVERIFY(port.write(commandFrame("00KY0")));
    QCOMPARE(port.read(), QByteArray("\x15"));
    pump.setFaults({});
    QVERIFY(port.write(commandFrame("00KY0")));
    QCOMPARE(port.read(), QByteArray("\x06"));
}

void TestPtyPump::lateCheckByte()
{
    PtyPump pump(fastOptions());
    QVERIFY(pump.start());
    RawPort port(pump.devicePath());
    pump.modifyFaults([](Simulator::Faults& faults) { faults.lateCheckByteMs = 200; });
    QVERIFY(port.write(commandFrame("00?LS")));
    QCOMPARE(port.read(120), QByteArray("\x02" "0\x03"));
    QCOMPARE(port.read(300), QByteArray("1"));
}

void TestPtyPump::garbageNow()
{
    PtyPump pump(fastOptions());
    QVERIFY(pump.start());
    RawPort port(pump.devicePath());
    pump.injectGarbage(40);
    const QByteArray noise = port.read();
    QCOMPARE(noise.size(), 40);
    QCOMPARE(noise.left(4), QByteArray("\x00\x02\x03\x06", 4));

    pump.injectGarbage(10, true);
    QCOMPARE(port.read(100), QByteArray());
    QVERIFY(port.write(commandFrame("00KY0")));
    const QByteArray answer = port.read();
    QCOMPARE(answer.size(), 11);
    QCOMPARE(answer.back(), '\x06');
}

void TestPtyPump::unplugAndReplug()
{
    QTemporaryDir folder;
    PtyPump::Options options = fastOptions();
    options.linkPath = folder.filePath(QStringLiteral("velor"));
    PtyPump pump(options);
    QVERIFY(pump.start());
    const QString firstDevice = pump.devicePath();
    QCOMPARE(QFileInfo(options.linkPath).symLinkTarget(), firstDevice);

    RawPort before(options.linkPath);
    QVERIFY(before.isOpen());
    QVERIFY(pump.unplug());
    QVERIFY(!pump.isPlugged());
    QVERIFY(!QFileInfo::exists(options.linkPath));
    before.read(100);
    QVERIFY(before.hungUp);

    QVERIFY(pump.replug());
    QVERIFY(pump.isPlugged());
    QCOMPARE(QFileInfo(options.linkPath).symLinkTarget(), pump.devicePath());
    RawPort after(options.linkPath);
    QVERIFY(after.write(commandFrame("00?SI")));
    QCOMPARE(after.read(), QByteArray("\x02" "00\x03" "\x01"));
    pump.stop();
    QVERIFY(!QFileInfo(options.linkPath).isSymLink());
}

void TestPtyPump::serialPortWorksAndSeesUnplug()
{
    PtyPump pump(fastOptions());
    QVERIFY(pump.start());
    QSerialPort port(pump.devicePath());
    for (int round = 0; round < 2; ++round) { // opening again after a close works as well
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.setBaudRate(QSerialPort::Baud9600);
        port.write(commandFrame("00KY1"));
        QVERIFY(port.waitForBytesWritten(1000));
        QVERIFY(port.waitForReadyRead(1000));
        QCOMPARE(port.readAll(), QByteArray("\x06"));
        if (round == 0)
            port.close();
    }
    pump.unplug();
    port.waitForReadyRead(200);
    QVERIFY(port.error() != QSerialPort::NoError);
}

void TestPtyPump::pacing_data()
{
    QTest::addColumn<bool>("paced");
    QTest::newRow("9600 baud") << true;
    QTest::newRow("no pacing") << false;
}

void TestPtyPump::pacing()
{
    QFETCH(bool, paced);

    PtyPump::Options options = fastOptions();
    options.pacing = paced;
    PtyPump pump(options);
    QVERIFY(pump.start());
    QVERIFY(pump.setValue("DV", 1234567));
    RawPort port(pump.devicePath());
    QVERIFY(port.write(commandFrame("00?DV")));
    const QByteArray answer = port.read(40);
    QCOMPARE(answer.size(), 10);
    if (paced) {
        // The last of the ten bytes cannot leave before nine byte times (about 9.4 ms) have
        // passed since the frame came in; lateness is left to the machine's load.
        QVERIFY2(port.lastByteUs >= 9000 && port.lastByteUs < 200000,
                 qPrintable(QString::number(port.lastByteUs)));
    } else {
        const qint64 spreadUs = port.lastByteUs - port.firstByteUs;
        QVERIFY2(spreadUs <= 3000, qPrintable(QString::number(spreadUs)));
    }
}

void TestPtyPump::idlePumpDoesNotSpin()
{
    PtyPump pump(fastOptions());
    QVERIFY(pump.start());
    {
        // A user that came and went leaves nothing behind that keeps the pump busy.
        RawPort port(pump.devicePath());
        QVERIFY(port.write(commandFrame("00KY1")));
        port.read();
    }
    const double before = cpuSeconds();
    QTest::qSleep(400);
    QVERIFY2(cpuSeconds() - before < 0.1, "the pump's thread is busy while nothing happens");
}

QTEST_GUILESS_MAIN(TestPtyPump)
#include "tst_ptypump.moc"
