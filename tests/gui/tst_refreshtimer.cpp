#include "commandstack.h"
#include "commandtable.h"
#include "openrefreshtimer.h"
#include "operationitems.h"

#include <QTest>

#include <map>
#include <memory>
#include <vector>

namespace {

// One executed command: which reading command and the parameter it was given.
struct Executed
{
    BusinessLogic::CommandSpezifier spezifier;
    qint32 parameter;
};

// Stands in for a reading command: notes each execution and answers with a fixed text.
class ProbeCommand : public BusinessLogic::Command
{
public:
    ProbeCommand(BusinessLogic::CommandSpezifier spezifier, std::vector<Executed>* journal)
        : Command(nullptr), spezifier(spezifier), journal(journal)
    {
    }

    BusinessLogic::CommandSpezifier getCommandSpezifier() override { return spezifier; }
    void setParameter(int value) override { parameter = value; }
    void execute() override { journal->push_back({spezifier, parameter}); }
    QByteArray getAnswer() override { return QByteArray::number(spezifier * 10); }

private:
    BusinessLogic::CommandSpezifier spezifier;
    std::vector<Executed>* journal;
    qint32 parameter = 0;
};

// Notes which commands the stack reported to the messages panel.
class RecordingStack : public BusinessLogic::CommandStack
{
public:
    void logCommand(Platform::SystemTime* time) override
    {
        Q_UNUSED(time);
        logged.push_back(current->getCommandSpezifier());
    }

    std::vector<BusinessLogic::CommandSpezifier> logged;
};

} // namespace

// Rotation, answer matching, locking and switches of the refresh cycle, against probe commands.
class TestRefreshTimer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void ticksQueueTheRotations_data();
    void ticksQueueTheRotations();
    void answersReachTheWaitingItemsInOrder();
    void pollsByItself();

private:
    // Runs one tick and everything it queued; returns "A1 S2 …" per executed command.
    QString tick();
    QString drain();
    GUI::OperationData* item(QChar name);

    std::vector<Executed> journal;
    std::vector<std::unique_ptr<BusinessLogic::Command>> probes;
    std::vector<BusinessLogic::Command*> table;
    std::unique_ptr<RecordingStack> stack;
    std::unique_ptr<OpenRefreshTimer> refresher;

    // Fresh items for every test, as the window holds them.
    struct Items
    {
        OperationItemAutostart autostart;
        OperationItemLanguage language;
        OperationItemContrast contrast;
        OperationItemStatus status;
        OperationItemVolumeActual volumeActual;
        OperationItemFlowrate flowrate;
    };
    std::unique_ptr<Items> items;
    // Names used in the tables: letters for ordinary items, S for the status item, 0 for none.
    std::map<QChar, GUI::OperationData*> names;
};

void TestRefreshTimer::init()
{
    journal.clear();
    probes.clear();
    table.assign(BusinessLogic::CommandTableSize, nullptr);
    for (int n = 0; n < BusinessLogic::CommandTableSize; ++n) {
        probes.push_back(std::make_unique<ProbeCommand>(n, &journal));
        table[std::size_t(n)] = probes.back().get();
    }
    items = std::make_unique<Items>();
    names = {{'A', &items->autostart}, {'B', &items->language}, {'C', &items->contrast},
             {'S', &items->status},    {'E', &items->volumeActual}, {'F', &items->flowrate},
             {'0', nullptr}};
    stack = std::make_unique<RecordingStack>();
    refresher = std::make_unique<OpenRefreshTimer>(stack.get(), &table);
}

void TestRefreshTimer::cleanup()
{
    refresher.reset();
    stack.reset();
    items.reset();
}

GUI::OperationData* TestRefreshTimer::item(QChar name)
{
    return names.at(name);
}

QString TestRefreshTimer::drain()
{
    journal.clear();
    while (stack->queuedCount() > 0)
        stack->ExecuteCommand();
    QStringList executed;
    for (const Executed& entry : journal) {
        const auto named = std::find_if(names.begin(), names.end(), [&](const auto& pair) {
            return pair.second && pair.second->getCommandSpezifier() == entry.spezifier;
        });
        const QChar name = named == names.end() ? QChar('?') : named->first;
        executed << name + QString::number(entry.parameter);
    }
    return executed.join(' ');
}

