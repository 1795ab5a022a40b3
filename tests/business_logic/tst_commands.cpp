#include "commandexpectations.h"
#include "communication.h"
#include "ptypeer.h"
#include "tablecommand.h"

#include <QElapsedTimer>
#include <QtTest>

#include <climits>
#include <memory>
#include <typeinfo>

Q_DECLARE_METATYPE(PtyPeer::Chunk)

using namespace BusinessLogic;
using namespace CommandExpectations;

class TestCommands : public QObject
{
    Q_OBJECT

    PtyPeer peer;
    Communication link;
    // How long the peer may still be writing after a test function (late replies), so that the
    // next one starts on a quiet line even when this one failed halfway.
    int settleMs = 0;

    // Opens the line again: flags of the port change, no stale bytes, address 1.
    void reopen()
    {
        link.setCommPortPath(peer.devicePath());
        link.protocolAnswer = true;
        link.unusedLrc = false;
        link.sentLrcValid = true;
        link.address = 1;
    }

    void commandTable(bool sendingOnly = false)
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < CommandCount; ++i)
            if (!sendingOnly || rows[i].wait != Expect::NoLine)
                QTest::newRow(rows[i].className) << i;
    }

    // Runs the command and returns the frame the peer received, empty when it received none.
    QByteArray runAndReceive(Command& command)
    {
        const int before = int(peer.receivedFrames().size());
        command.execute();
        if (!peer.waitForFrames(before + 1, 30))
            return {};
        return peer.receivedFrames().at(before);
    }

