#include "allcommands.h"
#include "loggingcommandstack.h"
#include "ptypeer.h"
#include "stackprobe.h"

#include <QtTest>

#include <ctime>

using BusinessLogic::CommandStack;
using BusinessLogic::InvalidReason;
using BusinessLogic::LoggingCommandStack;
using Reasons = std::vector<InvalidReason>;
using Positions = std::vector<int>;

Q_DECLARE_METATYPE(Positions)

namespace {

constexpr int SetCommAddressId = 50;

// Everything one logged command reports, in the order the signals arrived.
struct Report
{
    QStringList order;
    Positions txPositions, rxPositions;
    Reasons txReasons, rxReasons;
    QByteArray txLine, rxLine;
    QList<Answer> answers;
};

void store(Positions& to, const Positions& from) { to = from; }
void store(Reasons& to, const Reasons& from) { to = from; }
void store(QByteArray& to, const std::string& from) { to = QByteArray::fromStdString(from); }
void store(QList<Answer>& to, const Answer& from) { to << from; }

template <typename Arg, typename Field>
void note(LoggingCommandStack& stack, void (CommandStack::*signal)(Arg), Report& report,
          Field Report::*field, const char* name, QObject* context)
{
    QObject::connect(&stack, signal, context, [&report, field, name](Arg value) {
        report.order << QString::fromLatin1(name);
        store(report.*field, value);
    });
}

void record(LoggingCommandStack& stack, Report& report, QObject* context)
{
    note(stack, &CommandStack::sendLastCommandInvalidPositions, report, &Report::txPositions,
         "txPositions", context);
    note(stack, &CommandStack::sendLastCommandInvalidReasons, report, &Report::txReasons,
         "txReasons", context);
    note(stack, &CommandStack::sendLastCommand, report, &Report::txLine, "txLine", context);
    note(stack, &CommandStack::sendLastAnswerInvalidPositions, report, &Report::rxPositions,
         "rxPositions", context);
    note(stack, &CommandStack::sendLastAnswerInvalidReasons, report, &Report::rxReasons,
         "rxReasons", context);
    note(stack, &CommandStack::sendLastAnswer, report, &Report::rxLine, "rxLine", context);
    note(stack, &CommandStack::sendAnswer, report, &Report::answers, "answer", context);
}

} // namespace

class TestLoggingCommandStack : public QObject
{
    Q_OBJECT

private slots:
    void loggedExchange_data()
    {
        QTest::addColumn<int>("spezifier");
        QTest::addColumn<int>("testOption");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("txLine");
        QTest::addColumn<Positions>("txPositions");
        QTest::addColumn<Reasons>("txReasons");
        QTest::addColumn<QByteArray>("rxLine");
        QTest::addColumn<Positions>("rxPositions");
        QTest::addColumn<Reasons>("rxReasons");

        using namespace BusinessLogic;
        constexpr int Start = 4, GetVolume = 9, None = 0, InvalidLrcOption = 51, UnusedLrc = 52;
        const QByteArray start("09:05:03:007  '/002'01KY1'/003''/035'");
        const QByteArray query("09:05:03:007  '/002'01?DV'/003''/045'");
        // Columns: the command, the check-byte test option switched on before it, the peer's
        // reply; then the command line and its marks, the answer line and its marks.
        QTest::newRow("start acknowledged")
            << Start << None << QByteArray("\x06") << start << Positions{} << Reasons{}
            << QByteArray("09:05:03:120 '/006'") << Positions{0} << Reasons{Acknowledged};
        QTest::newRow("start refused")
            << Start << None << QByteArray("\x15") << start << Positions{} << Reasons{}
            << QByteArray("09:05:03:120 '/021'") << Positions{0} << Reasons{NotAcknowledged};
        QTest::newRow("falsified check byte")
            << Start << InvalidLrcOption << QByteArray("\x06")
            << QByteArray("09:05:03:007  '/002'01KY1'/003'v") << Positions{8}
            << Reasons{InvalidLrc} << QByteArray("09:05:03:120 '/006'") << Positions{0}
            << Reasons{Acknowledged};
        QTest::newRow("unused check byte")
            << Start << UnusedLrc << QByteArray("\x06")
            << QByteArray("09:05:03:007  '/002'01KY1'/003'U") << Positions{8}
            << Reasons{InvalidLrc} << QByteArray("09:05:03:120 '/006'") << Positions{0}
            << Reasons{Acknowledged};
        QTest::newRow("nothing received")
            << Start << None << QByteArray() << start << Positions{} << Reasons{}
            << QByteArray("09:05:03:120 ") << Positions{0} << Reasons{InvalidLrc};
        QTest::newRow("good answer frame")
            << GetVolume << None << QByteArray("\x02" "12\x03\x02") << query << Positions{}
            << Reasons{} << QByteArray("09:05:03:120 '/002'12'/003''/002'") << Positions{}
            << Reasons{};
        // 'z' is the last byte written as it is; the check byte 'J' is plain as well.
        QTest::newRow("printable to the last byte")
            << GetVolume << None << QByteArray("\x02" "1z\x03J") << query << Positions{}
            << Reasons{} << QByteArray("09:05:03:120 '/002'1z'/003'J") << Positions{} << Reasons{};
        QTest::newRow("answer check byte 0xC8")
            << GetVolume << None << QByteArray("\x02" "12\x03\xc8") << query << Positions{}
            << Reasons{} << QByteArray("09:05:03:120 '/002'12'/003''/200'") << Positions{5}
            << Reasons{InvalidLrc};
    }

