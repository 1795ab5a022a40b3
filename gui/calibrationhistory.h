#pragma once

#include "calibration.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <vector>

namespace GUI {

// One calibration as the history keeps it: what was weighed, what it gave, and what became of
// it ("written", "not written", or the refusal).
struct CalibrationRecord
{
    QDateTime when;
    QString pump;         // where it was reached: the port and address
    QString modelVersion; // the pump's identity answer
    double targetMl = 0;
    std::vector<double> massesG;
    double mlPerGram = 0;
    Engine::CalibrationResult result;
    QString outcome;
};

// Every calibration, accepted or not, one line each in calibrations.csv in the panel's data
// folder, which the panel and dosedeskctl share.
class CalibrationHistory
{
public:
    static QString defaultPath();
    // How the history names the pump at an address.
    static QString pumpAt(int address);
    explicit CalibrationHistory(QString path = defaultPath());

    // False, with errorString() set, when the line could not be written.
    bool append(const CalibrationRecord& record);
    // The latest calibrations of one pump, newest first, at most count of them: each line's
    // fields by the names of the file's header (date_utc, target_ml, mean_ml, outcome, ...).
    std::vector<QHash<QString, QString>> recent(const QString& pump, int count) const;
    QString path() const { return filePath; }
    QString errorString() const { return error; }

private:
    QString filePath;
    QString error;
};

} // namespace GUI
