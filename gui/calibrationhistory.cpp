#include "calibrationhistory.h"

#include "constants.h"
#include "readings.h"
#include "runrecordfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace GUI {

namespace {

const QStringList Header = {QStringLiteral("date_utc"),
                            QStringLiteral("pump"),
                            QStringLiteral("model"),
                            QStringLiteral("firmware"),
                            QStringLiteral("target_ml"),
                            QStringLiteral("masses_g"),
                            QStringLiteral("ml_per_g"),
                            QStringLiteral("mean_ml"),
                            QStringLiteral("systematic_percent"),
                            QStringLiteral("systematic_ul"),
                            QStringLiteral("cv_percent"),
                            QStringLiteral("calibration_old"),
                            QStringLiteral("calibration_new"),
                            QStringLiteral("outcome")};

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QStringList fieldsOf(const CalibrationRecord& record)
{
    QStringList masses;
    for (const double mass : record.massesG)
        masses << number(mass, 4);
    const Engine::CalibrationResult& result = record.result;
    return {record.when.toUTC().toString(Qt::ISODate),
            record.pump,
            Engine::pumpModelName(record.modelVersion),
            Engine::firmwareText(record.modelVersion),
            number(record.targetMl, 3),
            masses.join(u' '),
            number(record.mlPerGram, 5),
            number(result.meanMl, 4),
            number(result.systematicPercent, 2),
            number(result.systematicUl, 1),
            number(result.cvPercent, 2),
            Engine::calibrationText(result.presentHundredths),
            result.newHundredths ? Engine::calibrationText(*result.newHundredths) : QString(),
            record.outcome};
}

} // namespace

QString CalibrationHistory::defaultPath()
{
    // The panel's own data folder, also when dosedeskctl (a program of another name) asks.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(Constants::OrganisationName + u'/' + Constants::ApplicationName
                  + QStringLiteral("/calibrations.csv"));
}

CalibrationHistory::CalibrationHistory(QString path) : filePath(std::move(path)) {}

bool CalibrationHistory::append(const CalibrationRecord& record)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = filePath + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return (file.size() > 0 || writeCsvLine(file, Header, &error))
           && writeCsvLine(file, fieldsOf(record), &error);
}

} // namespace GUI