private slots:
    void initTestCase() { QVERIFY(peer.isValid()); }

    void init()
    {
        reopen();
        QVERIFY(link.isOpen());
        peer.answerWith(Nak);
    }

    void cleanup()
    {
        QTest::qSleep(settleMs);
        settleMs = 0;
    }

    void identity_data() { commandTable(); }
    void identity()
    {
        QFETCH(int, index);
        const Expected& row = rows[index];
        const auto named = row.create(&link);
        const auto all = createAllCommands(&link);
        QCOMPARE(int(all.size()), CommandCount);
        const Command& listed = *all[size_t(index)];
        const Command& byName = *named;
        QCOMPARE(typeid(listed).name(), typeid(byName).name());
        QCOMPARE(named->getCommandSpezifier(), row.spezifier);

        const QMetaObject* meta = named->metaObject();
        if (row.ownSlots) {
            QCOMPARE(meta->className(), row.className);
            QByteArrayList own;
            for (int m = meta->methodOffset(); m < meta->methodCount(); ++m)
                own.append(meta->method(m).methodSignature());
            QCOMPARE(own.join(','), QByteArray(row.ownSlots));
        } else {
            QCOMPARE(meta, &Command::staticMetaObject);
        }
    }

    // The bulk of the table: exact bytes on the line, and what a refusal leaves as the answer.
    void framesAndRefusal_data() { commandTable(); }
    void framesAndRefusal()
    {
        QFETCH(int, index);
        const Expected& row = rows[index];
        const auto command = row.create(&link);
        prepare(*command, row);
        const QByteArray received = runAndReceive(*command);
        if (row.wait == Expect::NoLine) {
            QCOMPARE(received, QByteArray());
            return;
        }
        const QByteArray expected = frameOf("01" + QByteArray(row.body));
        QCOMPARE(received, expected);
        QCOMPARE(command->getSentFrame(), expected);
        QVERIFY(link.nakReceived);
        QCOMPARE(command->getAnswer(), answerOf(row, row.defaultAnswer));
    }

    // ACK at once, a data frame 60 ms later: a writing command stops at the ACK and reports its
    // default answer, a reading command waits on for the frame and reports its data.
    void waitOperation_data() { commandTable(true); }
    void waitOperation()
    {
        QFETCH(int, index);
        const Expected& row = rows[index];
        peer.setResponder([](const QByteArray&) {
            return QList<PtyPeer::Chunk>{{Ack, 0}, {frameOf("4711"), 60}};
        });
        settleMs = row.wait == Expect::Acknowledge ? 80 : 0;
        const auto command = row.create(&link);
        prepare(*command, row);
        command->execute();
        const QByteArray data = row.wait == Expect::Frame ? QByteArray("4711") : row.defaultAnswer;
        QCOMPARE(command->getAnswer(), answerOf(row, data));
    }

    // No port: every exchange ends at once with no data, so each command reports its default.
    // The objects here come from the factory the program uses.
    void defaultsWithoutPort_data() { commandTable(true); }
    void defaultsWithoutPort()
    {
        QFETCH(int, index);
        const Expected& row = rows[index];
        Communication closed;
        closed.address = 1;
        closed.lastAnswerData = "stale";
        const auto all = createAllCommands(&closed);
        Command& command = *all[size_t(index)];
        prepare(command, row);
        command.execute();
        QVERIFY(closed.noAnswer);
        QCOMPARE(command.getSentFrame(), frameOf("01" + QByteArray(row.body)));
        QCOMPARE(command.getAnswer(), answerOf(row, row.defaultAnswer));
    }

    void silentPump_data()
    {
        QTest::addColumn<int>("index");
        for (const CommandSpezifier id : {5, 8, 9, 31, 61})
            QTest::newRow(rows[rowOf(id)].className) << rowOf(id);
    }
    void silentPump()
    {
        QFETCH(int, index);
        const Expected& row = rows[index];
        peer.stayQuiet();
        const auto command = row.create(&link);
        prepare(*command, row);
        QElapsedTimer timer;
        timer.start();
        command->execute();
        QVERIFY(timer.elapsed() >= 110);
        QVERIFY(link.noAnswer);
        QCOMPARE(command->getAnswer(), answerOf(row, row.defaultAnswer));
    }

    void valueFormat_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<qint32>("value");
        QTest::addColumn<QByteArray>("body");
        auto add = [](const char* name, CommandSpezifier id, qint32 value, const char* body) {
            QTest::newRow(name) << rowOf(id) << value << QByteArray(body);
        };
        add("negative in width 8", 10, -250, "DV0000-250");
        add("overlong in width 8", 10, 123456789, "DV123456789");
        add("smallest in width 8", 11, INT_MIN, "RV-2147483648");
        add("negative in width 1", 21, -5, "RA-5");
        add("overlong in width 1", 21, 12, "RA12");
        add("negative in width 2", 27, -1, "L2-1");
        add("full width 3", 40, 100, "LC100");
        add("overlong in width 3", 40, 1000, "LC1000");
        add("full width 5", 34, 10000, "CH10000");
        add("negative in width 5", 17, -7, "DB000-7");
        add("overlong address", 48, 123, "AD123");
        add("status word beyond one digit", 8, 12, "?SS12");
        add("negative status word", 8, -1, "?SS-1");
        add("stroke volume zero", 62, 0, "ZF!00000");
    }
    void valueFormat()
    {
        QFETCH(int, index);
        QFETCH(qint32, value);
        QFETCH(QByteArray, body);
        const auto command = rows[index].create(&link);
        command->setParameter(value);
        QCOMPARE(runAndReceive(*command), frameOf("01" + body));
    }

    // Widths no command uses yet still follow the same rule.
    void formatValueWidths_data()
    {
        QTest::addColumn<qint32>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("1") << 7 << 1 << QByteArray("7");
        QTest::newRow("2") << 7 << 2 << QByteArray("07");
        QTest::newRow("3 negative") << -7 << 3 << QByteArray("0-7");
        QTest::newRow("4") << 42 << 4 << QByteArray("0042");
        QTest::newRow("5 exact") << 12345 << 5 << QByteArray("12345");
        QTest::newRow("6 negative") << -250 << 6 << QByteArray("00-250");
        QTest::newRow("7 zero") << 0 << 7 << QByteArray("0000000");
        QTest::newRow("8 overlong negative") << -123456789 << 8 << QByteArray("-123456789");
    }
    void formatValueWidths()
    {
        QFETCH(qint32, value);
        QFETCH(int, width);
        QFETCH(QByteArray, text);
        QCOMPARE(formatValue(value, width), text);
    }

    void commAddress_data()
    {
        QTest::addColumn<qint32>("address");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("one digit") << 7 << QByteArray("07");
        QTest::newRow("two digits") << 42 << QByteArray("42");
        QTest::newRow("three digits") << 123 << QByteArray("123");
    }
    void commAddress()
    {
        QFETCH(qint32, address);
        QFETCH(QByteArray, written);
        SetCommAddress setAddress(&link);
        Start start(&link);
        setAddress.setParameter(address);
        QCOMPARE(runAndReceive(setAddress), QByteArray());
        QCOMPARE(link.address, address);
        QCOMPARE(runAndReceive(start), frameOf(written + "KY1"));
    }

    void checkByteOptions_data()
    {
        QTest::addColumn<bool>("unusedFirst");
        QTest::addColumn<qint32>("invalid");
        QTest::addColumn<qint32>("unused");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("sentLrcValid");
        const QByteArray start = QByteArray::fromHex("0230314B593103");
        QTest::newRow("both off") << false << 0 << 0 << start + '\x23' << true;
        QTest::newRow("invalid on, unused off") << false << 1 << 0 << start + '\x76' << false;
        QTest::newRow("unused on") << false << 0 << 5 << start + 'U' << false;
        QTest::newRow("invalid wins over unused") << false << -1 << 1 << start + '\x76' << false;
        QTest::newRow("unused stays when invalid goes off") << true << 0 << 1 << start + 'U' << false;
    }
    void checkByteOptions()
    {
        QFETCH(bool, unusedFirst);
        QFETCH(qint32, invalid);
        QFETCH(qint32, unused);
        QFETCH(QByteArray, frame);
        QFETCH(bool, sentLrcValid);
        SetInvalidLRC setInvalid(&link);
        SetUnusedLRC setUnused(&link);
        setInvalid.setParameter(invalid);
        setUnused.setParameter(unused);
        if (unusedFirst) {
            setUnused.execute();
            setInvalid.execute();
        } else {
            setInvalid.execute();
            setUnused.execute();
        }
        QCOMPARE(link.invalidLrc, invalid != 0);
        QCOMPARE(link.unusedLrc, unused != 0);
        QCOMPARE(link.sentLrcValid, sentLrcValid);
        Start start(&link);
        QCOMPARE(runAndReceive(start), frame);
        QCOMPARE(start.getSentFrame(), frame);
    }

    // Replies the pump gives to consecutive commands, and the receive state reported afterwards.
    void commRxState_data()
    {
        QTest::addColumn<QByteArrayList>("replies");
        QTest::addColumn<QByteArray>("state");
        const QByteArray addressOnly = frameOf("01");
        QTest::newRow("ack") << QByteArrayList{Ack} << QByteArray("1000");
        QTest::newRow("nak") << QByteArrayList{Nak} << QByteArray("0100");
        QTest::newRow("silence") << QByteArrayList{QByteArray()} << QByteArray("0010");
        QTest::newRow("data frame") << QByteArrayList{frameOf("5")} << QByteArray("0000");
        QTest::newRow("address only") << QByteArrayList{addressOnly} << QByteArray("0001");
        QTest::newRow("address only, then ack") << QByteArrayList{addressOnly, Ack} << QByteArray("1001");
        QTest::newRow("address only, then silence")
            << QByteArrayList{addressOnly, QByteArray()} << QByteArray("0010");
    }
    void commRxState()
    {
        QFETCH(QByteArrayList, replies);
        QFETCH(QByteArray, state);
        Start start(&link);
        ExecuteCommCheck check(&link);
        for (const QByteArray& reply : replies) {
            peer.answerWith(reply);
            // A frame ends the wait of a reading command, ACK/NAK that of a writing one.
            (reply.startsWith('\x02') ? static_cast<Command&>(check) : start).execute();
        }
        const QByteArray lastData = link.lastAnswerData;
        const int framesBefore = int(peer.receivedFrames().size());
        GetCommRxState rxState(&link);
        rxState.execute();
        QCOMPARE(rxState.getAnswer(), state);
        QCOMPARE(link.lastAnswerData, lastData);
        QCOMPARE(int(peer.receivedFrames().size()), framesBefore);
    }

    void pumpStatus_data()
    {
        QTest::addColumn<qint32>("word");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("word 3") << 3 << frameOf("005") << QByteArray("005 3");
        QTest::newRow("word 6") << 6 << frameOf("128") << QByteArray("128 6");
        QTest::newRow("word 3 refused") << 3 << Nak << QByteArray("0 3");
        QTest::newRow("word 12") << 12 << frameOf("7") << QByteArray("7 12");
    }
    void pumpStatus()
    {
        QFETCH(qint32, word);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, answer);
        peer.answerWith(reply);
        GetPumpStatus status(&link);
        status.setParameter(word);
        status.execute();
        QCOMPARE(status.getAnswer(), answer);
        // Only the reported answer carries the word's number.
        QCOMPARE(link.lastAnswerData, answer.left(answer.indexOf(' ')));
    }

    void discreteCommand_data()
    {
        QTest::addColumn<bool>("asNumber");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<PtyPeer::Chunk>>("reply");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("answer");
        using Chunks = QList<PtyPeer::Chunk>;
        QTest::newRow("reading code") << false << QByteArray("?TV") << Chunks{{frameOf("123"), 0}}
                                      << frameOf("01?TV") << QByteArray("123");
        QTest::newRow("empty text") << false << QByteArray() << Chunks{{Nak, 0}} << frameOf("01")
                                    << QByteArray("DISCRETE COMMAND");
        QTest::newRow("writing code waits for a frame")
            << false << QByteArray("KY1") << Chunks{{Ack, 0}, {frameOf("9"), 30}}
            << frameOf("01KY1") << QByteArray("9");
        QTest::newRow("number") << true << QByteArray("-42") << Chunks{{Nak, 0}} << frameOf("01-42")
                                << QByteArray("DISCRETE COMMAND");
    }
    void discreteCommand()
    {
        QFETCH(bool, asNumber);
        QFETCH(QByteArray, text);
        QFETCH(QList<PtyPeer::Chunk>, reply);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, answer);
        peer.setResponder([reply](const QByteArray&) { return reply; });
        settleMs = 50;
        SetDiscreteCommand discrete(&link);
        discrete.setTextParameter("stale");
        if (asNumber)
            discrete.setParameter(text.toInt());
        else
            discrete.setTextParameter(text);
        QCOMPARE(runAndReceive(discrete), frame);
        QCOMPARE(discrete.getAnswer(), answer);
    }

    // The pump is told while the link still waits for ACK/NAK (so a late ACK is caught); the
    // link switches afterwards.
    void protocolAnswer_data()
    {
        QTest::addColumn<qint32>("value");
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::newRow("2 switches off") << 2 << true << false;
        QTest::newRow("0 switches off") << 0 << true << false;
        QTest::newRow("1 switches on") << 1 << false << true;
    }
    void protocolAnswer()
    {
        QFETCH(qint32, value);
        QFETCH(bool, before);
        QFETCH(bool, after);
        peer.setResponder([](const QByteArray&) { return QList<PtyPeer::Chunk>{{Ack, 60}}; });
        settleMs = 80;
        link.protocolAnswer = before;
        SetProtocolAnswer setProtocol(&link);
        setProtocol.setParameter(value);
        QCOMPARE(runAndReceive(setProtocol), frameOf("01SP" + QByteArray::number(value)));
        QCOMPARE(link.ackReceived, before);
        QCOMPARE(link.protocolAnswer, after);
        QCOMPARE(setProtocol.getAnswer(), QByteArray("1"));
    }

    void baseCommand()
    {
        Command base(&link);
        QCOMPARE(base.getCommandSpezifier(), BaseCommandSpezifier);
        QCOMPARE(BaseCommandSpezifier, 65);
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
