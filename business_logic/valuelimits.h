#pragma once

#include "commandtable.h"

// What the pumps take for each value a user enters, in the user's units. The window's number
// fields and the scripting verbs both read their limits from here.
namespace ValueLimits {

struct Range
{
    double minimum;
    double maximum;
};

// Flow rate in ml/min and dispense volume in ml, for the large and the small model.
inline constexpr Range FlowLarge{1.0, 100.0};
inline constexpr Range FlowSmall{0.03, 20.0};
inline constexpr Range VolumeLarge{1.0, 999.9};
inline constexpr Range VolumeSmall{0.03, 999.9};
// What one of the models takes; the pump itself refuses what its own model does not.
inline constexpr Range FlowAnyModel{FlowSmall.minimum, FlowLarge.maximum};
inline constexpr Range VolumeAnyModel{VolumeSmall.minimum, VolumeLarge.maximum};

// Dispense time: hours, minutes and seconds of an hh:mm:ss time.
constexpr int MaxHours = 99;
constexpr int MaxMinutes = 59;
constexpr int MaxSeconds = 59;
// Number of dispense cycles; the largest stands for endless.
constexpr int MaxCycles = 1000;
// Pause between dispense cycles in seconds: as many as the value's field on the line holds.
constexpr int MaxBreakSeconds = [] {
    int largest = 1;
    for (int digit = 0; digit < BusinessLogic::CommandTable::setDispenseVolumeBreakTime.width;
         ++digit)
        largest *= 10;
    return largest - 1;
}();

// The pump carries volumes and flow rates in thousandths of their unit.
constexpr double ThousandthsPerUnit = 1000.0;

} // namespace ValueLimits
