#include "answershaper.h"
#include "pumpengine.h"
#include "rawport.h"

#include <QTest>

using Simulator::AnswerShaper;
using Simulator::Faults;
using Simulator::PumpEngine;
using Simulator::ReceivedFrame;
using Simulator::Reply;
using Simulator::Segment;

namespace {

QByteArray onLine(const QList<ReceivedFrame>& frames)
{
    QByteArray bytes;
    for (const ReceivedFrame& received : frames)
        bytes += PumpEngine::encode(received.reply);
    return bytes;
}

QByteArray joined(const QList<Segment>& segments)
{
    QByteArray bytes;
    for (const Segment& segment : segments)
        bytes += segment.bytes;
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(Simulator::Reply)

class TestPumpEngine : public QObject
{
    Q_OBJECT

private slots:
    void startFrameForAddressOne();
    void framesAmidNoise_data();
    void framesAmidNoise();
    void frameInPieces();
    void otherAddressIsIgnored();
    void wrongCheckByte();
    void protocolAnswersOff();
    void newAddressAfterAcknowledge();
    void refuseAllLeavesModelAlone();
    void shaping_data();
    void shaping();
    void lateAndChunked();
    void garbageComesFirst();
    void zeroCheckSpelling();
    void corruptionChangesBytes();
};

void TestPumpEngine::startFrameForAddressOne()
{
    PumpEngine engine(110, 1);
    const QByteArray start = QByteArray::fromHex("0230314B59310323");
    const QList<ReceivedFrame> frames = engine.receive(start, 0);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].frame, start);
    QCOMPARE(onLine(frames), QByteArray("\x06"));
    QCOMPARE(engine.model().statusWord(1) & 1, 1);
}

void TestPumpEngine::framesAmidNoise_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("answers");

    const QByteArray start = commandFrame("08KY1");
    const QByteArray read = commandFrame("08?LS");
    const QByteArray readAnswer("\x02" "0\x03" "1");
    QTest::newRow("clean") << start + read << '\x06' + readAnswer;
    QTest::newRow("noise between") << QByteArray("\x00\x15\x03zz", 5) + start + QByteArray("\x06\xff") + read
                                   << '\x06' + readAnswer;
    QTest::newRow("stray STX before") << QByteArray("\x02\x00\x03", 3) + start << QByteArray("\x06");
    QTest::newRow("opening without close") << QByteArray("\x02" "08K") + start << QByteArray("\x06");
    QTest::newRow("check byte is STX") << commandFrame("08?SS4") + read
                                       << QByteArray("\x02" "008\x03" "9") + readAnswer;
}

void TestPumpEngine::framesAmidNoise()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, answers);

    PumpEngine engine(110, 8);
    QCOMPARE(commandFrame("08?SS4").back(), '\x02');
    QCOMPARE(onLine(engine.receive(stream, 0)), answers);
}

void TestPumpEngine::frameInPieces()
{
    PumpEngine engine;
    const QByteArray bytes = commandFrame("00?DV");
    QList<ReceivedFrame> frames;
    for (const char byte : bytes)
        frames += engine.receive(QByteArray(1, byte), 0);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].frame, bytes);
    QCOMPARE(frames[0].reply.data, QByteArray("10000"));
}

void TestPumpEngine::otherAddressIsIgnored()
{
    PumpEngine engine(110, 7);
    const QList<ReceivedFrame> frames = engine.receive(commandFrame("00KY1") + commandFrame("07KY1"), 0);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[0].outcome, ReceivedFrame::Outcome::OtherAddress);
    QCOMPARE(frames[0].reply.kind, Reply::Kind::None);
    QCOMPARE(frames[1].outcome, ReceivedFrame::Outcome::Handled);
    QCOMPARE(onLine(frames), QByteArray("\x06"));
}

void TestPumpEngine::wrongCheckByte()
{
    PumpEngine engine;
    QByteArray start = commandFrame("00KY1");
    start.back() = char(start.back() ^ 0x55);
    const QList<ReceivedFrame> frames = engine.receive(start, 0);
    QCOMPARE(frames[0].outcome, ReceivedFrame::Outcome::BadCheckByte);
    QCOMPARE(onLine(frames), QByteArray("\x15"));
    QCOMPARE(engine.model().phase(), Simulator::PumpModel::Phase::Idle);

    engine.receive(commandFrame("00SP0"), 0);
    QCOMPARE(onLine(engine.receive(start, 0)), QByteArray());
}

void TestPumpEngine::protocolAnswersOff()
{
    PumpEngine engine;
    // The switch itself is still acknowledged: it arrived while answers were on.
    QCOMPARE(onLine(engine.receive(commandFrame("00SP0"), 0)), QByteArray("\x06"));
    const QList<ReceivedFrame> quiet = engine.receive(commandFrame("00KY1") + commandFrame("00LS9"), 0);
    QCOMPARE(onLine(quiet), QByteArray());
    QVERIFY(quiet[0].quietByProtocol);
    QCOMPARE(onLine(engine.receive(commandFrame("00?SP"), 0)), QByteArray("\x02" "0\x03" "1"));
    QCOMPARE(onLine(engine.receive(commandFrame("00SP1"), 0)), QByteArray());
    QCOMPARE(onLine(engine.receive(commandFrame("00KY0"), 0)), QByteArray("\x06"));
}

