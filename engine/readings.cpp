#include "readings.h"

#include <cmath>
#include <limits>

namespace Engine {

namespace {

qint32 readDecimal(const QString& text)
{
    const double number = text.toDouble();
    // A number beyond 32 bits (or "inf"/"nan") has no integer to go to: treat it as no number.
    if (!std::isfinite(number) || number <= std::numeric_limits<qint32>::min() - 1.0
        || number >= std::numeric_limits<qint32>::max() + 1.0)
        return 0;
    return static_cast<qint32>(number);
}

// Hours, minutes and seconds from the first six characters, two each.
qint32 secondsOf(QStringView text)
{
    return readInteger(text.mid(0, 2)) * 3600 + readInteger(text.mid(2, 2)) * 60
           + readInteger(text.mid(4, 2));
}

} // namespace

qint32 readInteger(QStringView text)
{
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<qint32>::min()
        || number > std::numeric_limits<qint32>::max())
        return 0;
    return static_cast<qint32>(number);
}

ParsedAnswer parseAnswer(ParseRule rule, const QString& answer)
{
    const QStringView view(answer);
    switch (rule) {
    case ParseRule::Integer:
        return {readInteger(view), answer};
    case ParseRule::Decimal:
        return {readDecimal(answer), answer};
    case ParseRule::ElapsedTime:
        return {secondsOf(view) * 100 + readInteger(view.mid(6, 3)), answer.left(9)};
    case ParseRule::DispenseTime:
        return {secondsOf(view), answer.left(6)};
    case ParseRule::StatusPage:
        return {readInteger(view.mid(0, 3)), answer};
    case ParseRule::CheckResult: {
        bool ok = false;
        const qlonglong number = answer.toLongLong(&ok, 10);
        if (ok && number >= std::numeric_limits<qint32>::min()
            && number <= std::numeric_limits<qint32>::max())
            return {static_cast<qint32>(number), answer};
        return {-1, QStringLiteral("-1")};
    }
    }
    return {};
}

qint32 readingValue(std::string_view reading, const QString& answer)
{
    return parseAnswer(ruleOf(reading), answer).value;
}

int statusPageOf(const QString& answer)
{
    return readInteger(QStringView(answer).mid(4, 1));
}

QString pumpModelName(int modelCode)
{
    return modelCode == ModelCode02   ? QStringLiteral("VELOR 02")
           : modelCode == ModelCode10 ? QStringLiteral("VELOR 10")
                                      : QStringLiteral("UNKNOWN");
}

int modelCodeOf(const QString& modelVersion)
{
    return readInteger(QStringView(modelVersion).mid(0, 5));
}

QString firmwareText(const QString& modelVersion)
{
    const QStringView version(modelVersion);
    return QStringLiteral("V%1.%2")
        .arg(readInteger(version.mid(5, 2)))
        .arg(readInteger(version.mid(7, 3)));
}

QString pumpModelName(const QString& modelVersion)
{
    return pumpModelName(modelCodeOf(modelVersion));
}

const FlagBit StatusFlags[16] = {
    {StatusFlag::MotorInMotion, 1, 0, false, "motor_in_motion"},
    {StatusFlag::PumpError, 1, 1, false, "pump_error"},
    {StatusFlag::DisplayOn, 1, 2, true, "display_on"},
    {StatusFlag::MotorAdjusted, 2, 0, false, "motor_adjusted"},
    {StatusFlag::Input1Active, 2, 1, false, "input1_active"},
    {StatusFlag::Input2Active, 2, 2, false, "input2_active"},
    {StatusFlag::MotorAtDeadCentre, 2, 3, false, "motor_at_dead_centre"},
    {StatusFlag::RunModeActive, 3, 0, false, "run_mode_active"},
    {StatusFlag::DispenseModeActive, 4, 0, false, "dispense_mode_active"},
    {StatusFlag::MasterStopActive, 4, 3, true, "master_stop_active"},
    {StatusFlag::Overpressure, 6, 0, false, "overpressure"},
    {StatusFlag::Signal420TooLow, 6, 3, false, "signal_4_20ma_too_low"},
    {StatusFlag::PowerSupplyFailure, 6, 4, false, "power_supply_failure"},
    {StatusFlag::MotorNotAdjusted, 6, 5, false, "motor_not_adjusted"},
    {StatusFlag::MaximumTemperatureExceeded, 6, 6, false, "maximum_temperature_exceeded"},
    {StatusFlag::NoEncoderSignal, 6, 7, false, "no_encoder_signal"},
};

const FlagBit& flagBit(StatusFlag flag)
{
    return StatusFlags[int(flag)];
}

bool holds(StatusFlag flag, qint32 word)
{
    const FlagBit& bit = flagBit(flag);
    return (((word >> bit.bit) & 1) != 0) != bit.whenClear;
}

QStringList errorNames(qint32 errorWord)
{
    QStringList names;
    for (const FlagBit& flag : StatusFlags)
        if (flag.word == ErrorWord && holds(flag.flag, errorWord))
            names.append(QLatin1String(flag.name));
    return names;
}

std::optional<int> probeFound(bool answered, const QString& answer)
{
    const qint32 address = parseAnswer(ParseRule::CheckResult, answer).value;
    if (answered && address >= 0 && address < SearchedAddresses)
        return address;
    return std::nullopt;
}

} // namespace Engine
