#include "allcommands.h"
#include "commandstack.h"
#include "commandtable.h"
#include "loggingcommandstack.h"
#include "ptypeer.h"
#include "stackprobe.h"

#include <QtTest>

#include <atomic>
#include <map>
#include <memory>
#include <thread>

using BusinessLogic::CommandStack;
using BusinessLogic::LoggingCommandStack;

namespace {

// Spezifiers the probes answer with, and the raw-frame command the stack hands texts to.
namespace Table = BusinessLogic::CommandTable;
constexpr BusinessLogic::CommandSpezifier SetVolumeId = Table::setVolume.spezifier;
constexpr BusinessLogic::CommandSpezifier GetVolumeId = Table::getVolume.spezifier;
constexpr BusinessLogic::CommandSpezifier RawFrameId = Table::setDiscreteCommand.spezifier;

} // namespace

class TestCommandStack : public QObject
{
    Q_OBJECT

    // No port is opened: every exchange ends at once, so the queue alone is under test.
    Communication link;
    ProbeCommand setVolume{&link, SetVolumeId, "DV", ProbeCommand::Writing, 5};
    ProbeCommand getVolume{&link, GetVolumeId, "?DV", ProbeCommand::Reading, 0, "10000"};
    ProbeCommand rawFrame{&link, RawFrameId, {}, ProbeCommand::RawFrame};

    void resetProbes()
    {
        setVolume.given.clear();
        getVolume.given.clear();
        rawFrame.given.clear();
    }

private slots:
    void init() { resetProbes(); }

    void oneCommandPerTick()
    {
        ProbeStack<CommandStack> stack;
        QList<BusinessLogic::CommandSpezifier> answered;
        connect(&stack, &CommandStack::sendAnswer, this,
                [&](const Answer& answer) { answered.append(answer.spezifier); });

        stack.ExecuteCommand();
        QVERIFY(answered.isEmpty());

        stack.addCommand(&setVolume, 500, false);
        stack.addCommand(&getVolume, 0, false);
        stack.addCommand(&setVolume, 700, false);
        QCOMPARE(stack.queuedCount(), 3);

        stack.ExecuteCommand();
        QCOMPARE(answered, QList<BusinessLogic::CommandSpezifier>{SetVolumeId});
        QCOMPARE(stack.queuedCount(), 2);

        // The stack's own timer drains the rest, in queue order.
        QTRY_COMPARE(answered.size(), 3);
        QCOMPARE(answered,
                 (QList<BusinessLogic::CommandSpezifier>{SetVolumeId, GetVolumeId, SetVolumeId}));
        QCOMPARE(stack.queuedCount(), 0);
        QCOMPARE(stack.lastRunAnswer(), QByteArray());
    }

    void parametersReachTheirCommands_data()
    {
        // Script entries: "V=<n>" SetVolume with n, "G=<n>" GetVolume with n, "R:<text>" raw frame.
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QByteArrayList>("toSetVolume");
        QTest::addColumn<QByteArrayList>("toGetVolume");
        QTest::addColumn<QByteArrayList>("toRawFrame");

        QTest::newRow("number then text") << QStringList{"V=500", "R:x", "G=7"}
                                          << QByteArrayList{"500"} << QByteArrayList{"7"}
                                          << QByteArrayList{"text:x"};
        QTest::newRow("interleaved")
            << QStringList{"V=1", "R:a", "G=2", "R:b", "R:c", "V=3"} << QByteArrayList{"1", "3"}
            << QByteArrayList{"2"} << QByteArrayList{"text:a", "text:b", "text:c"};
    }

    void parametersReachTheirCommands()
    {
        QFETCH(QStringList, script);
        QFETCH(QByteArrayList, toSetVolume);
        QFETCH(QByteArrayList, toGetVolume);
        QFETCH(QByteArrayList, toRawFrame);

        ProbeStack<CommandStack> stack;
        QList<BusinessLogic::CommandSpezifier> expectedOrder;
        for (const QString& entry : script) {
            const QByteArray value = entry.mid(2).toUtf8();
            if (entry.startsWith('R')) {
                stack.addCommand(&rawFrame, value);
                expectedOrder.append(RawFrameId);
            } else {
                ProbeCommand* command = entry.startsWith('V') ? &setVolume : &getVolume;
                stack.addCommand(command, value.toInt(), false);
                expectedOrder.append(command->getCommandSpezifier());
            }
        }
        QList<BusinessLogic::CommandSpezifier> answered;
        connect(&stack, &CommandStack::sendAnswer, this,
                [&](const Answer& answer) { answered.append(answer.spezifier); });

        QTRY_COMPARE(answered.size(), script.size());
        QCOMPARE(answered, expectedOrder);
        QCOMPARE(setVolume.given, toSetVolume);
        QCOMPARE(getVolume.given, toGetVolume);
        QCOMPARE(rawFrame.given, toRawFrame);
    }

