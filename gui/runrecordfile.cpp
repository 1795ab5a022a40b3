#include "runrecordfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <utility>

namespace GUI {

QString csvField(const QString& field)
{
    const bool needsQuotes = field.contains(u',') || field.contains(u'"') || field.contains(u'\n')
                             || field.contains(u'\r');
    if (!needsQuotes)
        return field;
    QString quoted = field;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

RunRecordFile::RunRecordFile(QString folder, QString copyName, QStringList header)
    : folderPath(std::move(folder)), copy(std::move(copyName)), headerFields(std::move(header))
{}

QString RunRecordFile::pathFor(const QDate& day) const
{
    return QDir(folderPath)
        .filePath(day.toString(Qt::ISODate) + u'-' + copy + QStringLiteral(".csv"));
}

bool RunRecordFile::append(const QDateTime& time, const QStringList& fields)
{
    const QDate day = time.toUTC().date();
    // Writing on into a file removed from its folder would succeed and keep nothing.
    if (file.isOpen() && !QFileInfo::exists(file.fileName())) {
        lastError = file.fileName() + QStringLiteral(": removed while being written");
        close();
        return false;
    }
    if ((!file.isOpen() || day != fileDay) && !openFor(day))
        return false;
    if (writeLine(fields))
        return true;
    // A file that failed once (disk full, folder removed) is opened again for the next row.
    close();
    return false;
}

void RunRecordFile::close()
{
    file.close();
    fileDay = QDate();
}

bool RunRecordFile::openFor(const QDate& day)
{
    close();
    if (!QDir().mkpath(folderPath)) {
        lastError = QStringLiteral("cannot create the folder %1").arg(folderPath);
        return false;
    }
    file.setFileName(pathFor(day));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        lastError = file.fileName() + QStringLiteral(": ") + file.errorString();
        return false;
    }
    fileDay = day;
    if (file.size() == 0 && !writeLine(headerFields)) {
        close();
        return false;
    }
    return true;
}

bool writeCsvLine(QFile& file, const QStringList& fields, QString* error)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields)
        quoted << csvField(field);
    const QByteArray line = (quoted.join(u',') + QStringLiteral("\r\n")).toUtf8();
    if (file.write(line) != line.size() || !file.flush()) {
        *error = file.fileName() + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

bool RunRecordFile::writeLine(const QStringList& fields)
{
    return writeCsvLine(file, fields, &lastError);
}

} // namespace GUI
