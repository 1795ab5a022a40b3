#pragma once

// What the pumps take for each value a user enters, in the user's units. The value rules
// (Engine::limitsOf in pumpvalues.h) pick from these by the model at hand.
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
// What one of the models takes, for a face that does not know the model; the pump itself
// refuses what its own model does not.
inline constexpr Range FlowAnyModel{FlowSmall.minimum, FlowLarge.maximum};
inline constexpr Range VolumeAnyModel{VolumeSmall.minimum, VolumeLarge.maximum};

// Dispense time: hours, minutes and seconds of an hh:mm:ss time.
constexpr int MaxHours = 99;
constexpr int MaxMinutes = 59;
constexpr int MaxSeconds = 59;
constexpr int LongestDispenseSeconds = (MaxHours * 60 + MaxMinutes) * 60 + MaxSeconds;
// Number of dispense cycles; the largest stands for endless.
constexpr int MaxCycles = 1000;
// Pause between dispense cycles in seconds: as many as the value's five digits on the line hold.
constexpr int MaxBreakSeconds = 99999;
// Calibration volumes in ml and the stroke volume: as much as their fields on the line
// hold (eight digits of thousandths, five of tenths), and more than nothing.
inline constexpr Range CalibrationVolume{0.001, 99999.999};
inline constexpr Range StrokeVolume{0.1, 9999.9};

// The pump carries volumes and flow rates in thousandths of their unit.
constexpr double ThousandthsPerUnit = 1000.0;

} // namespace ValueLimits
