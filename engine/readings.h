#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

#include <optional>
#include <string_view>

// What the pump's answers mean: the rule that parses each reading, the model codes, the status
// and error bits with their names, and the judgement of one probe of the address search.
namespace Engine {

// How the text of a pump answer becomes a value and a display text.
enum class ParseRule {
    Integer,      // the whole answer as a whole number
    Decimal,      // the whole answer as a decimal number, truncated toward zero
    ElapsedTime,  // hhmmsscc: hundredths of a second
    DispenseTime, // hhmmss: whole seconds
    StatusPage,   // three-digit status word, a blank and the page number
    CheckResult,  // a whole number, or -1 when the answer is none
};

// Value and display text that one answer gives under a rule.
struct ParsedAnswer
{
    qint32 value = 0;
    QString text;
};

// The rule that parses the answer to a reading, by the reading's frame body ("?RV"): every face
// that reads a value parses it by this one rule.
constexpr ParseRule ruleOf(std::string_view reading)
{
    return reading == "?TT"                       ? ParseRule::ElapsedTime
           : reading == "?DT"                     ? ParseRule::DispenseTime
           : reading == "?DV" || reading == "?RV" ? ParseRule::Decimal
           : reading == "?SS"                     ? ParseRule::StatusPage
           : reading == "?SI"                     ? ParseRule::CheckResult
                                                  : ParseRule::Integer;
}

// Reads text as a base-10 whole number (white space and sign allowed); 0 unless it is one
// that fits in 32 bits.
qint32 readInteger(QStringView text);
ParsedAnswer parseAnswer(ParseRule rule, const QString& answer);
// The value of the answer to a reading, parsed by the reading's rule.
qint32 readingValue(std::string_view reading, const QString& answer);
// The page a status answer names (its fifth character); 0 when that is missing or no digit.
int statusPageOf(const QString& answer);

// Model codes of the two known pumps, as the model version answer begins with them.
inline constexpr int ModelCode02 = 102;
inline constexpr int ModelCode10 = 110;
// Name of the pump model by its code, or by the model version answer that begins with it.
QString pumpModelName(int modelCode);
QString pumpModelName(const QString& modelVersion);
// The model code a model version answer begins with (its first five digits); 0 when none.
int modelCodeOf(const QString& modelVersion);
// The firmware version its last five digits carry, as the window shows it: "V1.100".
QString firmwareText(const QString& modelVersion);

// The status flags: a bit of one of the pump's status words each.
enum class StatusFlag {
    MotorInMotion,
    PumpError,
    DisplayOn,
    MotorAdjusted,
    Input1Active,
    Input2Active,
    MotorAtDeadCentre,
    RunModeActive,
    DispenseModeActive,
    MasterStopActive,
    Overpressure,
    Signal420TooLow,
    PowerSupplyFailure,
    MotorNotAdjusted,
    MaximumTemperatureExceeded,
    NoEncoderSignal,
};

struct FlagBit
{
    StatusFlag flag;
    int word;
    int bit;
    bool whenClear;   // the flag holds while the bit is 0
    const char* name; // as scripts read it
};

// Every flag, in the order above.
extern const FlagBit StatusFlags[16];
const FlagBit& flagBit(StatusFlag flag);
// Whether the flag holds in its word's value.
bool holds(StatusFlag flag, qint32 word);
// The words that carry flags, in the order they are read.
inline constexpr int StatusWords[] = {1, 2, 3, 4, 6};
// Word 6 holds the errors in its low byte; word 4 holds bit 3 while master stop is off.
inline constexpr int ErrorWord = 6;
inline constexpr qint32 ErrorBits = 0xFF;
inline constexpr qint32 MasterStopClearBit = 0x08;
// The names of the error flags set in the error word.
QStringList errorNames(qint32 errorWord);

// The pump search probes the addresses 0 to 98, the ones a frame can carry.
inline constexpr int SearchedAddresses = 99;
// The address a probe's connection check found, when it was answered with one the frames can
// carry; none otherwise.
std::optional<int> probeFound(bool answered, const QString& answer);

} // namespace Engine
