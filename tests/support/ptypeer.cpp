#include "ptypeer.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return;
    path = QString::fromLocal8Bit(ptsname(master));
    // Holding the slave open keeps the master from reporting a hang-up while no one else has it.
    slaveKeepAlive = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slaveKeepAlive >= 0 && tcgetattr(slaveKeepAlive, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(slaveKeepAlive, TCSANOW, &raw);
    }
    thread = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
    unplug();
    if (slaveKeepAlive >= 0)
        ::close(slaveKeepAlive);
}

void PtyPeer::setResponder(Responder r)
{
    std::lock_guard<std::mutex> lock(mutex);
    responder = std::move(r);
}

void PtyPeer::answerWith(const QByteArray& bytes)
{
    setResponder([bytes](const QByteArray&) { return QList<Chunk>{{bytes, 0}}; });
}

void PtyPeer::stayQuiet()
{
    setResponder([](const QByteArray&) { return QList<Chunk>{}; });
}

void PtyPeer::sendNow(const QByteArray& bytes)
{
    writeAll(bytes);
}

void PtyPeer::unplug()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
    if (slaveKeepAlive >= 0) {
        ::close(slaveKeepAlive);
        slaveKeepAlive = -1;
    }
}

QList<QByteArray> PtyPeer::receivedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return frames;
}

bool PtyPeer::waitForFrames(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return frames.size() >= count; });
}

bool PtyPeer::waitUntilReplied(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return replied >= frames.size(); });
}

QByteArray PtyPeer::withLrc(const QByteArray& frame)
{
    char lrc = 0;
    for (const char c : frame)
        lrc ^= c;
    return frame + QByteArray(1, lrc);
}

void PtyPeer::writeAll(const QByteArray& bytes)
{
    int fd;
    {
        std::lock_guard<std::mutex> lock(mutex);
        fd = master;
    }
    qsizetype done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
}

void PtyPeer::run()
{
    QByteArray pending;
    while (!stopping) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(mutex);
            fd = master;
        }
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN)) {
            if (p.revents & (POLLHUP | POLLERR))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        pending.append(buffer, n);
        // A frame is complete once the byte after its ETX (the check byte) has arrived.
        for (;;) {
            const qsizetype stx = pending.indexOf('\x02');
            if (stx < 0) {
                pending.clear();
                break;
            }
            const qsizetype etx = pending.indexOf('\x03', stx);
            if (etx < 0 || etx + 1 >= pending.size())
                break;
            const QByteArray frame = pending.mid(stx, etx - stx + 2);
            pending.remove(0, etx + 2);
            Responder r;
            {
                std::lock_guard<std::mutex> lock(mutex);
                frames.append(frame);
                r = responder;
            }
            frameArrived.notify_all();
            if (r) {
                for (const Chunk& chunk : r(frame)) {
                    if (chunk.delayMs > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delayMs));
                    writeAll(chunk.bytes);
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++replied;
            }
            frameArrived.notify_all();
        }
    }
}