QString TestRefreshTimer::tick()
{
    refresher->execute();
    return drain();
}

void TestRefreshTimer::ticksQueueTheRotations_data()
{
    QTest::addColumn<QString>("attach"); // item name and list number per entry
    QTest::addColumn<int>("startPage");
    QTest::addColumn<QStringList>("ticks");

    QTest::newRow("status alone in the fast list")
        << "S1" << 0 << QStringList{"S1 S2", "S3 S4", "S5 S6", "S0", "S1 S2"};
    QTest::newRow("slow list wraps after a turn of its own")
        << "A2 B2" << 0 << QStringList{"A0", "B0", "", "A0", "B0", ""};
    QTest::newRow("same item twice is polled twice")
        << "A2 A2 B2" << 0 << QStringList{"A0", "A0", "B0", "", "A0"};
    QTest::newRow("fast list moves past status after page 0")
        << "A1 S1 B1" << 0 << QStringList{"A0 S1", "S2 S3", "S4 S5", "S6 S0", "B0", "A0 S1"};
    QTest::newRow("slow items take the current page")
        << "S1 A2" << 0 << QStringList{"S1 S2 A2", "S3 S4", "S5 S6 A6", "S0", "S1 S2 A2"};
    QTest::newRow("every-tick list in order, status page 1")
        << "E0 S0 F0 C7" << 3 << QStringList{"E1 S1 F1", "E1 S1 F1"};
    QTest::newRow("empty entries queue nothing")
        << "00 E0 02 A2" << 0 << QStringList{"E1", "E1 A0", "E1", "E1"};
    // After a restart in the middle of the status pages the other entries still move on.
    QTest::newRow("rotation restarted between status pages")
        << "A1 S1 B1" << 3 << QStringList{"A3 S4", "S5 S6", "S0 B0", "A0", "S1 S2"};
    QTest::newRow("empty fast entry moves on")
        << "01 A1" << 2 << QStringList{"A2", "", "A2"};
}

void TestRefreshTimer::ticksQueueTheRotations()
{
    QFETCH(QString, attach);
    QFETCH(int, startPage);
    QFETCH(QStringList, ticks);

    for (const QString& entry : attach.split(' '))
        refresher->attach(item(entry.at(0)), entry.mid(1).toInt());
    refresher->statusPage = startPage;
    for (const QString& expected : ticks)
        QCOMPARE(tick(), expected);
}

void TestRefreshTimer::answersReachTheWaitingItemsInOrder()
{
    refresher->attach(&items->volumeActual, 0);
    refresher->attach(&items->flowrate, 0);
    // A user command queued first answers before the cyclic ones and matches nothing.
    stack->addCommand(table.at(BusinessLogic::CommandTable::getVolume.spezifier), 0, true);
    refresher->execute();
    QCOMPARE(refresher->pendingCount, 2);
    stack->ExecuteCommand();
    QCOMPARE(refresher->pendingCount, 2);
    QCOMPARE(items->volumeActual.getValue(), 0);
    stack->ExecuteCommand();
    QCOMPARE(items->volumeActual.getValue(), 20);
    QCOMPARE(items->flowrate.getValue(), 10);
    stack->ExecuteCommand();
    QCOMPARE(items->flowrate.getValue(), 120);
    QCOMPARE(refresher->pendingCount, 0);
    // Detached items still take the answers already on their way.
    refresher->execute();
    refresher->detach(&items->volumeActual);
    refresher->detach(&items->flowrate);
    items->volumeActual.setValue(0);
    drain();
    QCOMPARE(items->volumeActual.getValue(), 20);
    QCOMPARE(refresher->pendingCount, 0);
}

void TestRefreshTimer::pollsByItself()
{
    // Built and given an item, the cycle queues its reading on its own timer.
    refresher->attach(&items->volumeActual, 0);
    QTRY_VERIFY(!journal.empty());
}

QTEST_GUILESS_MAIN(TestRefreshTimer)
#include "tst_refreshtimer.moc"
