#include "allcommands.h"
#include "communication.h"
#include "ptypump.h"

#include <QtTest>

using namespace BusinessLogic;
using Traits = const CommandTraits*;
namespace Table = CommandTable;

Q_DECLARE_METATYPE(Traits)

// The commands against the simulated pump on a pseudo-terminal: what the pump understood, and
// what the commands report back from it.
class TestCommandsWithPump : public QObject
{
    Q_OBJECT

    Simulator::PtyPump pump;
    Communication link;
    std::vector<std::unique_ptr<Command>> commands = createAllCommands(&link);

    QByteArray run(const CommandTraits& traits, qint32 parameter)
    {
        Command& c = *commands[size_t(traits.spezifier < 44 ? traits.spezifier : traits.spezifier - 1)];
        c.setParameter(parameter);
        execute(c);
        return c.getAnswer();
    }

    // Runs the command as the window does. A busy machine can keep the pump's answer from the
    // link for longer than the link waits; when the pump did answer and the link heard nothing
    // whole, the command runs again (twice at most): the rows judge what the commands make of
    // the pump's answers, not the machine's load.
    void execute(Command& c)
    {
        for (int attempt = 0;; ++attempt) {
            const int before = pump.frameCount();
            c.execute();
            if (attempt == 2 || link.nakReceived || link.ackReceived
                || (link.answerRecognised && !link.noAnswer))
                return;
            pump.waitForFrames(before + 1, 2000);
            const QList<Simulator::ExchangeRecord> records = pump.exchanges();
            if (pump.frameCount() <= before || records.isEmpty() || records.last().answer.isEmpty())
                return;
            qWarning("the pump answered later than the link waits (a busy machine): once more");
        }
    }

    // The code a writing command's body starts with, without its value.
    static QByteArray codeOf(const CommandTraits& traits)
    {
        const QByteArray body(traits.body);
        return body.left(body.size() >= 3 && body[2] == '!' ? 3 : 2);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(pump.start(), qPrintable(pump.errorString()));
        link.setCommPortPath(pump.devicePath());
        QVERIFY(link.isOpen());
        for (std::size_t i = 0; i < commands.size(); ++i)
            QCOMPARE(commands[i]->getCommandSpezifier(), int(i < 44 ? i : i + 1));
    }

    void init()
    {
        link.protocolAnswer = true;
        link.address = pump.address();
    }

    // A value the window may send is taken by the pump and read back by the reading command;
    // one outside the pump's range is refused and the command reports its default.
    void writingCommands_data()
    {
        QTest::addColumn<Traits>("writer");
        QTest::addColumn<Traits>("reader");
        QTest::addColumn<qint32>("good");
        QTest::addColumn<qint32>("bad");
        auto add = [](const CommandTraits& writer, Traits reader, qint32 good, qint32 bad) {
            QTest::newRow(writer.body) << &writer << reader << good << bad;
        };
        add(Table::setVolume, &Table::getVolume, 2500, -250);
        add(Table::setFlowRate, &Table::getFlowRate, 5000, 200000);
        add(Table::setDispenseTime, &Table::getDispenseTime, 1020300, -1);
        add(Table::setDispenseVolumeBreakTime, &Table::getDispenseVolumeBreakTime, 125, -5);
        add(Table::setDispenseVolumeNumber, &Table::getDispenseVolumeNumber, 3, 100000);
        add(Table::setAnalogInput, &Table::getAnalogInput, 3, 5);
        add(Table::setAnalogRange, &Table::getAnalogRange, 1, -1);
        add(Table::setDigitalIn1, &Table::getDigitalIn1, 6, 2);
        add(Table::setDigitalIn2, &Table::getDigitalIn2, 10, 7);
        add(Table::setDigitalOut, &Table::getDigitalOut, 4, 5);
        add(Table::setLanguage, &Table::getLanguage, 6, 7);
        add(Table::setCustCalVol, nullptr, 1500, -1);
        add(Table::setCustCalPercent, &Table::getCustCalPercent, 8000, 7999);
        add(Table::setAutostart, &Table::getAutostart, 1, 2);
        add(Table::setPumpProfileCharacteristic, &Table::getPumpProfileCharactristic, 3, 4);
        add(Table::setDisplayContrast, &Table::getDisplayContrast, 7, 101);
        add(Table::setPumpAddress, &Table::getPumpAddress, 0, 100);
        add(Table::setFactoryMode, &Table::getFactoryMode, 1, 2);
        add(Table::setFactoryMeasuredCalVolume, nullptr, 1500, -1);
        add(Table::setMaintenancePos, &Table::getMaintenancePos, 1, 2);
        add(Table::setPumpModel, &Table::getPumpModel, 3, 6);
        add(Table::setFactoryPumpStrokeVolume, &Table::getFactoryPumpStrokeVolume, 202, -202);
    }
    void writingCommands()
    {
        QFETCH(Traits, writer);
        QFETCH(Traits, reader);
        QFETCH(qint32, good);
        QFETCH(qint32, bad);
        QCOMPARE(run(*writer, bad), QByteArray(writer->defaultAnswer));
        QVERIFY(link.nakReceived);
        QCOMPARE(run(Table::getCommRxState, 0), QByteArray("0100"));

        run(*writer, good);
        QVERIFY(link.ackReceived);
        QCOMPARE(pump.value(codeOf(*writer)).value_or(-1), qint64(good));
        if (reader)
            QCOMPARE(run(*reader, 0), pump.query(reader->body));
    }

    // Every reading command reports what the pump answers to its code.
    void readingCommands_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<qint32>("parameter");
        // Which commands read, from the frames they build on a closed line.
        Communication closed;
        const auto probes = createAllCommands(&closed);
        for (int i = 0; i < CommandCount; ++i) {
            closed.lastSentFrame.clear();
            probes[size_t(i)]->setParameter(1);
            probes[size_t(i)]->execute();
            const QByteArray frame = probes[size_t(i)]->getSentFrame();
            if (frame.mid(3).startsWith('?'))
                QTest::newRow(frame.mid(3, frame.size() - 5).constData()) << i << 1;
        }
        QTest::newRow("status word 6") << int(Table::getPumpStatus.spezifier) << 6;
    }
    void readingCommands()
    {
        QFETCH(int, index);
        QFETCH(qint32, parameter);
        Command& c = *commands[size_t(index)];
        c.setParameter(parameter);
        execute(c);
        const QByteArray body = c.getSentFrame().mid(3, c.getSentFrame().size() - 5);
        const QByteArray expected = pump.query(body);
        QVERIFY(!expected.isEmpty());
        QVERIFY(link.answerRecognised);
        const bool statusWord = c.getCommandSpezifier() == Table::getPumpStatus.spezifier;
        QCOMPARE(c.getAnswer(), statusWord ? expected + ' ' + QByteArray::number(parameter) : expected);
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
        Command& typed = *commands[size_t(Table::setDiscreteCommand.spezifier - 1)];
        typed.setTextParameter(text);
        execute(typed);
        QCOMPARE(typed.getAnswer(), text.isEmpty() ? link.addressText() : pump.query(text));
    }
};

QTEST_GUILESS_MAIN(TestCommandsWithPump)
#include "tst_commandswithpump.moc"
