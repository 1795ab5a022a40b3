#include "ptybalance.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Simulator {

namespace {

constexpr int PollMs = 20;
constexpr int ReadChunk = 256;
constexpr int LongestLine = 64;
// A change of the weight above this counts as movement, in grams.
constexpr double StillG = 0.0002;
constexpr qint64 UsPerMs = 1000;

} // namespace

PtyBalance::PtyBalance(std::function<double()> source, Options chosen)
    : grossGrams(std::move(source)), options(std::move(chosen)), random(options.randomSeed)
{}

PtyBalance::~PtyBalance()
{
    stop();
}

bool PtyBalance::start()
{
    if (thread.joinable())
        return true;
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const bool opened = wakeFd >= 0 && terminal.open(options.linkPath);
    std::lock_guard lock(mutex);
    device = terminal.device();
    if (!opened) {
        error = wakeFd < 0 ? QStringLiteral("eventfd: %1").arg(std::strerror(errno))
                           : terminal.errorString();
        return false;
    }
    stopping = false;
    thread = std::thread(&PtyBalance::run, this);
    return true;
}

void PtyBalance::stop()
{
    if (thread.joinable()) {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        const quint64 one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
        thread.join();
    }
    terminal.close();
    if (wakeFd >= 0)
        ::close(wakeFd);
    wakeFd = -1;
}

QString PtyBalance::devicePath() const
{
    std::lock_guard lock(mutex);
    return device;
}

QString PtyBalance::portPath() const
{
    return options.linkPath.isEmpty() ? devicePath() : options.linkPath;
}

QString PtyBalance::errorString() const
{
    std::lock_guard lock(mutex);
    return error;
}

void PtyBalance::run()
{
    lastGrossG = grossGrams();
    movedUs = steadyUs();
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return;
        }
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {terminal.master(), POLLIN, 0}};
        if (::poll(fds, 2, PollMs) < 0 && errno != EINTR)
            return;
        const qint64 now = steadyUs();
        sample(now);
        if (fds[1].revents & POLLIN) {
            char buffer[ReadChunk];
            const ssize_t got = ::read(terminal.master(), buffer, sizeof buffer);
            for (ssize_t i = 0; i < got; ++i) {
                if (buffer[i] != '\r' && buffer[i] != '\n') {
                    if (input.size() < LongestLine)
                        input.append(buffer[i]);
                } else if (!input.isEmpty()) {
                    handleLine(input.trimmed(), now);
                    input.clear();
                }
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Nobody holds the other side: look again a little later.
            ::usleep(PollMs * UsPerMs);
        }
        if (stableDeadlineUs)
            answerStable(now);
    }
}

void PtyBalance::sample(qint64 nowUs)
{
    const double gross = grossGrams();
    if (std::fabs(gross - lastGrossG) > StillG) {
        lastGrossG = gross;
        movedUs = nowUs;
    }
}

void PtyBalance::handleLine(const QByteArray& line, qint64 nowUs)
{
    const bool settled = nowUs - movedUs >= options.settleMs * UsPerMs;
    if (line == "SI") {
        send(weight(settled ? "S S" : "S D"));
    } else if (line == "S" || line == "Z") {
        waiting = line;
        stableDeadlineUs = nowUs + options.stableTimeoutMs * UsPerMs;
    } else {
        send(QByteArrayLiteral("ES"));
    }
}

void PtyBalance::answerStable(qint64 nowUs)
{
    const bool zero = waiting == "Z";
    if (nowUs - movedUs >= options.settleMs * UsPerMs) {
        if (zero)
            tareG = lastGrossG;
        send(zero ? QByteArrayLiteral("Z A") : weight("S S"));
        stableDeadlineUs.reset();
    } else if (nowUs >= *stableDeadlineUs) {
        send(zero ? QByteArrayLiteral("Z I") : QByteArrayLiteral("S I"));
        stableDeadlineUs.reset();
    }
}

QByteArray PtyBalance::weight(const char* status)
{
    std::uniform_real_distribution<double> noise(-options.noiseG, options.noiseG);
    const double net = grossGrams() - tareG + noise(random);
    return QByteArray(status) + ' ' + QByteArray::number(net, 'f', 4).rightJustified(10, ' ')
           + QByteArrayLiteral(" g");
}

void PtyBalance::send(const QByteArray& line)
{
    const QByteArray bytes = line + QByteArrayLiteral("\r\n");
    [[maybe_unused]] const auto written =
        ::write(terminal.master(), bytes.constData(), size_t(bytes.size()));
}

} // namespace Simulator
