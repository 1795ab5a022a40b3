#include "pseudoterminal.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace Simulator {

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

qint64 steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

// Removes the link only when it is a symbolic link: a real file of the same name stays.
bool removeLink(const QString& path)
{
    if (path.isEmpty())
        return true;
    const QFileInfo info(path);
    if (info.isSymLink())
        return ::unlink(QFile::encodeName(path).constData()) == 0;
    return !info.exists();
}

} // namespace

bool PseudoTerminal::open(const QString& linkPath)
{
    close();
    const auto fail = [this](const QString& what) {
        error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
        closeFd(masterFd);
        closeFd(slaveFd);
        return false;
    };
    masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (masterFd < 0)
        return fail(QStringLiteral("posix_openpt"));
    char name[128] = {};
    if (::grantpt(masterFd) != 0 || ::unlockpt(masterFd) != 0
        || ::ptsname_r(masterFd, name, sizeof name) != 0)
        return fail(QStringLiteral("pseudo-terminal set-up"));
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd < 0)
        return fail(QStringLiteral("open %1").arg(QString::fromLocal8Bit(name)));
    termios settings{};
    if (::tcgetattr(slaveFd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B9600);
        ::cfsetospeed(&settings, B9600);
        ::tcsetattr(slaveFd, TCSANOW, &settings);
    }
    if (!linkPath.isEmpty()) {
        if (!removeLink(linkPath)) {
            errno = EEXIST; // a file that is no link is left alone
            return fail(QStringLiteral("link %1").arg(linkPath));
        }
        if (::symlink(name, QFile::encodeName(linkPath).constData()) != 0)
            return fail(QStringLiteral("link %1").arg(linkPath));
    }
    devicePath = QString::fromLocal8Bit(name);
    link = linkPath;
    error.clear();
    return true;
}

void PseudoTerminal::close()
{
    if (masterFd >= 0)
        removeLink(link);
    closeFd(masterFd);
    closeFd(slaveFd);
    devicePath.clear();
    link.clear();
}

} // namespace Simulator
