#include "communication.h"
#include "ptypeer.h"

#include <QTest>

using Chunks = QList<PtyPeer::Chunk>;
Q_DECLARE_METATYPE(Chunks)

namespace {

const QByteArray Stx(1, Protocol::STX);
const QByteArray Etx(1, Protocol::ETX);
const QByteArray Ack(1, Protocol::ACK);
const QByteArray Nak(1, Protocol::NAK);

enum class Wait { Acknowledge, Frame };

// One exchange as a command runs it: frame out, wait until done, judge the answer.
QByteArray exchange(Communication& link, const QByteArray& body, Wait wait)
{
    QByteArray frame = Stx + link.addressText() + body + Etx;
    link.sendFrame(frame);
    if (wait == Wait::Acknowledge)
        link.waitForAcknowledge();
    else
        link.waitForFrame();
    return link.readAnswer();
}

} // namespace

// The serial link against a scripted peer on a real pseudo-terminal.
class TestCommunication : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void judging_data();
    void judging();
    void lateCheckByteIsDroppedBeforeNextFrame();
    void answerAfterItsWaitIsNotTakenByNextCommand();
    void unflushedWriteKeepsTheLine();
    void vanishedDeviceCloses_data();
    void vanishedDeviceCloses();

private:
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<Communication> link;
};

void TestCommunication::init()
{
    peer = std::make_unique<PtyPeer>();
    QVERIFY(peer->isValid());
    link = std::make_unique<Communication>();
    link->setCommPortPath(peer->devicePath());
    QVERIFY(link->isOpen());
}

void TestCommunication::cleanup()
{
    link.reset();
    peer.reset();
}

void TestCommunication::judging_data()
{
    QTest::addColumn<Chunks>("answer");
    QTest::addColumn<int>("wait");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("flags"); // ack nak noAnswer recognised
    QTest::addColumn<int>("answerLength");

    const QByteArray good = PtyPeer::withLrc(Stx + "12500" + Etx);
    const int frame = int(Wait::Frame);
    const int ackWait = int(Wait::Acknowledge);
    QTest::newRow("ACK") << Chunks{{Ack, 2}} << ackWait << QByteArray() << "1001" << 0;
    QTest::newRow("NAK") << Chunks{{Nak, 2}} << ackWait << QByteArray() << "0101" << 0;
    QTest::newRow("NAK ends frame wait") << Chunks{{Nak, 2}} << frame << QByteArray() << "0101" << 0;
    QTest::newRow("ACK then bytes") << Chunks{{Ack + "xy", 2}} << ackWait << QByteArray() << "1001" << 0;
    QTest::newRow("bytes then ACK") << Chunks{{"xy" + Ack, 2}} << ackWait << QByteArray() << "0010" << 0;
    QTest::newRow("silent") << Chunks{} << frame << QByteArray() << "0010" << 0;
    QTest::newRow("answer frame") << Chunks{{good, 2}} << frame << QByteArray("12500") << "0001" << 8;
    QTest::newRow("answer in chunks")
        << Chunks{{good.left(2), 2}, {good.mid(2, 3), 60}, {good.mid(5), 60}} << frame
        << QByteArray("12500") << "0001" << 8;
    QByteArray bad = good;
    bad[bad.size() - 1] = char(bad.back() ^ 0x01);
    QTest::newRow("wrong check byte") << Chunks{{bad, 2}} << frame << QByteArray("12500") << "0000" << 8;
    QTest::newRow("cut at ETX") << Chunks{{good.chopped(1), 2}} << frame << QByteArray("1250") << "0000" << 7;
    // "0" ^ STX ^ ETX ^ "1" makes the check byte 0, which the link cannot read but restores.
    QTest::newRow("zero check byte")
        << Chunks{{Stx + "01" + Etx + QByteArray(1, '\0'), 2}} << frame << QByteArray("01") << "0001" << 5;
    QTest::newRow("ETX before STX")
        << Chunks{{Etx + "garbage", 2}} << frame << QByteArray() << "0010" << 0;
    QTest::newRow("zero byte cuts chunk")
        << Chunks{{QByteArray("ab") + '\0' + "cd", 2}} << frame << QByteArray() << "0010" << 0;
    QTest::newRow("two frames, first counts")
        << Chunks{{good + PtyPeer::withLrc(Stx + "7" + Etx), 2}} << frame << QByteArray("12500") << "0001" << 8;
}

