#pragma once

#include "command.h"

namespace BusinessLogic {

// How a command waits for the pump once its frame is out: for a single ACK/NAK or for a frame.
enum class Wait { Acknowledge, Frame };

// Everything that tells one pump command from another on the line.
struct CommandTraits
{
    CommandSpezifier spezifier;
    // Text between the address and ETX: the code, "?" in front for a reading command, and the
    // fixed value character of an action; a command with a value appends it to this.
    const char* body;
    // Minimum width of the appended value, filled with "0"; 0 for commands without a value.
    int width;
    Wait wait;
    // Reported instead of an empty data text (pump silent, ACK, NAK, no frame).
    const char* defaultAnswer;
};

// One row per command class, in CommandSpezifier order.
namespace CommandTable {

constexpr Wait Ack = Wait::Acknowledge;
constexpr Wait Frame = Wait::Frame;
constexpr int NoValue = 0;

// Run control and targets.
inline constexpr CommandTraits setRunMode{0, "MS0", NoValue, Ack, ""};
inline constexpr CommandTraits getRunMode{1, "?MS", NoValue, Frame, "0"};
inline constexpr CommandTraits getActualVolume{2, "?TV", NoValue, Frame, "30"};
inline constexpr CommandTraits getTimeActual{3, "?TT", NoValue, Frame, "00000000"};
inline constexpr CommandTraits start{4, "KY1", NoValue, Ack, ""};
inline constexpr CommandTraits stop{5, "KY0", NoValue, Ack, ""};
inline constexpr CommandTraits prime{6, "KY2", NoValue, Ack, ""};
inline constexpr CommandTraits pause{7, "KY3", NoValue, Ack, ""};
inline constexpr CommandTraits getPumpStatus{8, "?SS", 1, Frame, "0"};
inline constexpr CommandTraits getVolume{9, "?DV", NoValue, Frame, "10000"};
inline constexpr CommandTraits setVolume{10, "DV", 8, Ack, ""};
inline constexpr CommandTraits setFlowRate{11, "RV", 8, Ack, ""};
inline constexpr CommandTraits getFlowRate{12, "?RV", NoValue, Frame, "10000"};

// Dosing cycle and operating modes.
inline constexpr CommandTraits setDispenseTime{13, "DT", 8, Ack, ""};
inline constexpr CommandTraits getDispenseTime{14, "?DT", NoValue, Frame, "0"};
inline constexpr CommandTraits setDispenseModeVolume{15, "MS1", NoValue, Ack, ""};
inline constexpr CommandTraits setDispenseModeFlowrate{16, "MS2", NoValue, Ack, ""};
inline constexpr CommandTraits setDispenseVolumeBreakTime{17, "DB", 5, Ack, ""};
inline constexpr CommandTraits getDispenseVolumeBreakTime{18, "?DB", NoValue, Frame, "1"};
inline constexpr CommandTraits setDispenseVolumeNumber{19, "DN", 5, Ack, ""};
inline constexpr CommandTraits getDispenseVolumeNumber{20, "?DN", NoValue, Frame, "0"};

// Inputs and outputs.
inline constexpr CommandTraits setAnalogInput{21, "RA", 1, Ack, "9"};
inline constexpr CommandTraits getAnalogInput{22, "?RA", NoValue, Frame, "09"};
inline constexpr CommandTraits setAnalogRange{23, "RB", 1, Ack, "9"};
inline constexpr CommandTraits getAnalogRange{24, "?RB", NoValue, Frame, "0"};
inline constexpr CommandTraits setDigitalIn1{25, "L1", 2, Ack, ""};
inline constexpr CommandTraits getDigitalIn1{26, "?L1", NoValue, Frame, "0"};
inline constexpr CommandTraits setDigitalIn2{27, "L2", 2, Ack, ""};
inline constexpr CommandTraits getDigitalIn2{28, "?L2", NoValue, Frame, "0"};
inline constexpr CommandTraits setDigitalOut{29, "RS", 1, Ack, ""};
inline constexpr CommandTraits getDigitalOut{30, "?RS", NoValue, Frame, "0"};

// Stored settings.
inline constexpr CommandTraits setLanguage{31, "LS", 1, Ack, "40"};
inline constexpr CommandTraits getLanguage{32, "?LS", NoValue, Frame, "0"};
inline constexpr CommandTraits setCustCalVol{33, "CF", 8, Ack, ""};
inline constexpr CommandTraits setCustCalPercent{34, "CH", 5, Ack, ""};
inline constexpr CommandTraits getCustCalPercent{35, "?CH", NoValue, Frame, "10000"};
inline constexpr CommandTraits setAutostart{36, "SA", 1, Ack, ""};
inline constexpr CommandTraits getAutostart{37, "?SA", NoValue, Frame, "0"};
inline constexpr CommandTraits setPumpProfileCharacteristic{38, "CC", 1, Ack, ""};
inline constexpr CommandTraits getPumpProfileCharactristic{39, "?CC", NoValue, Frame, "0"};
inline constexpr CommandTraits setDisplayContrast{40, "LC", 3, Ack, ""};
inline constexpr CommandTraits getDisplayContrast{41, "?LC", NoValue, Frame, "40"};

// Identification and the link; the link-only rows (42, 50 to 52) send nothing.
inline constexpr CommandTraits getCommRxState{42, "", NoValue, Ack, ""};
inline constexpr CommandTraits executeCommCheck{43, "?SI", NoValue, Frame, "-1"};
inline constexpr CommandTraits getModelVersion{45, "?SV", NoValue, Frame, "0011000000"};
inline constexpr CommandTraits setProtocolAnswer{46, "SP", 1, Ack, "1"};
inline constexpr CommandTraits getProtocolAnswer{47, "?SP", NoValue, Frame, "1"};
inline constexpr CommandTraits setPumpAddress{48, "AD", 2, Ack, ""};
inline constexpr CommandTraits getPumpAddress{49, "?AD", NoValue, Frame, "-1"};
inline constexpr CommandTraits setCommAddress{50, "", NoValue, Ack, ""};
inline constexpr CommandTraits setInvalidLrc{51, "", NoValue, Ack, ""};
inline constexpr CommandTraits setUnusedLrc{52, "", NoValue, Ack, ""};
// The body is the user's text; the answer is awaited as a frame whatever the text says.
inline constexpr CommandTraits setDiscreteCommand{53, "", NoValue, Frame, "DISCRETE COMMAND"};

// Factory settings.
inline constexpr CommandTraits setFactoryDefaults{54, "IP", NoValue, Ack, ""};
inline constexpr CommandTraits setFactoryMode{55, "PF!", 1, Ack, ""};
inline constexpr CommandTraits getFactoryMode{56, "?PF!", NoValue, Frame, "0"};
inline constexpr CommandTraits setFactoryMeasuredCalVolume{57, "ZR!", 8, Ack, ""};
inline constexpr CommandTraits setMaintenancePos{58, "MP", 1, Ack, ""};
inline constexpr CommandTraits getMaintenancePos{59, "?MP", NoValue, Frame, "0"};
inline constexpr CommandTraits setPumpModel{60, "PM!", 1, Ack, ""};
inline constexpr CommandTraits getPumpModel{61, "?PM!", NoValue, Frame, "OFFLINE"};
inline constexpr CommandTraits setFactoryPumpStrokeVolume{62, "ZF!", 5, Ack, ""};
inline constexpr CommandTraits getFactoryPumpStrokeVolume{63, "?ZF!", NoValue, Frame, "202"};

} // namespace CommandTable
} // namespace BusinessLogic
