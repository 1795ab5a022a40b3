#include "allcommands.h"
#include "communication.h"
#include "ptypeer.h"

#include <QtTest>

#include <climits>
#include <stdexcept>

using namespace BusinessLogic;
using Traits = const CommandTraits*;
using Chunks = QList<PtyPeer::Chunk>;
namespace Table = CommandTable;

Q_DECLARE_METATYPE(Traits)
Q_DECLARE_METATYPE(Chunks)

namespace {

const QByteArray Ack(1, '\x06');
const QByteArray Nak(1, '\x15');
// ACK at once and a data frame 60 ms later: a writing command stops at the ACK, a reading one
// waits on for the frame.
const Chunks AckThenFrame{{Ack, 0}, {PtyPeer::frameOf("4711"), 60}};

} // namespace

// The pump commands against a scripted peer on a real pseudo-terminal: exact bytes on the line,
// the wait each command makes, and what it reports.
class TestCommands : public QObject
{
    Q_OBJECT

    PtyPeer peer;
    Communication link;
    std::vector<std::unique_ptr<Command>> commands = createAllCommands(&link);

    Command& command(const CommandTraits& traits)
    {
        for (const auto& c : commands)
            if (c->getCommandSpezifier() == traits.spezifier)
                return *c;
        throw std::logic_error("no such command");
    }

    // Runs the command and returns the frame the peer received, empty when it received none.
    QByteArray runAndReceive(Command& c)
    {
        const int before = int(peer.receivedFrames().size());
        c.execute();
        return peer.waitForFrames(before + 1, 30) ? peer.receivedFrames().at(before) : QByteArray();
    }

private slots:
    void init()
    {
        link.setCommPortPath(peer.devicePath());
        QVERIFY(link.isOpen());
        link.address = 1;
        peer.answerWith(Nak);
    }

    void goldenFrames_data()
    {
        QTest::addColumn<Traits>("traits");
        QTest::addColumn<qint32>("parameter");
        QTest::addColumn<Chunks>("reply");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("answer");
        const Chunks nak{{Nak, 0}};
        auto row = [](const char* name, const CommandTraits& traits, qint32 parameter, const Chunks& reply,
                      const char* hex, const char* answer) {
            QTest::newRow(name) << &traits << parameter << reply << QByteArray::fromHex(hex) << QByteArray(answer);
        };
        row("start refused", Table::start, 0, nak, "0230314B59310323", "");
        row("reading waits for its frame", Table::getVolume, 0, AckThenFrame, "0230313F4456032D", "4711");
        row("setting stops at the ACK", Table::setVolume, 5000, AckThenFrame, "023031445630303030353030300317", "");
        row("refusal gives the default", Table::setLanguage, 2, nak, "0230314C5332032D", "40");
        row("status word names its page", Table::getPumpStatus, 4, AckThenFrame, "0230313F535334030B", "4711 4");
        row("status word refused", Table::getPumpStatus, 4, nak, "0230313F535334030B", "0 4");
        row("model version refused", Table::getModelVersion, 0, nak, "0230313F5356033A", "0011000000");
        row("factory code", Table::setFactoryPumpStrokeVolume, 202, nak, "0230315A46213030323032030D", "");
        row("communication check refused", Table::executeCommCheck, 0, nak, "0230313F53490325", "-1");
        row("negative in width 1", Table::setAnalogInput, -5, nak, "02303152412D35030B", "9");
    }
    void goldenFrames()
    {
        QFETCH(Traits, traits);
        QFETCH(qint32, parameter);
        QFETCH(Chunks, reply);
        QFETCH(QByteArray, frame);
        peer.setResponder([reply](const QByteArray&) { return reply; });
        Command& c = command(*traits);
        c.setParameter(parameter);
        c.setTextParameter("?ZZ9"); // only the typed-frame command may use a text
        QCOMPARE(runAndReceive(c), frame);
        QCOMPARE(c.getSentFrame(), frame);
        QTEST(c.getAnswer(), "answer");
        // Only an answer a frame brought (the peer's 4711) counts as the pump's.
        QCOMPARE(link.dataFromPump, c.getAnswer().startsWith("4711"));
        // The late frame of AckThenFrame must not meet the next row.
        QVERIFY(peer.waitUntilReplied(10000));
    }

