#include "pumpmodel.h"

#include <QTest>

using Simulator::PumpModel;
using Simulator::Reply;
using Kind = Reply::Kind;

Q_DECLARE_METATYPE(Simulator::Reply::Kind)

class TestPumpModel : public QObject
{
    Q_OBJECT

private slots:
    void writesAreCheckedAndReadBack_data();
    void writesAreCheckedAndReadBack();
    void readingAnswers_data();
    void readingAnswers();
    void modelDecidesMaximumFlowRate_data();
    void modelDecidesMaximumFlowRate();
    void volumeGrowsAtFlowRate();
    void dispenseByVolumeStopsAtTarget();
    void dispenseTimeLimitsRun();
    void cyclesWithPause();
    void endlessCyclesKeepGoing();
    void stopResetsElapsedTime();
    void pauseHolds();
    void primeRunsUntilAnotherKey();
    void statusWordsFollowTheRun();
    void masterStopStopsAndRefusesStart();
    void errorBitsShowInStatus();
    void factoryDefaultsKeepLinkSettings();
    void timeFormat_data();
    void timeFormat();

private:
    static QByteArray ask(PumpModel& pump, const QByteArray& body, qint64 nowMs = 0)
    {
        return pump.handle(body, nowMs).data;
    }
};

void TestPumpModel::writesAreCheckedAndReadBack_data()
{
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<Kind>("reply");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("answer"); // what the query gives afterwards

    QTest::newRow("volume") << QByteArray("DV00012500") << Kind::Ack << QByteArray("?DV") << QByteArray("12500");
    QTest::newRow("volume negative") << QByteArray("DV0000-250") << Kind::Nak << QByteArray("?DV") << QByteArray("10000");
    QTest::newRow("volume empty") << QByteArray("DV") << Kind::Nak << QByteArray("?DV") << QByteArray("10000");
    QTest::newRow("flow rate") << QByteArray("RV00050000") << Kind::Ack << QByteArray("?RV") << QByteArray("50000");
    QTest::newRow("mode") << QByteArray("MS1") << Kind::Ack << QByteArray("?MS") << QByteArray("1");
    QTest::newRow("mode 3") << QByteArray("MS3") << Kind::Nak << QByteArray("?MS") << QByteArray("0");
    QTest::newRow("dispense time") << QByteArray("DT01020300") << Kind::Ack << QByteArray("?DT") << QByteArray("01020300");
    QTest::newRow("cycles") << QByteArray("DN01000") << Kind::Ack << QByteArray("?DN") << QByteArray("1000");
    QTest::newRow("language 6") << QByteArray("LS6") << Kind::Ack << QByteArray("?LS") << QByteArray("6");
    QTest::newRow("language 7") << QByteArray("LS7") << Kind::Nak << QByteArray("?LS") << QByteArray("0");
    QTest::newRow("contrast 100") << QByteArray("LC100") << Kind::Ack << QByteArray("?LC") << QByteArray("100");
    QTest::newRow("contrast 101") << QByteArray("LC101") << Kind::Nak << QByteArray("?LC") << QByteArray("50");
    QTest::newRow("calibration 80 %") << QByteArray("CH08000") << Kind::Ack << QByteArray("?CH") << QByteArray("8000");
    QTest::newRow("calibration 120 %") << QByteArray("CH12000") << Kind::Ack << QByteArray("?CH") << QByteArray("12000");
    QTest::newRow("calibration 79.9 %") << QByteArray("CH07990") << Kind::Nak << QByteArray("?CH") << QByteArray("10000");
    QTest::newRow("calibration 120.1 %") << QByteArray("CH12010") << Kind::Nak << QByteArray("?CH") << QByteArray("10000");
    QTest::newRow("input 1 reset") << QByteArray("L108") << Kind::Nak << QByteArray("?L1") << QByteArray("0");
    QTest::newRow("input 2 reset & prime") << QByteArray("L210") << Kind::Ack << QByteArray("?L2") << QByteArray("10");
    QTest::newRow("input 2 value 7") << QByteArray("L207") << Kind::Nak << QByteArray("?L2") << QByteArray("0");
    QTest::newRow("output 5") << QByteArray("RS5") << Kind::Nak << QByteArray("?RS") << QByteArray("0");
    QTest::newRow("analog 0 .. 5 V") << QByteArray("RA3") << Kind::Ack << QByteArray("?RA") << QByteArray("3");
    QTest::newRow("analog 4") << QByteArray("RA4") << Kind::Nak << QByteArray("?RA") << QByteArray("9");
    QTest::newRow("factory mode") << QByteArray("PF!1") << Kind::Ack << QByteArray("?PF!") << QByteArray("1");
    QTest::newRow("stroke volume") << QByteArray("ZF!00250") << Kind::Ack << QByteArray("?ZF!") << QByteArray("250");
    QTest::newRow("pump model") << QByteArray("PM!4") << Kind::Ack << QByteArray("?PM!") << QByteArray("4");
    QTest::newRow("pump model 6") << QByteArray("PM!6") << Kind::Nak << QByteArray("?PM!") << QByteArray("1");
    QTest::newRow("protocol answer 2 is off") << QByteArray("SP2") << Kind::Ack << QByteArray("?SP") << QByteArray("0");
    QTest::newRow("address") << QByteArray("AD05") << Kind::Ack << QByteArray("?AD") << QByteArray("5");
    QTest::newRow("address 100") << QByteArray("AD100") << Kind::Nak << QByteArray("?AD") << QByteArray("0");
    QTest::newRow("letters in value") << QByteArray("LS1a") << Kind::Nak << QByteArray("?LS") << QByteArray("0");
    QTest::newRow("unknown code") << QByteArray("QQ1") << Kind::Nak << QByteArray("?DV") << QByteArray("10000");
    QTest::newRow("key 4") << QByteArray("KY4") << Kind::Nak << QByteArray("?SS1") << QByteArray("000");
}

