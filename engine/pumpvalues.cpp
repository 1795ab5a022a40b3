#include "pumpvalues.h"

#include "readings.h"
#include "valuelimits.h"

#include <QRegularExpression>

#include <cmath>

namespace Engine {

namespace {

// Optional sign, digits, one decimal point or comma; the digits on either side may be missing.
const QRegularExpression NumberPattern(QStringLiteral("^([+-]?)0*(\\d*)(?:[.,](\\d*))?$"));
const QRegularExpression TimePattern(QStringLiteral("^(\\d{1,2}):(\\d{1,2}):(\\d{1,2})$"));
// More whole digits than this lie beyond every limit; they are not added up.
constexpr int LongestWholePart = 12;
// The reasons for a refusal: the typed text, then what is accepted.
const QString MissingReason = QStringLiteral("missing value; %2");
const QString NotNumberReason = QStringLiteral("\"%1\" is not a number; %2");
const QString NotWholeReason = QStringLiteral("%1 is not a whole number; %2");
const QString OutOfRangeReason = QStringLiteral("%1 is out of range; %2");
const QString NoTimeReason = QStringLiteral("\"%1\" is no time from 00:00:00 to %2");

QString numberText(double value)
{
    return QString::number(value, 'g', 10);
}

Verdict refuse(const QString& reason)
{
    return {std::nullopt, reason};
}

QString acceptedText(Quantity quantity, const Limits& limits)
{
    QString text = QStringLiteral("accepted: %1 to %2%3")
                       .arg(numberText(limits.minimum), numberText(limits.maximum),
                            QLatin1String(limits.unit));
    if (quantity == Quantity::Cycles)
        text += QStringLiteral(", %1 or %2 (endless)").arg(OffText, InfiniteText);
    return text;
}

qint64 powerOfTen(int exponent)
{
    qint64 power = 1;
    for (int i = 0; i < exponent; ++i)
        power *= 10;
    return power;
}

// The text in units of 10^-decimals, rounded half away from zero on its decimal digits; none
// when it is no number. whole tells whether it has no decimals other than zeros.
std::optional<qint64> scaled(const QString& text, int decimals, bool* whole)
{
    const QRegularExpressionMatch match = NumberPattern.match(text);
    const QString integer = match.captured(2);
    const QString fraction = match.captured(3);
    const bool anyDigit = text.contains(QRegularExpression(QStringLiteral("\\d")));
    if (!match.hasMatch() || !anyDigit)
        return std::nullopt;
    *whole = !fraction.contains(QRegularExpression(QStringLiteral("[1-9]")));
    const qint64 unit = powerOfTen(decimals);
    qint64 value = integer.size() > LongestWholePart ? powerOfTen(LongestWholePart) * unit
                                                     : integer.toLongLong() * unit;
    for (int i = 0; i < decimals && i < fraction.size(); ++i)
        value += fraction.at(i).digitValue() * powerOfTen(decimals - 1 - i);
    if (fraction.size() > decimals && fraction.at(decimals).digitValue() >= 5)
        ++value;
    return match.captured(1) == QLatin1String("-") ? -value : value;
}

QString longestTime()
{
    using namespace ValueLimits;
    return QStringLiteral("%1:%2:%3").arg(MaxHours).arg(MaxMinutes).arg(MaxSeconds);
}

Verdict refuse(const QString& reason, const QString& text, const QString& accepted)
{
    // The typed text goes in last: it may hold anything, a "%2" too.
    return refuse(
        QString(reason).replace(QLatin1String("%2"), accepted).replace(QLatin1String("%1"), text));
}

} // namespace

Model modelOf(int modelCode)
{
    return modelCode == ModelCode02   ? Model::Small
           : modelCode == ModelCode10 ? Model::Large
                                      : Model::Unknown;
}

Limits limitsOf(Quantity quantity, Model model)
{
    using namespace ValueLimits;
    const auto pick = [model](Range small, Range large, Range any) {
        return model == Model::Small ? small : model == Model::Large ? large : any;
    };
    switch (quantity) {
    case Quantity::FlowRate: {
        const Range range = pick(FlowSmall, FlowLarge, FlowAnyModel);
        return {range.minimum, range.maximum, 3, " ml/min"};
    }
    case Quantity::DispenseVolume: {
        const Range range = pick(VolumeSmall, VolumeLarge, VolumeAnyModel);
        return {range.minimum, range.maximum, 3, " ml"};
    }
    case Quantity::Cycles:
        return {0, MaxCycles, 0, ""};
    case Quantity::BreakSeconds:
        return {0, MaxBreakSeconds, 0, " s"};
    case Quantity::CalibrationVolume:
        return {CalibrationVolume.minimum, CalibrationVolume.maximum, 3, " ml"};
    case Quantity::StrokeVolume:
        break;
    }
    return {StrokeVolume.minimum, StrokeVolume.maximum, 1, ""};
}

std::optional<double> typedNumber(const QString& typed)
{
    const QString text = typed.trimmed();
    bool whole = true;
    if (!scaled(text, 0, &whole))
        return std::nullopt;
    return QString(text).replace(u',', u'.').toDouble();
}

QString acceptedText(Quantity quantity, Model model)
{
    return acceptedText(quantity, limitsOf(quantity, model));
}

QString valueRulesText()
{
    const QString accepted = QStringLiteral("accepted: ...");
    QString text =
        QStringLiteral("Numbers take a decimal point or a comma and are rounded to the\n"
                       "pump's unit, half away from zero (12.3456 ml is sent as 12.346 ml);\n"
                       "cycles also take %1 and %2.\n"
                       "A refused value sends nothing; the reason is one of:\n")
            .arg(OffText, InfiniteText);
    for (const QString& reason : {MissingReason, NotNumberReason, NotWholeReason, OutOfRangeReason})
        text +=
            QStringLiteral("  ") + refuse(reason, QStringLiteral("TEXT"), accepted).reason + u'\n';
    return text + QStringLiteral("  ")
           + refuse(NoTimeReason, QStringLiteral("TEXT"), longestTime()).reason + u'\n';
}

Verdict judge(Quantity quantity, const QString& typed, Model model)
{
    const Limits limits = limitsOf(quantity, model);
    const QString text = typed.trimmed();
    const QString accepted = acceptedText(quantity, limits);
    if (text.isEmpty())
        return refuse(MissingReason, text, accepted);
    if (quantity == Quantity::Cycles && text.compare(InfiniteText, Qt::CaseInsensitive) == 0)
        return {InfiniteCycles, {}};
    if (quantity == Quantity::Cycles && text.compare(OffText, Qt::CaseInsensitive) == 0)
        return {0, {}};
    bool whole = true;
    const std::optional<qint64> number = scaled(text, limits.decimals, &whole);
    if (!number)
        return refuse(NotNumberReason, text, accepted);
    if (limits.decimals == 0 && !whole)
        return refuse(NotWholeReason, text, accepted);
    const double unit = double(powerOfTen(limits.decimals));
    if (*number < std::llround(limits.minimum * unit)
        || *number > std::llround(limits.maximum * unit))
        return refuse(OutOfRangeReason, text, accepted);
    return {qint32(*number), {}};
}

Verdict judgeTime(const QString& typed)
{
    using namespace ValueLimits;
    const QString text = typed.trimmed();
    const QRegularExpressionMatch match = TimePattern.match(text);
    const int hours = match.captured(1).toInt();
    const int minutes = match.captured(2).toInt();
    const int seconds = match.captured(3).toInt();
    if (!match.hasMatch() || hours > MaxHours || minutes > MaxMinutes || seconds > MaxSeconds)
        return refuse(NoTimeReason, text, longestTime());
    return {encodeTime(hours, minutes, seconds), {}};
}

Verdict judgeBreak(const QString& minutes, const QString& seconds)
{
    const Verdict wholeMinutes = judge(Quantity::BreakSeconds, minutes);
    if (!wholeMinutes.value)
        return wholeMinutes;
    const Verdict wholeSeconds = judge(Quantity::BreakSeconds, seconds);
    if (!wholeSeconds.value)
        return wholeSeconds;
    const qint64 total = qint64(*wholeMinutes.value) * SecondsPerMinute + *wholeSeconds.value;
    return judge(Quantity::BreakSeconds, QString::number(total));
}

QString cyclesText(qint32 cycles)
{
    return cycles <= 1                ? OffText
           : cycles == InfiniteCycles ? InfiniteText
                                      : QString::number(cycles);
}

} // namespace Engine
