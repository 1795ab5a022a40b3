#pragma once

#include "valuelimits.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// The rules for every value a user or a script sets: its limits for the pump model at hand, how
// typed text becomes the pump's integer, and why a text is refused. The window's fields and the
// verbs of dosedeskctl (on the command line and through the panel's socket) all judge by these,
// so that they send the same frame or refuse with the same words.
namespace Engine {

// The pump model, as far as a face knows it; an unknown model takes what either model takes.
enum class Model { Unknown, Small, Large };
Model modelOf(int modelCode);

// The values set by typing, each in the user's unit.
enum class Quantity {
    FlowRate,          // ml/min, in thousandths
    DispenseVolume,    // ml, in thousandths
    Cycles,            // a count; INF stands for endless, OFF for none
    BreakSeconds,      // seconds
    CalibrationVolume, // ml, in thousandths
    StrokeVolume,      // in tenths
};

struct Limits
{
    double minimum;
    double maximum;
    int decimals;     // the pump's integer is the value in units of 10^-decimals
    const char* unit; // as the reasons name it, with its leading blank; "" for counts
};
Limits limitsOf(Quantity quantity, Model model = Model::Unknown);

// A typed text judged: the integer the pump is sent, or the reason it is refused.
struct Verdict
{
    std::optional<qint32> value;
    QString reason;
};

// Text: optional blanks and sign, digits with at most one decimal point or comma. It is rounded
// to the pump's unit, half away from zero, on its decimal digits (12.3456 ml is 12346
// thousandths), and the rounded value must lie within the limits. Cycles also take INF and OFF.
Verdict judge(Quantity quantity, const QString& typed, Model model = Model::Unknown);
// The typed text as a number by the same reading (a decimal point or comma), not yet rounded;
// none when it is no number.
std::optional<double> typedNumber(const QString& typed);
// What a quantity accepts, as the reasons say it: "accepted: 0.03 to 100 ml/min".
QString acceptedText(Quantity quantity, Model model = Model::Unknown);
// How typed numbers are read and rounded, and the words of each reason, for the help texts.
QString valueRulesText();
// A dispense time "H:M:S" (hours up to 99, minutes and seconds up to 59) as hhmmsscc.
Verdict judgeTime(const QString& typed);
// A pause given as minutes and seconds, each a whole number, as seconds in all.
Verdict judgeBreak(const QString& minutes, const QString& seconds);

// Hours, minutes, seconds and hundredths as the pump writes a time: hhmmsscc.
constexpr qint32 encodeTime(int hours, int minutes, int seconds, int hundredths = 0)
{
    return hours * 1000000 + minutes * 10000 + seconds * 100 + hundredths;
}
constexpr int SecondsPerHour = 3600;
constexpr int SecondsPerMinute = 60;

// The cycle count that stands for endless, and the words for it and for no repetition.
constexpr qint32 InfiniteCycles = ValueLimits::MaxCycles;
inline const QString InfiniteText = QStringLiteral("INF");
inline const QString OffText = QStringLiteral("OFF");
// The cycle count as the window shows it: OFF up to one cycle, INF for endless.
QString cyclesText(qint32 cycles);

} // namespace Engine