void TestPumpModel::writesAreCheckedAndReadBack()
{
    QFETCH(QByteArray, write);
    QFETCH(Kind, reply);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, answer);

    PumpModel pump;
    QCOMPARE(pump.handle(write, 0).kind, reply);
    const Reply read = pump.handle(query, 0);
    QCOMPARE(read.kind, Kind::Data);
    QCOMPARE(read.data, answer);
}

void TestPumpModel::readingAnswers_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("version 110") << 110 << 0 << QByteArray("?SV") << Kind::Data << QByteArray("0011001023");
    QTest::newRow("version 102") << 102 << 0 << QByteArray("?SV") << Kind::Data << QByteArray("0010201023");
    QTest::newRow("model index 102") << 102 << 0 << QByteArray("?PM!") << Kind::Data << QByteArray("3");
    QTest::newRow("comm check") << 110 << 7 << QByteArray("?SI") << Kind::Data << QByteArray("07");
    QTest::newRow("address-only") << 110 << 7 << QByteArray() << Kind::Data << QByteArray("07");
    QTest::newRow("stroke volume") << 110 << 0 << QByteArray("?ZF!") << Kind::Data << QByteArray("202");
    QTest::newRow("status 2") << 110 << 0 << QByteArray("?SS2") << Kind::Data << QByteArray("001");
    QTest::newRow("status 4") << 110 << 0 << QByteArray("?SS4") << Kind::Data << QByteArray("008");
    QTest::newRow("status 7") << 110 << 0 << QByteArray("?SS7") << Kind::Nak << QByteArray();
    QTest::newRow("status 12") << 110 << 0 << QByteArray("?SS12") << Kind::Nak << QByteArray();
    QTest::newRow("elapsed") << 110 << 0 << QByteArray("?TT") << Kind::Data << QByteArray("00000000");
    QTest::newRow("write-only code") << 110 << 0 << QByteArray("?CF") << Kind::Nak << QByteArray();
    QTest::newRow("reading with value") << 110 << 0 << QByteArray("?DV1") << Kind::Nak << QByteArray();
}

void TestPumpModel::readingAnswers()
{
    QFETCH(int, model);
    QFETCH(int, address);
    QFETCH(QByteArray, query);
    QFETCH(Kind, kind);
    QFETCH(QByteArray, answer);

    PumpModel pump(model, address);
    const Reply reply = pump.handle(query, 0);
    QCOMPARE(reply.kind, kind);
    QCOMPARE(reply.data, answer);
}

void TestPumpModel::modelDecidesMaximumFlowRate_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<Kind>("reply");

    QTest::newRow("102 at 20 ml/min") << 102 << QByteArray("RV00020000") << Kind::Ack;
    QTest::newRow("102 above") << 102 << QByteArray("RV00020001") << Kind::Nak;
    QTest::newRow("110 at 100 ml/min") << 110 << QByteArray("RV00100000") << Kind::Ack;
    QTest::newRow("110 above") << 110 << QByteArray("RV00100001") << Kind::Nak;
}

void TestPumpModel::modelDecidesMaximumFlowRate()
{
    QFETCH(int, model);
    QFETCH(QByteArray, write);
    QFETCH(Kind, reply);

    PumpModel pump(model);
    QCOMPARE(pump.handle(write, 0).kind, reply);
}

