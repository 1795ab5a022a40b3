#include "portstatus.h"

#include "instancenumber.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Whether this process may read and write the file, judged by its effective rights. A refusal
// of the device itself is told apart from the port's lock, which Qt reports the same way.
bool accessRefused(const QString& location)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(location);
    return ::faccessat(AT_FDCWD, name.constData(), R_OK | W_OK, AT_EACCESS) != 0
           && errno == EACCES;
#else
    Q_UNUSED(location);
    return false;
#endif
}

// A device that is no terminal cannot be a serial line (/dev/null, a disk).
bool noTerminal(const QString& location)
{
#ifdef Q_OS_UNIX
    const int fd =
        ::open(QFile::encodeName(location).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    return !terminal;
#else
    Q_UNUSED(location);
    return false;
#endif
}

// The folders that hold the locks of serial lines, in the order the serial port looks in them.
const char* const LineLockFolders[] = {"/var/lock",       "/etc/locks", "/var/spool/locks",
                                       "/var/spool/uucp", "/tmp",       "/var/tmp",
                                       "/run/lock"};

// The process a device's lock names: "/dev/pts/3" is locked as LCK..pts_3, its first line the
// holder's process id. 0 when no lock names one.
qint64 lockingProcess(const QString& device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(u'/', u'_');
    QStringList folders;
    for (const char* folder : LineLockFolders)
        folders << QString::fromLatin1(folder);
    folders << QDir::tempPath();
    for (const QString& folder : std::as_const(folders)) {
        QFile lock(folder + QStringLiteral("/LCK..") + name);
        if (lock.open(QIODevice::ReadOnly))
            return lock.readLine().trimmed().toLongLong();
    }
    return 0;
}

// Who holds the device behind location: "DoseDesk copy 2 (process 1234)", "process 1234
// (minicom)"; empty when no lock names a running process.
QString holderOf(const QString& location)
{
    const QString device = QFileInfo(location).canonicalFilePath();
    const qint64 process = device.isEmpty() ? 0 : lockingProcess(device);
    QFile command(QStringLiteral("/proc/%1/comm").arg(process));
    if (process <= 0 || !command.open(QIODevice::ReadOnly))
        return {};
    if (const qint32 copy = copyNumberOf(process))
        return QStringLiteral("DoseDesk copy %1 (process %2)").arg(copy).arg(process);
    return QStringLiteral("process %1 (%2)")
        .arg(process)
        .arg(QString::fromLocal8Bit(command.readAll().trimmed()));
}

} // namespace

QString PortStatus::locationOf(const QString& path)
{
#ifdef Q_OS_UNIX
    if (!path.isEmpty() && !path.contains(u'/'))
        return QStringLiteral("/dev/") + path;
#endif
    return path;
}

bool PortStatus::exists(const QString& location)
{
    // Follows links: a /dev/serial/by-id link left pointing at nothing counts as missing.
    return !location.isEmpty() && QFileInfo::exists(location);
}

PortStatus PortStatus::afterFailure(const QString& location, QSerialPort::SerialPortError error,
                                    const QString& errorText)
{
    if (location.isEmpty())
        return notChosen();
    const QFileInfo file(location);
    if (!file.exists() || error == QSerialPort::DeviceNotFoundError)
        return missing();
    if (file.isDir() || file.isFile())
        return PortStatus(Reason::NotSerial);
    if (error == QSerialPort::PermissionError)
        return accessRefused(location) ? PortStatus(Reason::PermissionDenied)
                                       : PortStatus(Reason::Busy, holderOf(location));
    if (noTerminal(location))
        return PortStatus(Reason::NotSerial);
    return PortStatus(Reason::Other, errorText);
}

PortStatus PortStatus::afterLoss(const QString& location)
{
    return exists(location) ? PortStatus(Reason::Other, QStringLiteral("line lost")) : missing();
}

bool PortStatus::mayPass() const
{
    return why != Reason::Open && why != Reason::NotChosen && why != Reason::NotSerial
           && why != Reason::Connecting;
}

QString PortStatus::text() const
{
    switch (why) {
    case Reason::Open:
        return QStringLiteral("PORT open");
    case Reason::NotChosen:
    case Reason::Connecting:
        return QStringLiteral("PORT unavailable");
    case Reason::Missing:
        return QStringLiteral("PORT missing");
    case Reason::PermissionDenied:
        return QStringLiteral("PORT unavailable: permission denied (is your user in the dialout "
                              "group?)");
    case Reason::Busy:
        return detail.isEmpty() ? QStringLiteral("PORT busy: used by another program")
                                : QStringLiteral("PORT busy: held by ") + detail;
    case Reason::NotSerial:
        return QStringLiteral("PORT unavailable: not a serial device");
    case Reason::Other:
        break;
    }
    return QStringLiteral("PORT unavailable: ") + detail.toLower();
}