void TestCommunication::judging()
{
    QFETCH(Chunks, answer);
    QFETCH(int, wait);
    QFETCH(QString, flags);
    peer->setResponder([answer](const QByteArray&) { return answer; });
    const QByteArray data = exchange(*link, wait == int(Wait::Frame) ? "?DV" : "KY1", Wait(wait));
    QTEST(data, "data");
    QCOMPARE(link->lastAnswerData, data);
    const QString actual = QString::number(link->ackReceived) + QString::number(link->nakReceived)
                           + QString::number(link->noAnswer) + QString::number(link->answerRecognised);
    QCOMPARE(actual, flags);
    QTEST(int(link->lastAnswerLength), "answerLength");
    QVERIFY(link->receiveBuffer.isEmpty());
}

void TestCommunication::lateCheckByteIsDroppedBeforeNextFrame()
{
    const QByteArray frame = PtyPeer::withLrc(Stx + "12500" + Etx);
    peer->setResponder([frame](const QByteArray&) {
        return Chunks{{frame.chopped(1), 2}, {frame.right(1), 250}};
    });
    QCOMPARE(exchange(*link, "?DV", Wait::Frame), QByteArray("1250"));
    QVERIFY(!link->answerRecognised);
    // The late byte belongs to nothing: it must not open the next exchange's answer.
    peer->stayQuiet();
    QVERIFY(peer->waitUntilReplied(10000));
    exchange(*link, "?DV", Wait::Frame);
    QCOMPARE(link->lastRawAnswer, QByteArray());
    QVERIFY(link->noAnswer);
}

void TestCommunication::answerAfterItsWaitIsNotTakenByNextCommand()
{
    // The first answer comes only after its wait is over; the second comes in time. Each
    // command must report its own answer, not the one before it.
    const QByteArray late = PtyPeer::withLrc(Stx + "11111" + Etx);
    const QByteArray onTime = PtyPeer::withLrc(Stx + "22222" + Etx);
    peer->setResponder([late](const QByteArray&) { return Chunks{{late, 200}}; });
    exchange(*link, "?DV", Wait::Frame);
    QVERIFY(link->noAnswer);
    QVERIFY(peer->waitUntilReplied(10000));
    peer->answerWith(onTime);
    QCOMPARE(exchange(*link, "?RV", Wait::Frame), QByteArray("22222"));
}

void TestCommunication::unflushedWriteKeepsTheLine()
{
    // The peer stops reading while it waits before its answer; meanwhile the link writes until
    // the line takes no more. Bytes still under way on an open line are no fault of it.
    peer->setResponder([](const QByteArray&) { return Chunks{{Ack, 500}}; });
    QByteArray frame = Stx + link->addressText() + "KY1" + Etx;
    link->sendFrame(frame);
    QVERIFY(peer->waitForFrames(1, 10000));
    bool flushed = true;
    for (int i = 0; i < 200 && flushed; ++i) {
        QByteArray bytes(1 << 16, '0');
        flushed = link->sendFrame(bytes);
    }
    QVERIFY(link->isOpen());
}

void TestCommunication::vanishedDeviceCloses_data()
{
    QTest::addColumn<int>("exchanges"); // tried on the vanished device
    QTest::newRow("idle line") << 0;
    QTest::newRow("exchanges meet it") << 3;
}

void TestCommunication::vanishedDeviceCloses()
{
    QFETCH(int, exchanges);
    peer->answerWith(Ack);
    exchange(*link, "KY1", Wait::Acknowledge);
    QVERIFY(link->ackReceived);
    peer->unplug();
    // The event loop alone, or the next exchanges as well, meet the vanished device.
    for (int i = 0; i < exchanges; ++i)
        exchange(*link, "?DV", Wait::Frame);
    QTRY_VERIFY_WITH_TIMEOUT(!link->isOpen(), 10000);
    QCOMPARE(link->noAnswer, exchanges > 0);
}

QTEST_GUILESS_MAIN(TestCommunication)
#include "tst_communication.moc"