    void valueFormat_data()
    {
        QTest::addColumn<Traits>("traits");
        QTest::addColumn<qint32>("value");
        QTest::addColumn<QByteArray>("body");
        auto add = [](const char* name, const CommandTraits& traits, qint32 value, const char* body) {
            QTest::newRow(name) << &traits << value << QByteArray(body);
        };
        add("negative in width 8", Table::setVolume, -250, "DV0000-250");
        add("overlong in width 8", Table::setVolume, 123456789, "DV123456789");
        add("smallest in width 8", Table::setFlowRate, INT_MIN, "RV-2147483648");
        add("negative in width 2", Table::setDigitalIn2, -1, "L2-1");
        add("overlong in width 3", Table::setDisplayContrast, 1000, "LC1000");
        add("negative in width 5", Table::setDispenseVolumeBreakTime, -7, "DB000-7");
        add("status word beyond one digit", Table::getPumpStatus, 12, "?SS12");
        add("stroke volume zero", Table::setFactoryPumpStrokeVolume, 0, "ZF!00000");
        add("dispense time", Table::setDispenseTime, 1020300, "DT01020300");
    }
    void valueFormat()
    {
        QFETCH(Traits, traits);
        QFETCH(qint32, value);
        QFETCH(QByteArray, body);
        Command& c = command(*traits);
        c.setParameter(value);
        QCOMPARE(runAndReceive(c), PtyPeer::frameOf("01" + body));
    }

    // The link commands send nothing; the address and the check-byte options change what the
    // next frame looks like.
    void linkOptions_data()
    {
        QTest::addColumn<qint32>("address");
        QTest::addColumn<qint32>("invalid");
        QTest::addColumn<qint32>("unused");
        QTest::addColumn<bool>("unusedFirst");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("sentLrcValid");
        const QByteArray start = QByteArray::fromHex("0230314B593103");
        QTest::newRow("both off") << 1 << 0 << 0 << false << start + '\x23' << true;
        QTest::newRow("address 7") << 7 << 0 << 0 << false << PtyPeer::frameOf("07KY1") << true;
        QTest::newRow("address 123") << 123 << 0 << 0 << false << PtyPeer::frameOf("123KY1") << true;
        QTest::newRow("invalid on") << 1 << 1 << 0 << false << start + '\x76' << false;
        QTest::newRow("unused on") << 1 << 0 << 5 << false << start + 'U' << false;
        QTest::newRow("invalid wins over unused") << 1 << -1 << 1 << false << start + '\x76' << false;
        QTest::newRow("unused stays when invalid goes off") << 1 << 0 << 1 << true << start + 'U' << false;
    }
    void linkOptions()
    {
        QFETCH(qint32, address);
        QFETCH(qint32, invalid);
        QFETCH(qint32, unused);
        QFETCH(bool, unusedFirst);
        QFETCH(QByteArray, frame);
        Command& setAddress = command(Table::setCommAddress);
        Command& setInvalid = command(Table::setInvalidLrc);
        Command& setUnused = command(Table::setUnusedLrc);
        setAddress.setParameter(address);
        setInvalid.setParameter(invalid);
        setUnused.setParameter(unused);
        QCOMPARE(runAndReceive(setAddress), QByteArray());
        for (Command* c : unusedFirst ? QList<Command*>{&setUnused, &setInvalid} : QList<Command*>{&setInvalid, &setUnused})
            QCOMPARE(runAndReceive(*c), QByteArray());
        QCOMPARE(link.address, address);
        QTEST(link.sentLrcValid, "sentLrcValid");
        QCOMPARE(runAndReceive(command(Table::start)), frame);
        setInvalid.setParameter(0);
        setUnused.setParameter(0);
        setInvalid.execute();
        setUnused.execute();
    }

    // Replies the pump gives to consecutive commands, and the receive state reported afterwards.
    void commRxState_data()
    {
        QTest::addColumn<QByteArrayList>("replies");
        QTest::addColumn<QByteArray>("state");
        const QByteArray addressOnly = PtyPeer::frameOf("01");
        QTest::newRow("ack") << QByteArrayList{Ack} << QByteArray("1000");
        QTest::newRow("nak") << QByteArrayList{Nak} << QByteArray("0100");
        QTest::newRow("silence") << QByteArrayList{QByteArray()} << QByteArray("0010");
        QTest::newRow("data frame") << QByteArrayList{PtyPeer::frameOf("5")} << QByteArray("0000");
        QTest::newRow("address only") << QByteArrayList{addressOnly} << QByteArray("0001");
        QTest::newRow("address only, then silence") << QByteArrayList{addressOnly, QByteArray()} << QByteArray("0010");
    }
    void commRxState()
    {
        QFETCH(QByteArrayList, replies);
        for (const QByteArray& reply : replies) {
            peer.answerWith(reply);
            // A frame ends the wait of a reading command, ACK/NAK that of a writing one.
            command(reply.startsWith('\x02') ? Table::executeCommCheck : Table::start).execute();
        }
        const QByteArray lastData = link.lastAnswerData;
        Command& rxState = command(Table::getCommRxState);
        QCOMPARE(runAndReceive(rxState), QByteArray());
        QTEST(rxState.getAnswer(), "state");
        QCOMPARE(link.lastAnswerData, lastData);
    }

};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
