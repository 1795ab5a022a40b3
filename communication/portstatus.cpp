#include "portstatus.h"

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
        return PortStatus(accessRefused(location) ? Reason::PermissionDenied : Reason::Busy);
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
        return QStringLiteral("PORT busy: used by another program");
    case Reason::NotSerial:
        return QStringLiteral("PORT unavailable: not a serial device");
    case Reason::Other:
        break;
    }
    return QStringLiteral("PORT unavailable: ") + detail.toLower();
}
