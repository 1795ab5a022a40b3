#include "allcommands.h"
#include "commandstack.h"
#include "communication.h"
#include "openrefreshtimer.h"
#include "operationitems.h"
#include "ptypump.h"

#include <QTest>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

// The operation items as the window holds them.
struct WindowItems
{
    OperationItemStatus status;
    OperationItemAddress address;
    OperationItemRunMode runMode;
    OperationItemAnalogIn analogIn;
    OperationItemContrast contrast;
    OperationItemFlowrate flowrate;
    OperationItemLanguage language;
    OperationItemAutostart autostart;
    OperationItemCommCheck commCheck;
    OperationItemDigitalIn1 digitalIn1;
    OperationItemDigitalIn2 digitalIn2;
    OperationItemDigitalOut digitalOut;
    OperationItemAnalogRange analogRange;
    OperationItemFactoryMode factoryMode;
    OperationItemTimeElapsed timeElapsed;
    OperationItemDispenseTime dispenseTime;
    OperationItemModelVersion modelVersion;
    OperationItemVolumeActual volumeActual;
    OperationItemVolumeNumber volumeNumber;
    OperationItemVolumeTarget volumeTarget;
    OperationItemProtocolAnswer protocolAnswer;
    OperationItemVolumeBreakTime volumeBreakTime;
    OperationItemFactoryPumpModel factoryPumpModel;
    OperationItemFactoryStrokeVolume factoryStrokeVolume;
    OperationItemMaintenancePosition maintenancePosition;
    OperationItemPumpProfileCharacteristic pumpProfileCharacteristic;
    OperationItemCustomCalibrationPercentage customCalibrationPercentage;
};

// One polled item: the pump setting behind it, what the pump is set to before polling and
// what the item must then hold.
struct Polled
{
    const char* name;
    GUI::OperationItem* item;
    QByteArray code;
    qint64 pumpValue;
    qint32 value;
    QString text;
};

// A pump at address 7 of model 102 that answers at once, without pacing its bytes.
Simulator::PtyPump::Options pumpOptions()
{
    Simulator::PtyPump::Options options;
    options.address = 7;
    options.modelCode = 102;
    options.pacing = false;
    return options;
}

} // namespace

// The window's polling against the simulated pump, through the real command stack and commands.
class TestRefreshCyclePump : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyItemHasItsReadingCommand();
    void fullRotationBringsEveryValue();
    void changedValueFollowsWithinItsRotation_data();
    void changedValueFollowsWithinItsRotation();

private:
    // updateAttachAll of the window: its order and list numbers.
    void attachAll();
    // One polling tick and the exchanges it queued; returns the number of commands queued.
    int tick();

    Simulator::PtyPump pump{pumpOptions()};
    Communication communication;
    std::vector<std::unique_ptr<BusinessLogic::Command>> commandObjects;
    std::vector<BusinessLogic::Command*> table;
    BusinessLogic::CommandStack stack;
    std::unique_ptr<OpenRefreshTimer> refresher;
    std::unique_ptr<WindowItems> items;
    std::vector<Polled> polled;
    int ticks = 0;
};

void TestRefreshCyclePump::initTestCase()
{
    QVERIFY2(pump.start(), qPrintable(pump.errorString()));
    communication.setCommPortPath(pump.portPath());
    QVERIFY(communication.isOpen());
    commandObjects = BusinessLogic::createAllCommands(&communication);
    table.assign(BusinessLogic::CommandTableSize, nullptr);
    for (const auto& command : commandObjects)
        table.at(std::size_t(command->getCommandSpezifier())) = command.get();
    // The pump listens to address 7: the link is told so the way the window does it.
    stack.addCommand(table.at(50), 7, false);
    while (stack.queuedCount() > 0)
        stack.ExecuteCommand();
}

