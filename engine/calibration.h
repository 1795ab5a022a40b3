#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

// The gravimetric calibration of a pump: deliveries of a target volume are weighed, the masses
// become volumes by the liquid's density, and the pump's calibration percentage is corrected by
// how far their mean lies from the target.
namespace Engine {

// Water between these temperatures, in °C, has its volume per gram from the table below.
inline constexpr double ColdestWaterCelsius = 15.0;
inline constexpr double WarmestWaterCelsius = 30.0;
inline constexpr double DefaultWaterCelsius = 20.0;
// Deliveries weighed for one calibration: fewer say nothing of the scatter.
inline constexpr int FewestDeliveries = 3;
inline constexpr int MostDeliveries = 30;
inline constexpr int DefaultDeliveries = 5;
// Deliveries further apart than this coefficient of variation, in %, are not to be trusted.
inline constexpr double LargestCvPercent = 5.0;

// Liquids whose density is typed, in g/ml.
inline constexpr double LightestLiquid = 0.5;
inline constexpr double HeaviestLiquid = 3.0;

// Millilitres per gram weighed in air of a liquid of the given density (g/ml): the inverse of
// its density, corrected for the buoyancy of the air (1.2 mg/ml) on the liquid and on the
// balance's steel reference weights (8.0 g/ml).
double mlPerGram(double densityGPerMl);
// The same for water at the given temperature (15 to 30 °C): 1.00285 at 20 °C.
double waterMlPerGram(double celsius);

struct Gravimetry
{
    double targetMl = 0;
    std::vector<double> massesG;
    double mlPerGram = 0;
    qint32 presentHundredths = 0; // the pump's calibration now, 10000 for 100.0 %
};

struct CalibrationResult
{
    std::vector<double> volumesMl;
    double meanMl = 0;
    double systematicPercent = 0; // of the target; negative: the pump delivers too little
    double systematicUl = 0;
    double cvPercent = 0;
    qint32 presentHundredths = 0;
    // The new calibration on the pump's 0.1 % steps; none when it is not to be written.
    std::optional<qint32> newHundredths;
    QString refusal; // why it is not to be written, in words a user acts on
};

// The masses (each more than 0 g) against the target; the new percentage is present × target ÷
// mean, refused outside 80.0 to 120.0 % and when the deliveries scatter too much.
CalibrationResult evaluateCalibration(const Gravimetry& gravimetry);
// Whether a weighed mass, in grams, can be a delivery's: more than 0 g.
bool isMass(double grams);
// A mass as typed (a decimal point or comma), when it is one.
std::optional<double> typedMass(const QString& typed);
// Why the typed text is no mass: "\"x\" is no mass; accepted: more than 0 g".
QString noMassText(const QString& typed);
// A calibration percentage as the pump takes it (hundredths) in words: "103.1 %".
QString calibrationText(qint32 hundredths);

} // namespace Engine
