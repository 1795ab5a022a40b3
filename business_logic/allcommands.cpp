#include "allcommands.h"

namespace BusinessLogic {

namespace {

template <typename... Commands>
std::vector<std::unique_ptr<Command>> createEach(Communication* communication)
{
    std::vector<std::unique_ptr<Command>> commands;
    commands.reserve(sizeof...(Commands));
    (commands.push_back(std::make_unique<Commands>(communication)), ...);
    return commands;
}

} // namespace

std::vector<std::unique_ptr<Command>> createAllCommands(Communication* communication)
{
    using namespace DosingCommands;
    using namespace IO;
    using namespace Communicate;
    using namespace FactoryDefaultsReset;
    return createEach<
        SetRunMode, GetRunMode, GetActualVolume, GetTimeActual, Start, Stop, Prime, Pause,
        ::GetPumpStatus, GetVolume, SetVolume, SetFlowRate, GetFlowRate,
        SetDispenseTime, GetDispenseTime, SetDispenseModeVolume, SetDispenseModeFlowrate,
        SetDispenseVolumeBreakTime, GetDispenseVolumeBreakTime, SetDispenseVolumeNumber, GetDispenseVolumeNumber,
        SetAnalogInput, GetAnalogInput, SetAnalogRange, GetAnalogRange,
        SetDigitalIn1, GetDigitalIn1, SetDigitalIn2, GetDigitalIn2, SetDigitalOut, GetDigitalOut,
        ::SetLanguage, ::GetLanguage, ::SetCustCalVol, ::SetCustCalPercent, ::GetCustCalPercent,
        AdvancedSettings::SetAutostart, ::GetAutostart,
        ::SetPumpProfileCharacteristic, ::GetPumpProfileCharactristic, ::SetDisplayContrast, ::GetDisplayContrast,
        GetCommRxState, ExecuteCommCheck, GetModelVersion, SetProtocolAnswer, GetProtocolAnswer,
        SetPumpAddress, GetPumpAddress, SetCommAddress, SetInvalidLRC, SetUnusedLRC, SetDiscreteCommand,
        SetFactoryDefaults, SetFactoryMode, GetFactoryMode, SetFactoryMeasuredCalVolume,
        SetMaintenancePos, GetMaintenancePos, SetPumpModel, GetPumpModel,
        SetFactoryPumpStrokeVolume, GetFactoryPumpStrokeVolume>(communication);
}

} // namespace BusinessLogic