void TestRefreshCyclePump::init()
{
    items = std::make_unique<WindowItems>();
    WindowItems& i = *items;
    polled = {
        {"volume actual", &i.volumeActual, "TV", 4321, 4321, "4321"},
        {"flow rate", &i.flowrate, "RV", 15432, 15432, "15432"},
        {"dispense time", &i.dispenseTime, "DT", 1020300, 3723, "010203"},
        {"run mode", &i.runMode, "MS", 1, 1, "1"},
        {"time elapsed", &i.timeElapsed, "TT", 1020345, 372345, "01020345"},
        {"volume target", &i.volumeTarget, "DV", 12345, 12345, "12345"},
        {"autostart", &i.autostart, "SA", 1, 1, "1"},
        {"protocol answer", &i.protocolAnswer, "SP", 1, 1, "1"},
        {"break time", &i.volumeBreakTime, "DB", 125, 125, "125"},
        {"cycles", &i.volumeNumber, "DN", 42, 42, "42"},
        {"analog in", &i.analogIn, "RA", 3, 3, "3"},
        {"analog range", &i.analogRange, "RB", 4, 4, "4"},
        {"contrast", &i.contrast, "LC", 77, 77, "77"},
        {"digital in 1", &i.digitalIn1, "L1", 6, 6, "6"},
        {"digital in 2", &i.digitalIn2, "L2", 8, 8, "8"},
        {"digital out", &i.digitalOut, "RS", 2, 2, "2"},
        {"factory mode", &i.factoryMode, "PF!", 1, 1, "1"},
        {"pump model", &i.factoryPumpModel, "PM!", 3, 3, "3"},
        {"language", &i.language, "LS", 5, 5, "5"},
        {"maintenance position", &i.maintenancePosition, "MP", 1, 1, "1"},
        {"model version", &i.modelVersion, "SV", 102, 10201023, "0010201023"},
        {"fluid type", &i.pumpProfileCharacteristic, "CC", 2, 2, "2"},
        {"stroke volume", &i.factoryStrokeVolume, "ZF!", 345, 345, "345"},
        {"address", &i.address, "AD", 7, 7, "7"},
        {"calibration", &i.customCalibrationPercentage, "CH", 9500, 9500, "9500"},
    };
    for (const Polled& entry : polled) {
        QVERIFY(pump.setValue(entry.code, entry.pumpValue));
        // A value no answer gives, so that every answer shows.
        entry.item->setValue(-777);
    }
    const std::map<QByteArray, int> words{{"SS0", 11}, {"SS1", 0}, {"SS2", 0x0D}, {"SS3", 0x20},
                                          {"SS4", 0x02}, {"SS5", 21}, {"SS6", 0x10}};
    for (const auto& [code, word] : words)
        QVERIFY(pump.setValue(code, word));

    refresher = std::make_unique<OpenRefreshTimer>(&stack, &table);
    // Ticks are driven by the test, not by the 500 ms timer.
    refresher->noCyclicDataUpdate(true);
    OpenRefreshTimer::statusPage = 0;
    ticks = 0;
    attachAll();
}

void TestRefreshCyclePump::cleanup()
{
    refresher.reset();
    items.reset();
    stack.clear();
}

void TestRefreshCyclePump::attachAll()
{
    WindowItems& i = *items;
    const std::vector<std::pair<GUI::OperationData*, int>> sequence{
        {&i.volumeActual, 0}, {&i.flowrate, 0}, {&i.analogIn, 2}, {&i.analogRange, 2},
        {&i.autostart, 1}, {&i.contrast, 2}, {&i.digitalIn1, 2}, {&i.digitalIn2, 2},
        {&i.digitalOut, 2}, {&i.dispenseTime, 0}, {&i.factoryMode, 2}, {&i.factoryPumpModel, 2},
        {&i.language, 2}, {&i.maintenancePosition, 2}, {&i.modelVersion, 2},
        {&i.protocolAnswer, 1}, {&i.pumpProfileCharacteristic, 2}, {&i.runMode, 0},
        {&i.status, 1}, {&i.status, 0}, {&i.factoryStrokeVolume, 2}, {&i.timeElapsed, 0},
        {&i.volumeBreakTime, 1}, {&i.volumeNumber, 1}, {&i.volumeTarget, 0}, {&i.address, 2},
        {&i.customCalibrationPercentage, 2}, {&i.contrast, 2}};
    for (const auto& [item, list] : sequence)
        refresher->attach(item, list);
}