    void clearDropsWaitingEntries()
    {
        ProbeStack<CommandStack> stack;
        int answers = 0;
        connect(&stack, &CommandStack::sendAnswer, this, [&] { ++answers; });
        stack.addCommand(&getVolume, 0, false);
        stack.addCommand(&setVolume, 1, false);
        stack.addCommand(&rawFrame, QByteArray("KY1"));
        stack.ExecuteCommand();
        QCOMPARE(stack.lastRunSpezifier(), GetVolumeId);
        QCOMPARE(stack.lastRunAnswer(), QByteArray("10000"));

        stack.clear();
        QCOMPARE(stack.queuedCount(), 0);
        QCOMPARE(stack.lastRunSpezifier(), BusinessLogic::BaseCommandSpezifier);
        QCOMPARE(stack.lastRunAnswer(), QByteArray());
        stack.ExecuteCommand();
        QTest::qWait(3 * CommandStack::TickMs);
        QCOMPARE(answers, 1);
        QCOMPARE(stack.lastRunSpezifier(), BusinessLogic::BaseCommandSpezifier);
        QVERIFY(setVolume.given.isEmpty());
        QVERIFY(rawFrame.given.isEmpty());

        // The queue works again after being cleared.
        stack.addCommand(&setVolume, 9, false);
        QTRY_COMPARE(answers, 2);
        QCOMPARE(setVolume.given, QByteArrayList{"9"});
    }

    void urgentCommandDoesNotWaitForATick()
    {
        ProbeStack<CommandStack> stack;
        // Without ticks, only the stack's own call for an urgent entry can run it.
        QTimer* ticks = stack.findChild<QTimer*>();
        QVERIFY(ticks);
        ticks->stop();
        stack.addCommand(&setVolume, 3, false, CommandStack::Origin::UrgentUser);
        QTRY_COMPARE(setVolume.given, QByteArrayList{"3"});
    }

    // The user's command on a link where nothing answers: "not answered", unless the pump was
    // told to send no acknowledgements; a reading gets no verdict at all.
    void verdictOfAnUnansweredCommand_data()
    {
        QTest::addColumn<bool>("protocolAnswer");
        QTest::addColumn<int>("origin");
        QTest::addColumn<bool>("notAnswered");
        QTest::newRow("answers expected") << true << int(CommandStack::Origin::User) << true;
        QTest::newRow("silent by request") << false << int(CommandStack::Origin::User) << false;
        QTest::newRow("reading") << true << int(CommandStack::Origin::Polled) << false;
    }

    void verdictOfAnUnansweredCommand()
    {
        QFETCH(bool, protocolAnswer);
        QFETCH(int, origin);
        QFETCH(bool, notAnswered);
        link.protocolAnswer = protocolAnswer;
        ProbeStack<CommandStack> stack;
        stack.addCommand(&setVolume, 500, false, CommandStack::Origin(origin));
        stack.ExecuteCommand();
        link.protocolAnswer = true;
        const CommandStack::Activity activity = stack.takeActivity();
        QCOMPARE(activity.exchanges, 1);
        QCOMPARE(activity.answered, 0);
        QCOMPARE(activity.verdicts == std::vector{CommandStack::Verdict::NotAnswered}, notAnswered);
        QCOMPARE(activity.verdicts.empty(), !notAnswered);
    }

    void clearWhileReportingKeepsLaterEntries()
    {
        // The window may clear and re-queue from a slot of the log signals while the entry that
        // is being reported is still at the head; the re-queued entry must survive. Only frames
        // that went on an open line are reported.
        PtyPeer peer;
        QVERIFY(peer.isValid());
        link.setCommPortPath(peer.devicePath());
        QVERIFY(link.isOpen());
        ProbeStack<LoggingCommandStack> stack;
        bool requeued = false;
        connect(&stack, &CommandStack::sendLastCommand, this, [&] {
            if (requeued)
                return;
            requeued = true;
            stack.clear();
            stack.addCommand(&setVolume, 42, false);
        });
        QList<BusinessLogic::CommandSpezifier> answered;
        connect(&stack, &CommandStack::sendAnswer, this,
                [&](const Answer& answer) { answered.append(answer.spezifier); });

        stack.addCommand(&getVolume, 0, true);
        stack.addCommand(&getVolume, 0, true);
        stack.ExecuteCommand();
        QCOMPARE(stack.queuedCount(), 1);
        stack.ExecuteCommand();
        QCOMPARE(answered, (QList<BusinessLogic::CommandSpezifier>{GetVolumeId, SetVolumeId}));
        QCOMPARE(setVolume.given, QByteArrayList{"42"});
        QCOMPARE(stack.queuedCount(), 0);
    }

};

QTEST_GUILESS_MAIN(TestCommandStack)
#include "tst_commandstack.moc"