void TestPumpEngine::newAddressAfterAcknowledge()
{
    PumpEngine engine(110, 0);
    QCOMPARE(onLine(engine.receive(commandFrame("00AD05"), 0)), QByteArray("\x06"));
    QCOMPARE(onLine(engine.receive(commandFrame("00?SI"), 0)), QByteArray());
    QCOMPARE(onLine(engine.receive(commandFrame("05?SI"), 0)), QByteArray("\x02" "05\x03" "\x04"));
}

void TestPumpEngine::refuseAllLeavesModelAlone()
{
    PumpEngine engine;
    engine.setRefuseAll(true);
    QCOMPARE(onLine(engine.receive(commandFrame("00LS3") + commandFrame("00?LS"), 0)), QByteArray("\x15\x15"));
    engine.setRefuseAll(false);
    QCOMPARE(engine.model().value("LS"), qint64(0));
}

void TestPumpEngine::shaping_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("sent");

    const Reply data = Reply::answer("12500");
    const QByteArray frameBytes = PumpEngine::encode(data);
    QByteArray badCheck = frameBytes;
    badCheck.back() = char(badCheck.back() ^ 0x55);
    QTest::newRow("none") << data << QString() << frameBytes;
    QTest::newRow("silent") << data << "silent" << QByteArray();
    QTest::newRow("silent ack") << Reply::ack() << "silent" << QByteArray();
    QTest::newRow("bad check byte") << data << "bad" << badCheck;
    QTest::newRow("bad check byte leaves ACK") << Reply::ack() << "bad" << QByteArray("\x06");
    QTest::newRow("cut at ETX") << data << "cut" << frameBytes.chopped(1);
    QTest::newRow("no reply") << Reply() << QString() << QByteArray();
}

void TestPumpEngine::shaping()
{
    QFETCH(Reply, reply);
    QFETCH(QString, fault);
    QFETCH(QByteArray, sent);

    Faults faults;
    faults.silent = fault == QLatin1String("silent");
    faults.badCheckByte = fault == QLatin1String("bad");
    faults.cutAtEtx = fault == QLatin1String("cut");
    AnswerShaper shaper;
    QCOMPARE(joined(shaper.shape("?DV", reply, faults)), sent);
}

void TestPumpEngine::lateAndChunked()
{
    AnswerShaper shaper;
    Faults faults;
    faults.lateCheckByteMs = 200;
    const QByteArray bytes = PumpEngine::encode(Reply::answer("0011001023"));
    QList<Segment> segments = shaper.shape("?SV", Reply::answer("0011001023"), faults);
    QCOMPARE(segments.size(), 2);
    QCOMPARE(segments[0].bytes, bytes.chopped(1));
    QCOMPARE(segments[1].gapBeforeMs, 200);
    QCOMPARE(segments[1].bytes, bytes.right(1));

    faults = Faults();
    faults.chunkSize = 3;
    faults.chunkGapMs = 30;
    segments = shaper.shape("?SV", Reply::answer("0011001023"), faults);
    QCOMPARE(segments.size(), 5);
    QCOMPARE(joined(segments), bytes);
    QCOMPARE(segments[0].gapBeforeMs, 0);
    QCOMPARE(segments[4].gapBeforeMs, 30);
    QCOMPARE(segments[4].bytes.size(), 1);
}

void TestPumpEngine::garbageComesFirst()
{
    AnswerShaper shaper;
    const QList<Segment> segments = shaper.shape("KY1", Reply::ack(), Faults(), 20);
    const QByteArray bytes = joined(segments);
    QCOMPARE(bytes.size(), 21);
    QCOMPARE(bytes.left(5), QByteArray("\x00\x02\x03\x06\x15", 5));
    QCOMPARE(bytes.back(), '\x06');
}

void TestPumpEngine::zeroCheckSpelling()
{
    // Every value a plain-number answer can carry gets a spelling with the check byte 0 that
    // reads back as the same number.
    for (qint64 value = 0; value <= 200000; value += 7) {
        const QByteArray digits = QByteArray::number(value);
        const QByteArray spelled = AnswerShaper::zeroCheckSpelling(digits);
        const QByteArray bytes = PumpEngine::encode(Reply::answer(spelled));
        QCOMPARE(bytes.back(), '\0');
        bool ok = false;
        QCOMPARE(QString::fromLatin1(spelled).toLongLong(&ok), value);
        QVERIFY(ok);
    }
    Faults faults;
    faults.zeroCheckByte = true;
    AnswerShaper shaper;
    QCOMPARE(joined(shaper.shape("?DV", Reply::answer("12500"), faults)).back(), '\0');
    // Texts read by position keep their form.
    QCOMPARE(joined(shaper.shape("?TT", Reply::answer("00000150"), faults)),
             PumpEngine::encode(Reply::answer("00000150")));
}

void TestPumpEngine::corruptionChangesBytes()
{
    AnswerShaper shaper(7);
    Faults faults;
    faults.corruptFraction = 0.5;
    const Reply reply = Reply::answer(QByteArray(200, '5'));
    const QByteArray clean = PumpEngine::encode(reply);
    const QByteArray sent = joined(shaper.shape("?DV", reply, faults));
    QCOMPARE(sent.size(), clean.size());
    int changed = 0;
    for (int i = 0; i < sent.size(); ++i)
        changed += sent[i] != clean[i] ? 1 : 0;
    QVERIFY2(changed > 60 && changed < 140, qPrintable(QString::number(changed)));
}

QTEST_APPLESS_MAIN(TestPumpEngine)
#include "tst_pumpengine.moc"
