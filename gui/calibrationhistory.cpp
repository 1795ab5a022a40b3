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

// One line of the file split into its fields; quoted fields may hold commas and doubled quotes.
QStringList splitCsvLine(const QString& line)
{
    QStringList fields{QString()};
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == u'"' && quoted && i + 1 < line.size() && line.at(i + 1) == u'"')
            fields.last() += line.at(++i);
        else if (c == u'"')
            quoted = !quoted;
        else if (c == u',' && !quoted)
            fields << QString();
        else
            fields.last() += c;
    }
    return fields;
}

} // namespace

QString CalibrationHistory::defaultPath()
{
    // The panel's own data folder, also when dosedeskctl (a program of another name) asks.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(Constants::OrganisationName + u'/' + Constants::ApplicationName
                  + QStringLiteral("/calibrations.csv"));
}

QString CalibrationHistory::pumpAt(int address)
{
    return QStringLiteral("address %1").arg(address);
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

std::vector<QHash<QString, QString>> CalibrationHistory::recent(const QString& pump,
                                                                int count) const
{
    QFile file(filePath);
    std::vector<QHash<QString, QString>> found;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return found;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    const int pumpColumn = int(Header.indexOf(QStringLiteral("pump")));
    for (auto line = lines.crbegin(); line != lines.crend() && int(found.size()) < count; ++line) {
        const QStringList fields = splitCsvLine(line->trimmed());
        if (fields.size() != Header.size() || fields.at(pumpColumn) != pump)
            continue;
        QHash<QString, QString> named;
        for (int i = 0; i < fields.size(); ++i)
            named.insert(Header.at(i), fields.at(i));
        found.push_back(named);
    }
    return found;
}

} // namespace GUI
