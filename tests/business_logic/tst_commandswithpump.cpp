#include "commandexpectations.h"
#include "communication.h"
#include "ptypump.h"

#include <QtTest>

using namespace BusinessLogic;
using namespace CommandExpectations;

// The commands against the simulated pump on a pseudo-terminal: what the pump understood, and
// what the commands report back from it.
class TestCommandsWithPump : public QObject
{
    Q_OBJECT

    Simulator::PtyPump pump;
    Communication link;
    std::vector<std::unique_ptr<Command>> commands = createAllCommands(&link);

    Command& command(CommandSpezifier spezifier) { return *commands[size_t(rowOf(spezifier))]; }

    QByteArray run(CommandSpezifier spezifier, qint32 parameter)
    {
        Command& c = command(spezifier);
        c.setParameter(parameter);
        c.execute();
        return c.getAnswer();
    }

    // The code a writing command's body starts with, without its value.
    static QByteArray codeOf(const Expected& row)
    {
        const QByteArray body(row.body);
        return body.left(body.size() >= 3 && body[2] == '!' ? 3 : 2);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(pump.start(), qPrintable(pump.errorString()));
        link.setCommPortPath(pump.devicePath());
        QVERIFY(link.isOpen());
    }

    void init()
    {
        link.protocolAnswer = true;
        link.address = pump.address();
    }

    void runGrowsTheActualVolume()
    {
        run(0, 0);
        run(11, 60000); // 60 ml/min: a millilitre a second
        QVERIFY(link.ackReceived);
        QCOMPARE(run(12, 0), QByteArray("60000"));
        run(4, 0);
        QVERIFY(link.ackReceived);
        const qint64 first = run(2, 0).toLongLong();
        QTest::qWait(200);
        const qint64 second = run(2, 0).toLongLong();
        QVERIFY2(second > first, qPrintable(QString("%1 then %2").arg(first).arg(second)));
        run(5, 0);
        QVERIFY(link.ackReceived);
    }

    // A value the window may send is taken by the pump and read back by the reading command;
    // one outside the pump's range is refused.
    void writingCommands_data()
    {
        QTest::addColumn<int>("writer");
        QTest::addColumn<int>("reader");
        QTest::addColumn<qint32>("good");
        QTest::addColumn<qint32>("bad");
        auto add = [](CommandSpezifier writer, CommandSpezifier reader, qint32 good, qint32 bad) {
            QTest::newRow(rows[rowOf(writer)].className)
                << rowOf(writer) << (reader < 0 ? -1 : rowOf(reader)) << good << bad;
        };
        add(10, 9, 2500, -250);
        add(11, 12, 5000, 200000);
        add(13, 14, 1020300, -1);
        add(17, 18, 125, -5);
        add(19, 20, 3, 100000);
        add(21, 22, 3, 5);
        add(23, 24, 1, -1);
        add(25, 26, 6, 2);
        add(27, 28, 10, 7);
        add(29, 30, 4, 5);
        add(31, 32, 6, 7);
        add(33, -1, 1500, -1);
        add(34, 35, 8000, 7999);
        add(36, 37, 1, 2);
        add(38, 39, 3, 4);
        add(40, 41, 7, 101);
        add(48, 49, 0, 100);
        add(55, 56, 1, 2);
        add(57, -1, 1500, -1);
        add(58, 59, 1, 2);
        add(60, 61, 3, 6);
        add(62, 63, 202, -202);
    }
    void writingCommands()
    {
        QFETCH(int, writer);
        QFETCH(int, reader);
        QFETCH(qint32, good);
        QFETCH(qint32, bad);
        const Expected& row = rows[writer];
        GetCommRxState rxState(&link);

        const QByteArray refused = run(row.spezifier, bad);
        QVERIFY(link.nakReceived);
        rxState.execute();
        QCOMPARE(rxState.getAnswer(), QByteArray("0100"));
        QCOMPARE(refused, QByteArray(row.defaultAnswer));

        run(row.spezifier, good);
        QVERIFY(link.ackReceived);
        QCOMPARE(pump.value(codeOf(row)).value_or(-1), qint64(good));
        if (reader >= 0) {
            const QByteArray body(rows[reader].body);
            QCOMPARE(run(rows[reader].spezifier, 0), pump.query(body));
        }
    }

    // Every reading command reports what the pump answers to its code.
    void readingCommands_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<qint32>("parameter");
        for (int i = 0; i < CommandCount; ++i)
            if (rows[i].wait == Expect::Frame && rows[i].spezifier != 53)
                QTest::newRow(rows[i].className) << i << rows[i].parameter;
        QTest::newRow("GetPumpStatus word 2") << rowOf(8) << 2;
        QTest::newRow("GetPumpStatus word 6") << rowOf(8) << 6;
    }
    void readingCommands()
    {
        QFETCH(int, index);
        QFETCH(qint32, parameter);
        const Expected& row = rows[index];
        const bool statusWord = row.spezifier == 8;
        const QByteArray word = QByteArray::number(parameter);
        const QByteArray expected = pump.query(statusWord ? "?SS" + word : QByteArray(row.body));
        QVERIFY(!expected.isEmpty());
        const QByteArray answer = run(row.spezifier, parameter);
        QVERIFY(link.answerRecognised);
        QCOMPARE(answer, statusWord ? expected + ' ' + word : expected);
    }

    void typedFrames_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("reading") << QByteArray("?RV");
        QTest::newRow("address only") << QByteArray();
    }
    void typedFrames()
    {
        QFETCH(QByteArray, text);
        SetDiscreteCommand& discrete = static_cast<SetDiscreteCommand&>(command(53));
        discrete.setTextParameter(text);
        discrete.execute();
        QCOMPARE(discrete.getAnswer(), text.isEmpty() ? link.addressText() : pump.query(text));
    }
};

QTEST_GUILESS_MAIN(TestCommandsWithPump)
#include "tst_commandswithpump.moc"
