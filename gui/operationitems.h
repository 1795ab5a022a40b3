#pragma once

#include "operationitem.h"

#include <utility>
#include <vector>

// The polled pump quantities, each tied to its reading command (which names its parse rule).
// OperationItemStatus, which also keeps the status words, is in operationitem.h.

// Run mode: 0 flow rate, 1 dispense volume.
class OperationItemRunMode final : public GUI::ItemOf<BusinessLogic::CommandTable::getRunMode>
{};
// Volume delivered so far, in thousandths of a millilitre.
class OperationItemVolumeActual final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getActualVolume>
{};
// Time elapsed (or remaining) in the run, in hundredths of a second.
class OperationItemTimeElapsed final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getTimeActual>
{};
// Dispense time of the run, in whole seconds.
class OperationItemDispenseTime final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getDispenseTime>
{};
// Pause between dosing cycles, in seconds.
class OperationItemVolumeBreakTime final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getDispenseVolumeBreakTime>
{};
// Number of dosing cycles.
class OperationItemVolumeNumber final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getDispenseVolumeNumber>
{};
// Function of the analog input.
class OperationItemAnalogIn final : public GUI::ItemOf<BusinessLogic::CommandTable::getAnalogInput>
{};
// Range of the analog input.
class OperationItemAnalogRange final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getAnalogRange>
{};
// Function of digital input 1.
class OperationItemDigitalIn1 final : public GUI::ItemOf<BusinessLogic::CommandTable::getDigitalIn1>
{};
// Function of digital input 2.
class OperationItemDigitalIn2 final : public GUI::ItemOf<BusinessLogic::CommandTable::getDigitalIn2>
{};
// Function of the digital output.
class OperationItemDigitalOut final : public GUI::ItemOf<BusinessLogic::CommandTable::getDigitalOut>
{};
// Display language of the pump.
class OperationItemLanguage final : public GUI::ItemOf<BusinessLogic::CommandTable::getLanguage>
{};
// Customer calibration, in hundredths of a percent.
class OperationItemCustomCalibrationPercentage final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getCustCalPercent>
{};
// Whether the pump starts by itself after power-up.
class OperationItemAutostart final : public GUI::ItemOf<BusinessLogic::CommandTable::getAutostart>
{};
// Fluid type the pump is profiled for.
class OperationItemPumpProfileCharacteristic final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getPumpProfileCharactristic>
{};
// Display contrast, 0 to 100.
class OperationItemContrast final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getDisplayContrast>
{};
// Model code and firmware version, as one number.
class OperationItemModelVersion final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getModelVersion>
{};
// The bus address the pump listens to.
class OperationItemAddress final : public GUI::ItemOf<BusinessLogic::CommandTable::getPumpAddress>
{};
// Whether the pump is in its factory mode.
class OperationItemFactoryMode final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getFactoryMode>
{};
// Whether the pump stands in its maintenance position.
class OperationItemMaintenancePosition final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getMaintenancePos>
{};
// Pump model set in the factory.
class OperationItemFactoryPumpModel final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getPumpModel>
{};
// Stroke volume measured in the factory, in tenths.
class OperationItemFactoryStrokeVolume final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getFactoryPumpStrokeVolume>
{};

// Target volume, in thousandths of a millilitre once the pump has answered.
class OperationItemVolumeTarget final : public GUI::ItemOf<BusinessLogic::CommandTable::getVolume>
{
public:
    OperationItemVolumeTarget() : ItemOf(10, QStringLiteral("10.00")) {}
};

// Target flow rate, in thousandths of a ml/min once the pump has answered.
class OperationItemFlowrate final : public GUI::ItemOf<BusinessLogic::CommandTable::getFlowRate>
{
public:
    OperationItemFlowrate() : ItemOf(10, QStringLiteral("10.00")) {}
};

// Result of the communication check: the answering address, -1 until a pump has answered.
class OperationItemCommCheck final
    : public GUI::ItemOf<BusinessLogic::CommandTable::executeCommCheck>
{
public:
    OperationItemCommCheck() : ItemOf(-1, QStringLiteral("-1")) {}
};

// Whether the pump answers with acknowledges; it does unless told otherwise.
class OperationItemProtocolAnswer final
    : public GUI::ItemOf<BusinessLogic::CommandTable::getProtocolAnswer>
{
public:
    OperationItemProtocolAnswer() : ItemOf(1, QStringLiteral("1")) {}
};

// Every polled quantity of one window: the refresh cycle feeds them, the display shows them and
// the user's commands set in them what was just sent.
struct OperationItems
{
    OperationItemAnalogIn analogIn;
    OperationItemAnalogRange analogRange;
    OperationItemAutostart autostart;
    OperationItemCommCheck commCheck;
    OperationItemContrast contrast;
    OperationItemCustomCalibrationPercentage customCalibrationPercentage;
    OperationItemDigitalIn1 digitalIn1;
    OperationItemDigitalIn2 digitalIn2;
    OperationItemDigitalOut digitalOut;
    OperationItemDispenseTime dispenseTime;
    OperationItemFactoryMode factoryMode;
    OperationItemFactoryPumpModel factoryPumpModel;
    OperationItemFactoryStrokeVolume factoryStrokeVolume;
    OperationItemFlowrate flowrate;
    OperationItemLanguage language;
    OperationItemMaintenancePosition maintenancePosition;
    OperationItemModelVersion modelVersion;
    OperationItemProtocolAnswer protocolAnswer;
    OperationItemPumpProfileCharacteristic pumpProfileCharacteristic;
    OperationItemRunMode runMode;
    OperationItemStatus status;
    OperationItemTimeElapsed timeElapsed;
    OperationItemVolumeActual volumeActual;
    OperationItemVolumeBreakTime volumeBreakTime;
    OperationItemVolumeNumber volumeNumber;
    OperationItemVolumeTarget volumeTarget;
    OperationItemAddress address;

    // Every polled item with the refresh list it is attached to, in attach order. Status is
    // polled on every tick (page 1) and in the fast rotation (all pages); contrast stands twice
    // in the slow rotation.
    std::vector<std::pair<GUI::OperationData*, int>> pollingPlan()
    {
        return {{&volumeActual, 0},
                {&flowrate, 0},
                {&analogIn, 2},
                {&analogRange, 2},
                {&autostart, 1},
                {&contrast, 2},
                {&digitalIn1, 2},
                {&digitalIn2, 2},
                {&digitalOut, 2},
                {&dispenseTime, 0},
                {&factoryMode, 2},
                {&factoryPumpModel, 2},
                {&language, 2},
                {&maintenancePosition, 2},
                {&modelVersion, 2},
                {&protocolAnswer, 1},
                {&pumpProfileCharacteristic, 2},
                {&runMode, 0},
                {&status, 1},
                {&status, 0},
                {&factoryStrokeVolume, 2},
                {&timeElapsed, 0},
                {&volumeBreakTime, 1},
                {&volumeNumber, 1},
                {&volumeTarget, 0},
                {&address, 2},
                {&customCalibrationPercentage, 2},
                {&contrast, 2}};
    }
};
