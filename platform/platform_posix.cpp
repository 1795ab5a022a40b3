#include "platform.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

quint32 tickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const quint64 ms = quint64(ts.tv_sec) * 1000u + quint64(ts.tv_nsec) / 1000000u;
    return static_cast<quint32>(ms);
}

SystemTime systemTimeUtc()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm utc{};
    gmtime_r(&ts.tv_sec, &utc);
    SystemTime t;
    t.year = quint16(utc.tm_year + 1900);
    t.month = quint16(utc.tm_mon + 1);
    t.dayOfWeek = quint16(utc.tm_wday);
    t.day = quint16(utc.tm_mday);
    t.hour = quint16(utc.tm_hour);
    t.minute = quint16(utc.tm_min);
    t.second = quint16(utc.tm_sec);
    t.milliseconds = quint16(ts.tv_nsec / 1000000);
    return t;
}

void sleepMs(quint32 milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec ts{};
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = long(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

void sleepUs(quint32 microseconds)
{
    timespec ts{};
    ts.tv_sec = microseconds / 1000000;
    ts.tv_nsec = long(microseconds % 1000000) * 1000L;
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

namespace {

// Lock files live in one folder per user; DOSEDESK_LOCK_DIR moves them (tests use their own).
QByteArray lockDirectory()
{
    QByteArray dir = qgetenv("DOSEDESK_LOCK_DIR");
    if (dir.isEmpty()) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        dir = (runtime.isEmpty() ? QByteArray("/tmp") : runtime) + "/dosedesk-locks-"
              + QByteArray::number(uint(getuid()));
    }
    QDir().mkpath(QString::fromLocal8Bit(dir));
    return dir;
}

int openLockFile(const QByteArray& path)
{
    return ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

QByteArray namedObjectPath(const QByteArray& dir, const QString& name)
{
    return dir + '/' + name.toUtf8().toPercentEncoding() + ".lock";
}

// The file of a name says which process took it: its id, as a line of text.
void writeProcessId(int fd)
{
    const QByteArray id = QByteArray::number(qint64(getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, id.constData(), size_t(id.size()));
}

bool lockRetrying(int fd, int operation)
{
    while (flock(fd, operation) == -1) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// The guard lock of the lock folder, held while it lives: taking or looking at a name is one
// step between processes.
class FolderGuard
{
public:
    explicit FolderGuard(const QByteArray& dir) : fd(openLockFile(dir + "/.guard"))
    {
        if (fd >= 0)
            lockRetrying(fd, LOCK_EX);
    }
    ~FolderGuard()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FolderGuard(const FolderGuard&) = delete;
    FolderGuard& operator=(const FolderGuard&) = delete;

private:
    int fd;
};

} // namespace

bool createNamedObject(const QString& name)
{
    // A name "exists" while some process holds a shared lock on its file. The guard lock makes
    // the test-then-hold step atomic between processes; a crashed process drops its locks.
    const QByteArray dir = lockDirectory();
    const FolderGuard guard(dir);
    const int fd = openLockFile(namedObjectPath(dir, name));
    bool existed = true;
    if (fd >= 0) {
        existed = flock(fd, LOCK_EX | LOCK_NB) == -1;
        if (!existed)
            writeProcessId(fd);
        // Hold the name for the rest of the process; the descriptor is deliberately never closed.
        lockRetrying(fd, LOCK_SH);
    }
    return existed;
}

std::optional<qint64> namedObjectTaker(const QString& name)
{
    const QByteArray dir = lockDirectory();
    // Under the guard, so that the look does not make a copy taking its name think it taken.
    const FolderGuard guard(dir);
    std::optional<qint64> taker;
    const int fd = ::open(namedObjectPath(dir, name).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == -1) {
        char text[32] = {};
        const ssize_t got = ::read(fd, text, sizeof text - 1);
        taker = got > 0 ? QByteArray(text, int(got)).trimmed().toLongLong() : 0;
    }
    if (fd >= 0)
        ::close(fd); // also lets go of the look's own lock on a name nobody holds
    return taker;
}

QString namedObjectProblem()
{
    const QByteArray dir = lockDirectory();
    const int fd = openLockFile(dir + "/.guard");
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    const int error = errno;
    return QStringLiteral("the lock folder %1 cannot be written (%2); set DOSEDESK_LOCK_DIR to a "
                          "writable folder")
        .arg(QString::fromLocal8Bit(dir), QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace Platform
