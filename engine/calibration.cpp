#include "calibration.h"

#include "pumpvalues.h"

#include <cmath>
#include <numeric>

namespace Engine {

namespace {

// Water's density in g/ml between 0 and 40 °C (Tanaka et al., 2001), air-free at 101.325 kPa.
double waterDensity(double celsius)
{
    constexpr double a1 = -3.983035, a2 = 301.797, a3 = 522528.9, a4 = 69.34881;
    constexpr double a5 = 0.99997495;
    const double t = celsius;
    return a5 * (1.0 - (t + a1) * (t + a1) * (t + a2) / (a3 * (t + a4)));
}

constexpr double AirDensity = 0.0012;
constexpr double WeightDensity = 8.0;
// The pump's calibration: 80.0 % to 120.0 % in steps of 0.1 %, in hundredths.
constexpr qint32 LowestHundredths = 8000;
constexpr qint32 HighestHundredths = 12000;
constexpr qint32 StepHundredths = 10;
constexpr double Percent = 100.0;
constexpr double MicrolitresPerMl = 1000.0;

double standardDeviation(const std::vector<double>& values, double mean)
{
    double squares = 0;
    for (const double value : values)
        squares += (value - mean) * (value - mean);
    return std::sqrt(squares / double(values.size() - 1));
}

} // namespace

double mlPerGram(double densityGPerMl)
{
    return (1.0 - AirDensity / WeightDensity) / (densityGPerMl - AirDensity);
}

double waterMlPerGram(double celsius)
{
    return mlPerGram(waterDensity(celsius));
}

bool isMass(double grams)
{
    return std::isfinite(grams) && grams > 0;
}

std::optional<double> typedMass(const QString& typed)
{
    const std::optional<double> grams = typedNumber(typed);
    return grams && isMass(*grams) ? grams : std::nullopt;
}

QString noMassText(const QString& typed)
{
    return QStringLiteral("\"%1\" is no mass; accepted: more than 0 g").arg(typed);
}

QString calibrationText(qint32 hundredths)
{
    return QStringLiteral("%1 %").arg(double(hundredths) / Percent, 0, 'f', 1);
}

CalibrationResult evaluateCalibration(const Gravimetry& gravimetry)
{
    CalibrationResult result;
    result.presentHundredths = gravimetry.presentHundredths;
    for (const double mass : gravimetry.massesG)
        result.volumesMl.push_back(mass * gravimetry.mlPerGram);
    const double count = double(result.volumesMl.size());
    result.meanMl = std::accumulate(result.volumesMl.begin(), result.volumesMl.end(), 0.0) / count;
    const double error = result.meanMl - gravimetry.targetMl;
    result.systematicPercent = Percent * error / gravimetry.targetMl;
    result.systematicUl = error * MicrolitresPerMl;
    result.cvPercent = Percent * standardDeviation(result.volumesMl, result.meanMl) / result.meanMl;

    const double exact = double(gravimetry.presentHundredths) * gravimetry.targetMl / result.meanMl;
    const qint32 onGrid = qint32(std::llround(exact / StepHundredths)) * StepHundredths;
    if (result.cvPercent > LargestCvPercent) {
        result.refusal = QStringLiteral("the deliveries lie too far apart (CV %1 %, more than "
                                        "%2 %): check for air in the lines and for leaks, then "
                                        "weigh again")
                             .arg(result.cvPercent, 0, 'f', 2)
                             .arg(LargestCvPercent, 0, 'f', 0);
    } else if (onGrid < LowestHundredths || onGrid > HighestHundredths) {
        result.refusal =
            QStringLiteral("the pump delivered %1 % of the target; the calibration "
                           "it would need, %2, lies outside %3 to %4: check for air "
                           "in the lines, the valves and the fluid type instead")
                .arg(Percent * result.meanMl / gravimetry.targetMl, 0, 'f', 1)
                .arg(calibrationText(qint32(std::lround(exact))), calibrationText(LowestHundredths),
                     calibrationText(HighestHundredths));
    } else {
        result.newHundredths = onGrid;
    }
    return result;
}

} // namespace Engine
