#include "allcommands.h"
#include "communication.h"
#include "loggingcommandstack.h"
#include "ptypump.h"
#include "stackprobe.h"

#include <QtTest>

#include <map>
#include <memory>
#include <vector>

using BusinessLogic::CommandSpezifier;
using BusinessLogic::CommandStack;
using BusinessLogic::LoggingCommandStack;

namespace {

// One queued entry: a command with its number, or the raw-frame command with a text.
struct Step
{
    CommandSpezifier spezifier;
    qint32 parameter;
    const char* text; // non-null: queued as a raw frame
};

} // namespace

// The real commands through the logging stack against the simulated pump on a pseudo-terminal.
class TestStackWithPump : public QObject
{
    Q_OBJECT

private slots:
    void mixedQueueIsLoggedAsThePumpSawIt()
    {
        Simulator::PtyPump pump;
        QVERIFY2(pump.start(), qPrintable(pump.errorString()));
        Communication link;
        link.setCommPortPath(pump.devicePath());
        QVERIFY(link.isOpen());

        std::map<CommandSpezifier, BusinessLogic::Command*> table;
        const auto commands = BusinessLogic::createAllCommands(&link);
        for (const auto& command : commands)
            table[command->getCommandSpezifier()] = command.get();

        // Actions, settings with values, readings and typed frames, as a user session mixes them.
        const std::vector<Step> steps{
            {16, 0, nullptr},      {11, 5000, nullptr}, {12, 0, nullptr},     {4, 0, nullptr},
            {2, 0, nullptr},       {3, 0, nullptr},     {8, 1, nullptr},      {7, 0, nullptr},
            {5, 0, nullptr},       {15, 0, nullptr},    {10, 2500, nullptr},  {9, 0, nullptr},
            {13, 13000, nullptr},  {14, 0, nullptr},    {53, 0, "?RV"},       {45, 0, nullptr},
            {40, 50, nullptr},     {41, 0, nullptr},    {43, 0, nullptr},     {53, 0, "KY0"},
        };
        QCOMPARE(steps.size(), std::size_t(20));

        LoggingCommandStack stack;
        QList<CommandSpezifier> answered;
        QByteArrayList txLines, rxLines;
        connect(&stack, &CommandStack::sendAnswer, this,
                [&](const Answer& answer) { answered << answer.spezifier; });
        connect(&stack, &CommandStack::sendLastCommand, this,
                [&](std::string* line) { txLines << QByteArray::fromStdString(*line); });
        connect(&stack, &CommandStack::sendLastAnswer, this,
                [&](std::string* line) { rxLines << QByteArray::fromStdString(*line); });

        QList<CommandSpezifier> queued;
        for (const Step& step : steps) {
            BusinessLogic::Command* command = table.at(step.spezifier);
            if (step.text)
                stack.addCommand(command, QByteArray(step.text));
            else
                stack.addCommand(command, step.parameter, true);
            queued << step.spezifier;
        }

        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 20, 20000);
        QCOMPARE(answered, queued);
        QCOMPARE(txLines.size(), 20);
        QCOMPARE(rxLines.size(), 20);

        const QList<Simulator::ExchangeRecord> exchanges = pump.exchanges();
        QCOMPARE(exchanges.size(), 20);
        for (int i = 0; i < 20; ++i) {
            const QByteArray sent = unescape(txLines[i].mid(stack.commandTextOffset() + 1));
            const QByteArray received = unescape(rxLines[i].mid(stack.answerTextOffset() + 1));
            // The pump answers every one of these, so no comparison is between two empty texts.
            QVERIFY(!exchanges[i].answer.isEmpty());
            QCOMPARE(sent, exchanges[i].frame);
            QCOMPARE(received, exchanges[i].answer);
        }
        // The typed frames went out as typed, each with its own text.
        QCOMPARE(exchanges[14].frame.mid(1, 5), QByteArray("00?RV"));
        QCOMPARE(exchanges[19].frame.mid(1, 5), QByteArray("00KY0"));
        QCOMPARE(stack.commandTextOffset(), 13);
        QCOMPARE(stack.answerTextOffset(), 12);
    }
};

QTEST_GUILESS_MAIN(TestStackWithPump)
#include "tst_stackwithpump.moc"