void TestPumpModel::volumeGrowsAtFlowRate()
{
    PumpModel pump;
    pump.handle("RV00006000", 0); // 6 ml/min = 0.1 ml/s
    QCOMPARE(pump.handle("KY1", 1000).kind, Kind::Ack);
    QCOMPARE(ask(pump, "?TV", 1000), QByteArray("0"));
    QCOMPARE(ask(pump, "?TV", 11000), QByteArray("1000"));
    QCOMPARE(ask(pump, "?TT", 11000), QByteArray("00001000"));
    // A new flow rate counts from the moment it arrives.
    pump.handle("RV00012000", 11000);
    QCOMPARE(ask(pump, "?TV", 16000), QByteArray("2000"));
    QCOMPARE(ask(pump, "?TT", 3'737'250), QByteArray("01021625"));
}

void TestPumpModel::dispenseByVolumeStopsAtTarget()
{
    PumpModel pump;
    pump.handle("MS1", 0);
    pump.handle("DV00001000", 0);
    pump.handle("RV00060000", 0); // 1 ml/s
    pump.handle("KY1", 0);
    QCOMPARE(ask(pump, "?SS1", 999), QByteArray("001"));
    QCOMPARE(ask(pump, "?TV", 1000), QByteArray("1000"));
    QCOMPARE(ask(pump, "?SS1", 1000), QByteArray("000"));
    QCOMPARE(ask(pump, "?TV", 5000), QByteArray("1000"));
    // The elapsed time stays on show until Stop or the next Start.
    QCOMPARE(ask(pump, "?TT", 5000), QByteArray("00000100"));
}

void TestPumpModel::dispenseTimeLimitsRun()
{
    PumpModel pump;
    pump.handle("DT00000200", 0); // 2 s
    pump.handle("RV00060000", 0);
    pump.handle("KY1", 0);
    QCOMPARE(ask(pump, "?TV", 60000), QByteArray("2000"));
    QCOMPARE(ask(pump, "?TT", 60000), QByteArray("00000200"));
    QCOMPARE(pump.phase(), PumpModel::Phase::Idle);
}

void TestPumpModel::cyclesWithPause()
{
    PumpModel pump;
    pump.handle("MS1", 0);
    pump.handle("DV00000500", 0);
    pump.handle("RV00060000", 0); // 0.5 s per cycle
    pump.handle("DB00002", 0);    // 2 s between cycles
    pump.handle("DN00003", 0);
    pump.handle("KY1", 0);
    pump.advanceTo(600);
    QCOMPARE(pump.phase(), PumpModel::Phase::CyclePause);
    QCOMPARE(ask(pump, "?SS1", 600), QByteArray("000"));
    QCOMPARE(ask(pump, "?SS4", 600), QByteArray("009")); // dispense run still in progress
    pump.advanceTo(2600);
    QCOMPARE(pump.phase(), PumpModel::Phase::Running);
    QCOMPARE(pump.cycle(), 2);
    QCOMPARE(ask(pump, "?TV", 2600), QByteArray("600"));
    QCOMPARE(ask(pump, "?TV", 100000), QByteArray("1500"));
    QCOMPARE(pump.phase(), PumpModel::Phase::Idle);
    QCOMPARE(pump.cycle(), 3);
}

void TestPumpModel::endlessCyclesKeepGoing()
{
    PumpModel pump;
    pump.handle("MS1", 0);
    pump.handle("DV00000000", 0); // an empty cycle without pause must not hang
    pump.handle("DN01000", 0);
    pump.handle("KY1", 0);
    pump.advanceTo(10);
    QCOMPARE(pump.phase(), PumpModel::Phase::Idle);

    pump.handle("DV00000100", 0);
    pump.handle("RV00060000", 0); // 0.1 s per cycle
    pump.handle("KY1", 10);
    QCOMPARE(ask(pump, "?TV", 100060), QByteArray("100050"));
    QCOMPARE(pump.cycle(), 1001);
    QCOMPARE(pump.phase(), PumpModel::Phase::Running);
}

void TestPumpModel::stopResetsElapsedTime()
{
    PumpModel pump;
    pump.handle("KY1", 0);
    QCOMPARE(ask(pump, "?TT", 1500), QByteArray("00000150"));
    QCOMPARE(pump.handle("KY0", 1500).kind, Kind::Ack);
    QCOMPARE(ask(pump, "?TT", 3000), QByteArray("00000000"));
    QCOMPARE(ask(pump, "?SS1", 3000), QByteArray("000"));
}

void TestPumpModel::pauseHolds()
{
    PumpModel pump;
    pump.handle("RV00060000", 0);
    pump.handle("KY1", 0);
    pump.handle("KY3", 1000);
    QCOMPARE(ask(pump, "?TV", 9000), QByteArray("1000"));
    QCOMPARE(ask(pump, "?TT", 9000), QByteArray("00000100"));
    QCOMPARE(ask(pump, "?SS1", 9000), QByteArray("000"));
    QCOMPARE(ask(pump, "?SS3", 9000), QByteArray("001"));
    pump.handle("KY1", 9000); // resumes without starting over
    QCOMPARE(ask(pump, "?TV", 10000), QByteArray("2000"));
}

