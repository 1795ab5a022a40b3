#pragma once

#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>

class QDateTime;

namespace GUI {

// One CSV field: quoted, with inner quotes doubled, when it holds a comma, a quote or a line
// break; as it is otherwise.
QString csvField(const QString& field);
// Writes the fields as one CSV line (CR LF) and flushes it; false, with the reason in error,
// when that failed.
bool writeCsvLine(QFile& file, const QStringList& fields, QString* error);

// The run record of one copy of the program: a CSV file per UTC day in a folder, appended to
// and flushed row by row so that a crash loses at most the row being written.
class RunRecordFile
{
public:
    // copyName tells the files of copies running side by side apart ("copy1").
    RunRecordFile(QString folder, QString copyName, QStringList header);

    // Appends one row stamped at `time` (UTC), in the file of that day; the header goes first
    // into a file that is new or empty. False, with errorText() set, when it could not be
    // written.
    bool append(const QDateTime& time, const QStringList& fields);
    // Closes the file, so that the next row opens it anew (the folder may have come back).
    void close();

    QString errorText() const { return lastError; }
    QString folder() const { return folderPath; }
    QString copyName() const { return copy; }
    // Path of the file that rows stamped on this day go to.
    QString pathFor(const QDate& day) const;

private:
    bool openFor(const QDate& day);
    bool writeLine(const QStringList& fields);

    QString folderPath;
    QString copy;
    QStringList headerFields;
    QFile file;
    QDate fileDay;
    QString lastError;
};

} // namespace GUI
