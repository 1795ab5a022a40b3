#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// A command frame as the panel sends it: STX, address and body, ETX, and the XOR check byte,
// worked out here on its own so that the pump's check is not tested against itself.
inline QByteArray commandFrame(const QByteArray& addressAndBody)
{
    QByteArray bytes = '\x02' + addressAndBody + '\x03';
    quint8 check = 0;
    for (const char byte : bytes)
        check ^= quint8(byte);
    return bytes + char(check);
}

// The panel's side of the line, kept as plain as possible: a raw file descriptor.
class RawPort
{
public:
    explicit RawPort(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios settings{};
        if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;
    ~RawPort()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isOpen() const { return fd >= 0; }
    bool write(const QByteArray& bytes)
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

    // Reads until the line has been quiet for quietMs; remembers when the first and last bytes
    // came, in microseconds from the call.
    QByteArray read(int quietMs = 60)
    {
        QByteArray bytes;
        QElapsedTimer clock;
        clock.start();
        firstByteUs = lastByteUs = -1;
        for (;;) {
            pollfd poller{fd, POLLIN, 0};
            if (::poll(&poller, 1, quietMs) <= 0 || !(poller.revents & POLLIN)) {
                hungUp = poller.revents & (POLLHUP | POLLERR);
                return bytes;
            }
            char buffer[64];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                hungUp = true;
                return bytes;
            }
            if (firstByteUs < 0)
                firstByteUs = clock.nsecsElapsed() / 1000;
            lastByteUs = clock.nsecsElapsed() / 1000;
            bytes.append(buffer, int(got));
        }
    }

    qint64 firstByteUs = -1;
    qint64 lastByteUs = -1;
    bool hungUp = false;

private:
    int fd;
};