void TestPumpModel::primeRunsUntilAnotherKey()
{
    PumpModel pump;
    pump.handle("KY2", 0);
    QCOMPARE(pump.phase(), PumpModel::Phase::Priming);
    QCOMPARE(ask(pump, "?SS1", 5000), QByteArray("001"));
    QCOMPARE(ask(pump, "?SS3", 5000), QByteArray("000"));
    pump.handle("KY3", 5000);
    QCOMPARE(ask(pump, "?SS1", 5000), QByteArray("000"));
    pump.handle("KY2", 6000);
    pump.handle("KY0", 7000);
    QCOMPARE(pump.phase(), PumpModel::Phase::Idle);
}

void TestPumpModel::statusWordsFollowTheRun()
{
    PumpModel pump;
    pump.handle("MS2", 0);
    pump.handle("KY1", 0);
    QCOMPARE(ask(pump, "?SS1", 10), QByteArray("001"));
    QCOMPARE(ask(pump, "?SS3", 10), QByteArray("000"));
    QCOMPARE(ask(pump, "?SS4", 10), QByteArray("009"));
    pump.handle("MS0", 10);
    QCOMPARE(ask(pump, "?SS3", 20), QByteArray("001"));
    QCOMPARE(ask(pump, "?SS4", 20), QByteArray("008"));
}

void TestPumpModel::masterStopStopsAndRefusesStart()
{
    PumpModel pump;
    pump.handle("KY1", 0);
    pump.setMasterStop(true);
    QCOMPARE(ask(pump, "?SS1", 100), QByteArray("000"));
    QCOMPARE(ask(pump, "?SS4", 100), QByteArray("000"));
    QCOMPARE(pump.handle("KY1", 100).kind, Kind::Nak);
    QCOMPARE(pump.handle("KY2", 100).kind, Kind::Nak);
    pump.setMasterStop(false);
    QCOMPARE(pump.handle("KY1", 100).kind, Kind::Ack);
}

void TestPumpModel::errorBitsShowInStatus()
{
    PumpModel pump;
    pump.raiseErrorBits(0x81);
    QCOMPARE(ask(pump, "?SS6"), QByteArray("129"));
    QCOMPARE(ask(pump, "?SS1"), QByteArray("002"));
    pump.raiseErrorBits(0x20);
    QCOMPARE(ask(pump, "?SS2"), QByteArray("000")); // motor no longer adjusted
    pump.clearErrorBits(0xFF);
    QCOMPARE(ask(pump, "?SS1"), QByteArray("000"));
    QCOMPARE(ask(pump, "?SS2"), QByteArray("001"));
}

void TestPumpModel::factoryDefaultsKeepLinkSettings()
{
    PumpModel pump(110, 4);
    for (const char* body : {"LS3", "CH09000", "DV00000500", "ZF!00300", "SP0", "KY1"})
        pump.handle(body, 0);
    QCOMPARE(pump.handle("IP", 1000).kind, Kind::Ack);
    QCOMPARE(ask(pump, "?LS", 1000), QByteArray("0"));
    QCOMPARE(ask(pump, "?CH", 1000), QByteArray("10000"));
    QCOMPARE(ask(pump, "?DV", 1000), QByteArray("10000"));
    QCOMPARE(ask(pump, "?SS1", 1000), QByteArray("000"));
    QCOMPARE(ask(pump, "?ZF!", 1000), QByteArray("300"));
    QCOMPARE(ask(pump, "?SP", 1000), QByteArray("0"));
    QCOMPARE(pump.address(), 4);
}

void TestPumpModel::timeFormat_data()
{
    QTest::addColumn<qint64>("milliseconds");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("zero") << qint64(0) << QByteArray("00000000");
    QTest::newRow("hundredths") << qint64(459) << QByteArray("00000045");
    QTest::newRow("1 h 2 min 3.45 s") << qint64(3'723'450) << QByteArray("01020345");
    QTest::newRow("over 99 h") << qint64(360'000'000) << QByteArray("100000000");
}

void TestPumpModel::timeFormat()
{
    QFETCH(qint64, milliseconds);
    QFETCH(QByteArray, text);

    QCOMPARE(PumpModel::formatTime(milliseconds), text);
    QCOMPARE(PumpModel::parseTime(text.toLongLong()), milliseconds / 10 * 10);
}

QTEST_APPLESS_MAIN(TestPumpModel)
#include "tst_pumpmodel.moc"