int TestRefreshCyclePump::tick()
{
    refresher->execute();
    const int queued = stack.queuedCount();
    while (stack.queuedCount() > 0)
        stack.ExecuteCommand();
    ++ticks;
    return queued;
}

void TestRefreshCyclePump::everyItemHasItsReadingCommand()
{
    for (const Polled& entry : polled) {
        const BusinessLogic::CommandSpezifier spezifier = entry.item->getCommandSpezifier();
        QVERIFY(table.at(std::size_t(spezifier)));
        QCOMPARE(table.at(std::size_t(spezifier))->getCommandSpezifier(), spezifier);
    }
    QCOMPARE(table.at(std::size_t(items->status.getCommandSpezifier()))->getCommandSpezifier(), 8);
    QCOMPARE(table.at(std::size_t(items->commCheck.getCommandSpezifier()))->getCommandSpezifier(), 43);
}

void TestRefreshCyclePump::fullRotationBringsEveryValue()
{
    // Seven from the every-tick list; two turns of the fast list, one of them a wrap every
    // sixth tick; one of the slow list, nothing on its wrap every seventeenth tick.
    for (int t = 0; t < 17; ++t) {
        const int expected = 7 + (t % 6 == 5 ? 1 : 2) + (t % 17 == 16 ? 0 : 1);
        QCOMPARE(tick(), expected);
        QCOMPARE(refresher->pendingCount, 0);
    }
    QStringList held;
    QStringList wanted;
    for (const Polled& entry : polled) {
        const QString name = QString::fromLatin1(entry.name) + ": ";
        held << name + QString::number(entry.item->getValue()) + " " + entry.item->getText();
        wanted << name + QString::number(entry.value) + " " + entry.text;
    }
    for (int page = 0; page < OperationItemStatus::PageCount; ++page) {
        const QString name = "status word " + QString::number(page) + ": ";
        held << name + QString::number(items->status.getStatus(page));
        wanted << name + QString::number(*pump.value("SS" + QByteArray::number(page)));
    }
    QCOMPARE(held, wanted);
}

void TestRefreshCyclePump::changedValueFollowsWithinItsRotation_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<qint64>("pumpValue");
    QTest::addColumn<int>("withinTicks");

    QTest::newRow("every tick: target volume") << QByteArray("DV") << qint64(54321) << 1;
    QTest::newRow("every tick: status word 1") << QByteArray("SS1") << qint64(0x04) << 1;
    QTest::newRow("fast list: cycles") << QByteArray("DN") << qint64(77) << 6;
    QTest::newRow("fast list: error word") << QByteArray("SS6") << qint64(0x40) << 6;
    QTest::newRow("fast list: status word 0") << QByteArray("SS0") << qint64(99) << 6;
    QTest::newRow("slow list: language") << QByteArray("LS") << qint64(2) << 17;
    QTest::newRow("slow list: stroke volume") << QByteArray("ZF!") << qint64(999) << 17;
    QTest::newRow("slow list: contrast") << QByteArray("LC") << qint64(33) << 17;
}

void TestRefreshCyclePump::changedValueFollowsWithinItsRotation()
{
    QFETCH(QByteArray, code);
    QFETCH(qint64, pumpValue);
    QFETCH(int, withinTicks);

    // Settle first, from a rotation that stands somewhere in the middle.
    for (int t = 0; t < 7; ++t)
        tick();
    QVERIFY(pump.setValue(code, pumpValue));
    const qint64 expected = *pump.value(code);
    std::function<qint32()> observed;
    if (code.startsWith("SS")) {
        const int page = code.at(2) - '0';
        observed = [this, page] { return items->status.getStatus(page); };
    } else {
        const auto entry = std::find_if(polled.begin(), polled.end(),
                                        [&](const Polled& p) { return p.code == code; });
        QVERIFY(entry != polled.end());
        observed = [item = entry->item] { return item->getValue(); };
    }
    QVERIFY(observed() != expected);
    int taken = 0;
    while (taken < withinTicks && observed() != expected) {
        tick();
        ++taken;
    }
    QCOMPARE(observed(), expected);
}

QTEST_GUILESS_MAIN(TestRefreshCyclePump)
#include "tst_refreshcyclepump.moc"
