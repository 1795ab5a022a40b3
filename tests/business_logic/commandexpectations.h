#pragma once

#include "allcommands.h"

#include <QByteArray>

#include <iterator>
#include <memory>

// What every pump command must do, written out row by row from the protocol's tables, so that a
// wrong code, width, wait or default answer in the command table shows as a failing row.
namespace CommandExpectations {

using namespace BusinessLogic;

inline const QByteArray Ack(1, '\x06');
inline const QByteArray Nak(1, '\x15');

// STX, text, ETX and the XOR of them all, written out here so that the check byte of the link is
// not its own witness.
inline QByteArray frameOf(const QByteArray& text)
{
    const QByteArray frame = '\x02' + text + '\x03';
    char lrc = 0;
    for (const char byte : frame)
        lrc ^= byte;
    return frame + lrc;
}

enum class Expect { Acknowledge, Frame, NoLine };

using Factory = std::unique_ptr<Command> (*)(Communication*);

template <typename T>
std::unique_ptr<Command> make(Communication* link)
{
    return std::make_unique<T>(link);
}

struct Expected
{
    const char* className;
    Factory create;
    CommandSpezifier spezifier;
    qint32 parameter;
    const char* body; // between the address and ETX; nullptr: nothing is sent
    const char* defaultAnswer;
    Expect wait;
    const char* ownSlots; // nullptr: no meta-object of its own
};

using namespace DosingCommands;
using namespace IO;
using namespace Communicate;
using namespace FactoryDefaultsReset;
using E = Expect;

// One row per command class, in CommandSpezifier order.

inline const Expected rows[] = {
    {"BusinessLogic::SetRunMode", make<SetRunMode>, 0, 9, "MS0", "", E::Acknowledge, "execute()"},
    {"BusinessLogic::GetRunMode", make<GetRunMode>, 1, 9, "?MS", "0", E::Frame, nullptr},
    {"BusinessLogic::GetActualVolume", make<GetActualVolume>, 2, 9, "?TV", "30", E::Frame, nullptr},
    {"BusinessLogic::GetTimeActual", make<GetTimeActual>, 3, 9, "?TT", "00000000", E::Frame, nullptr},
    {"BusinessLogic::Start", make<Start>, 4, 77, "KY1", "", E::Acknowledge, "execute()"},
    {"BusinessLogic::Stop", make<Stop>, 5, 77, "KY0", "", E::Acknowledge, "execute()"},
    {"BusinessLogic::Prime", make<Prime>, 6, 77, "KY2", "", E::Acknowledge, "execute()"},
    {"BusinessLogic::Pause", make<Pause>, 7, 77, "KY3", "", E::Acknowledge, ""},
    {"GetPumpStatus", make<GetPumpStatus>, 8, 4, "?SS4", "0", E::Frame, nullptr},
    {"BusinessLogic::GetVolume", make<GetVolume>, 9, 9, "?DV", "10000", E::Frame, "execute()"},
    {"BusinessLogic::SetVolume", make<SetVolume>, 10, 5000, "DV00005000", "", E::Acknowledge,
     "execute(),setParameter(int)"},
    {"BusinessLogic::SetFlowRate", make<SetFlowRate>, 11, 0, "RV00000000", "", E::Acknowledge,
     "execute(),setParameter(int)"},
    {"BusinessLogic::GetFlowRate", make<GetFlowRate>, 12, 9, "?RV", "10000", E::Frame, "execute()"},
    {"SetDispenseTime", make<SetDispenseTime>, 13, 1020300, "DT01020300", "", E::Acknowledge, nullptr},
    {"GetDispenseTime", make<GetDispenseTime>, 14, 9, "?DT", "0", E::Frame, nullptr},
    {"BusinessLogic::SetDispenseModeVolume", make<SetDispenseModeVolume>, 15, 9, "MS1", "",
     E::Acknowledge, "execute()"},
    {"BusinessLogic::SetDispenseModeFlowrate", make<SetDispenseModeFlowrate>, 16, 9, "MS2", "",
     E::Acknowledge, "execute()"},
    {"SetDispenseVolumeBreakTime", make<SetDispenseVolumeBreakTime>, 17, 125, "DB00125", "",
     E::Acknowledge, nullptr},
    {"GetDispenseVolumeBreakTime", make<GetDispenseVolumeBreakTime>, 18, 9, "?DB", "1", E::Frame,
     nullptr},
    {"SetDispenseVolumeNumber", make<SetDispenseVolumeNumber>, 19, 3, "DN00003", "", E::Acknowledge,
     nullptr},
    {"GetDispenseVolumeNumber", make<GetDispenseVolumeNumber>, 20, 9, "?DN", "0", E::Frame, nullptr},
    {"SetAnalogInput", make<SetAnalogInput>, 21, 3, "RA3", "9", E::Acknowledge, nullptr},
    {"GetAnalogInput", make<GetAnalogInput>, 22, 9, "?RA", "09", E::Frame, nullptr},
    {"SetAnalogRange", make<SetAnalogRange>, 23, 1, "RB1", "9", E::Acknowledge, nullptr},
    {"GetAnalogRange", make<GetAnalogRange>, 24, 9, "?RB", "0", E::Frame, nullptr},
    {"SetDigitalIn1", make<SetDigitalIn1>, 25, 6, "L106", "", E::Acknowledge, nullptr},
    {"GetDigitalIn1", make<GetDigitalIn1>, 26, 9, "?L1", "0", E::Frame, nullptr},
    {"SetDigitalIn2", make<SetDigitalIn2>, 27, 10, "L210", "", E::Acknowledge, nullptr},
    {"GetDigitalIn2", make<GetDigitalIn2>, 28, 9, "?L2", "0", E::Frame, nullptr},
    {"SetDigitalOut", make<SetDigitalOut>, 29, 4, "RS4", "", E::Acknowledge, nullptr},
    {"GetDigitalOut", make<GetDigitalOut>, 30, 9, "?RS", "0", E::Frame, nullptr},
    {"SetLanguage", make<SetLanguage>, 31, 2, "LS2", "40", E::Acknowledge, nullptr},
    {"GetLanguage", make<GetLanguage>, 32, 9, "?LS", "0", E::Frame, nullptr},
    {"SetCustCalVol", make<SetCustCalVol>, 33, 1500, "CF00001500", "", E::Acknowledge, nullptr},
    {"SetCustCalPercent", make<SetCustCalPercent>, 34, 8000, "CH08000", "", E::Acknowledge, nullptr},
    {"GetCustCalPercent", make<GetCustCalPercent>, 35, 9, "?CH", "10000", E::Frame, nullptr},
    {"AdvancedSettings::SetAutostart", make<AdvancedSettings::SetAutostart>, 36, 1, "SA1", "",
     E::Acknowledge, nullptr},
    {"GetAutostart", make<GetAutostart>, 37, 9, "?SA", "0", E::Frame, nullptr},
    {"SetPumpProfileCharacteristic", make<SetPumpProfileCharacteristic>, 38, 3, "CC3", "",
     E::Acknowledge, nullptr},
    {"GetPumpProfileCharactristic", make<GetPumpProfileCharactristic>, 39, 9, "?CC", "0", E::Frame,
     nullptr},
    {"SetDisplayContrast", make<SetDisplayContrast>, 40, 7, "LC007", "", E::Acknowledge, nullptr},
    {"GetDisplayContrast", make<GetDisplayContrast>, 41, 9, "?LC", "40", E::Frame, nullptr},
    {"GetCommRxState", make<GetCommRxState>, 42, 1, nullptr, nullptr, E::NoLine, nullptr},
    {"ExecuteCommCheck", make<ExecuteCommCheck>, 43, 9, "?SI", "-1", E::Frame, nullptr},
    {"GetModelVersion", make<GetModelVersion>, 45, 9, "?SV", "0011000000", E::Frame, nullptr},
    {"SetProtocolAnswer", make<SetProtocolAnswer>, 46, 1, "SP1", "1", E::Acknowledge, nullptr},
    {"GetProtocolAnswer", make<GetProtocolAnswer>, 47, 9, "?SP", "1", E::Frame, nullptr},
    {"SetPumpAddress", make<SetPumpAddress>, 48, 5, "AD05", "", E::Acknowledge, nullptr},
    {"GetPumpAddress", make<GetPumpAddress>, 49, 9, "?AD", "-1", E::Frame, nullptr},
    {"SetCommAddress", make<SetCommAddress>, 50, 1, nullptr, nullptr, E::NoLine, nullptr},
    {"SetInvalidLRC", make<SetInvalidLRC>, 51, 0, nullptr, nullptr, E::NoLine, nullptr},
    {"SetUnusedLRC", make<SetUnusedLRC>, 52, 0, nullptr, nullptr, E::NoLine, nullptr},
    {"SetDiscreteCommand", make<SetDiscreteCommand>, 53, 9, "?TV", "DISCRETE COMMAND", E::Frame,
     nullptr},
    {"SetFactoryDefaults", make<SetFactoryDefaults>, 54, 5, "IP", "", E::Acknowledge, nullptr},
    {"SetFactoryMode", make<SetFactoryMode>, 55, 1, "PF!1", "", E::Acknowledge, nullptr},
    {"GetFactoryMode", make<GetFactoryMode>, 56, 9, "?PF!", "0", E::Frame, nullptr},
    {"SetFactoryMeasuredCalVolume", make<SetFactoryMeasuredCalVolume>, 57, 1500, "ZR!00001500", "",
     E::Acknowledge, nullptr},
    {"SetMaintenancePos", make<SetMaintenancePos>, 58, 1, "MP1", "", E::Acknowledge, nullptr},
    {"GetMaintenancePos", make<GetMaintenancePos>, 59, 9, "?MP", "0", E::Frame, nullptr},
    {"SetPumpModel", make<SetPumpModel>, 60, 3, "PM!3", "", E::Acknowledge, nullptr},
    {"GetPumpModel", make<GetPumpModel>, 61, 9, "?PM!", "OFFLINE", E::Frame, nullptr},
    {"SetFactoryPumpStrokeVolume", make<SetFactoryPumpStrokeVolume>, 62, 202, "ZF!00202", "",
     E::Acknowledge, nullptr},
    {"GetFactoryPumpStrokeVolume", make<GetFactoryPumpStrokeVolume>, 63, 9, "?ZF!", "202", E::Frame,
     nullptr},
};
static_assert(std::size(rows) == CommandCount);

constexpr CommandSpezifier DiscreteId = 53;
constexpr CommandSpezifier PumpStatusId = 8;
// What every command but the discrete one is handed as text: it must not show anywhere.
inline const QByteArray StrayText = "?ZZ9";

// Parameter and text as the command stack would hand them.
inline void prepare(Command& command, const Expected& row)
{
    command.setParameter(row.parameter);
    command.setTextParameter(row.spezifier == DiscreteId ? QByteArray(row.body) : StrayText);
}

// The status word's answer names the word it was asked for.
inline QByteArray answerOf(const Expected& row, const QByteArray& data)
{
    return row.spezifier == PumpStatusId ? data + ' ' + QByteArray::number(row.parameter) : data;
}

// Index of the row of a CommandSpezifier.
inline int rowOf(CommandSpezifier spezifier)
{
    for (int i = 0; i < CommandCount; ++i)
        if (rows[i].spezifier == spezifier)
            return i;
    return -1;
}

} // namespace CommandExpectations