    void loggedExchange()
    {
        QFETCH(int, spezifier);
        QFETCH(int, testOption);
        QFETCH(QByteArray, reply);

        PtyPeer peer;
        QVERIFY(peer.isValid());
        peer.answerWith(reply);
        Communication link;
        link.setCommPortPath(peer.devicePath());
        QVERIFY(link.isOpen());
        const auto commands = BusinessLogic::createAllCommands(&link);
        auto command = [&](int wanted) {
            for (const auto& c : commands) {
                if (c->getCommandSpezifier() == wanted)
                    return c.get();
            }
            return static_cast<BusinessLogic::Command*>(nullptr);
        };
        // The link commands only set the link's options (pump address 1, a check-byte test
        // option); they send nothing.
        for (const int option : {SetCommAddressId, testOption}) {
            if (option == 0)
                continue;
            command(option)->setParameter(1);
            command(option)->execute();
        }

        ProbeStack<LoggingCommandStack> stack;
        stack.times = {clockAt(9, 5, 3, 7), clockAt(9, 5, 3, 120)};
        Report report;
        record(stack, report, this);
        stack.addCommand(command(spezifier), 0, true);
        stack.ExecuteCommand();

        QCOMPARE(report.order, (QStringList{"txPositions", "txReasons", "txLine", "rxPositions",
                                            "rxReasons", "rxLine", "answer"}));
        QTEST(report.txLine, "txLine");
        QTEST(report.txPositions, "txPositions");
        QTEST(report.txReasons, "txReasons");
        QTEST(report.rxLine, "rxLine");
        QTEST(report.rxPositions, "rxPositions");
        QTEST(report.rxReasons, "rxReasons");
        QCOMPARE(stack.commandTextOffset(), 13);
        QCOMPARE(stack.answerTextOffset(), 12);
        // The panel splits at the offset: the rest starts with the last blank of the gap.
        QCOMPARE(report.txLine.at(stack.commandTextOffset()), ' ');
        QCOMPARE(report.rxLine.at(stack.answerTextOffset()), ' ');
        QCOMPARE(peer.receivedFrames().size(), 1);
        QCOMPARE(unescape(report.txLine.mid(14)), peer.receivedFrames().first());
    }

    void timeStampsAreTakenAroundTheExchange()
    {
        // Without a scripted clock the lines carry the system's UTC time, also where the local
        // time differs from it.
        qputenv("TZ", "IST-5:30");
        tzset();
        // Only what went on the line is logged: the line is open.
        PtyPeer peer;
        QVERIFY(peer.isValid());
        peer.answerWith(QByteArray("\x06"));
        Communication link;
        link.setCommPortPath(peer.devicePath());
        QVERIFY(link.isOpen());
        ProbeCommand command(&link, 4, "KY1", ProbeCommand::Writing);
        ProbeStack<LoggingCommandStack> stack;
        Report report;
        record(stack, report, this);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        stack.addCommand(&command, 0, true);
        stack.ExecuteCommand();
        const QDateTime after = QDateTime::currentDateTimeUtc();
        const QTime logged =
            QTime::fromString(QString::fromLatin1(report.txLine.left(12)), "hh:mm:ss:zzz");
        QVERIFY(logged.isValid());
        // Allow for a midnight between the two readings.
        QVERIFY(before.time() <= logged || before.date() != after.date());
        QVERIFY(logged <= after.time() || before.date() != after.date());
    }
};

QTEST_GUILESS_MAIN(TestLoggingCommandStack)
#include "tst_loggingcommandstack.moc"
