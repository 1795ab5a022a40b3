// bench_bus: four pumps at 9600 baud under the real window, all of them listed: on one line
// (a bus), or with --lines 4 each on a line of its own. How often each pump's delivered volume
// and run status reach the panel (the readings the pump received, by address), how long after a
// click on Stop all every one of the four has received its KY0, how late the window's thread
// gets to its events meanwhile, and whether the others keep their rate while one is switched off.
//
//   bench_bus [--seconds S] [--clicks N] [--lines 1|4]

#include "benchtools.h"
#include "mainform.h"
#include "panelsession.h"
#include "panelwindow.h"
#include "programoptions.h"
#include "ptypump.h"
#include "styles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int Pumps = 4;
constexpr int TurnaroundMs = 5;
constexpr int SettleMs = 5000;
constexpr int ClickIntervalMs = 500;
constexpr double TargetStopAllMs = 100.0;
constexpr double TargetGapMs = 1000.0;
// The pump switched off for a while, and how long until its silence has been noticed.
constexpr int OffPump = 2;
constexpr int SilenceNoticedMs = 4000;

// Every frame the pumps received: when, for which address, with which body.
class FrameLog
{
public:
    explicit FrameLog(Simulator::PtyPump& pump) : pump(pump)
    {
        pump.setLogSink([this](const QString& line) {
            const QRegularExpressionMatch match = frame.match(line);
            if (!match.hasMatch())
                return;
            QMutexLocker locker(&mutex);
            frames.push_back({Bench::nowUs(), match.captured(1).toInt(), match.captured(2)});
        });
    }
    ~FrameLog() { pump.setLogSink({}); }
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    struct Frame
    {
        qint64 atUs;
        int address;
        QString body;
    };
    std::vector<Frame> taken()
    {
        QMutexLocker locker(&mutex);
        return frames;
    }

private:
    Simulator::PtyPump& pump;
    const QRegularExpression frame{QStringLiteral("<STX>(\\d\\d)([^<]*)<ETX>")};
    QMutex mutex;
    std::vector<Frame> frames;
};

// The longest time between two frames with this body (prefix) to the address, from..until.
double longestGapMs(const std::vector<FrameLog::Frame>& frames, int address, const QString& body,
                    qint64 fromUs, qint64 untilUs)
{
    qint64 last = fromUs;
    qint64 longest = 0;
    for (const FrameLog::Frame& frame : frames) {
        if (frame.address != address || !frame.body.startsWith(body) || frame.atUs < fromUs
            || frame.atUs > untilUs)
            continue;
        longest = std::max(longest, frame.atUs - last);
        last = frame.atUs;
    }
    return double(std::max(longest, untilUs - last)) / 1000.0;
}

// For each click, the time from when it was due until the last of the pumps had its KY0.
std::vector<double> stopAllTimes(const std::vector<FrameLog::Frame>& frames,
                                 const std::vector<qint64>& dueUs, int* incomplete)
{
    std::vector<double> times;
    for (std::size_t i = 0; i < dueUs.size(); ++i) {
        const qint64 until =
            i + 1 < dueUs.size() ? dueUs[i + 1] : dueUs[i] + ClickIntervalMs * 1000;
        std::map<int, qint64> reached;
        for (const FrameLog::Frame& frame : frames) {
            if (frame.body == QLatin1String("KY0") && frame.atUs >= dueUs[i] && frame.atUs < until
                && !reached.count(frame.address))
                reached[frame.address] = frame.atUs;
        }
        if (int(reached.size()) < Pumps) {
            ++*incomplete;
            continue;
        }
        qint64 last = 0;
        for (const auto& [address, at] : reached)
            last = std::max(last, at);
        times.push_back(double(last - dueUs[i]) / 1000.0);
    }
    return times;
}

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir settingsHome;
    Bench::prepareWindow(settingsHome);
    Styles::initResources();
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int seconds = Bench::intOption(arguments, QStringLiteral("--seconds"), 30);
    const int clicks = Bench::intOption(arguments, QStringLiteral("--clicks"), 50);

    const bool ownLines = Bench::intOption(arguments, QStringLiteral("--lines"), 1) > 1;
    const QString where = ownLines ? QStringLiteral("four lines") : QStringLiteral("one line");

    // Addresses 0 to 3 either way, so that a frame's address names its pump.
    const auto pacedAt = [](int address) {
        Simulator::PtyPump::Options paced;
        paced.pacing = true;
        paced.turnaroundMs = TurnaroundMs;
        paced.address = address;
        paced.modelCode = address % 2 ? 102 : 110;
        return paced;
    };
    std::vector<std::unique_ptr<Simulator::PtyPump>> lines;
    Simulator::PtyPump::Options bus = pacedAt(0);
    for (int address = 1; address < Pumps; ++address) {
        if (ownLines)
            lines.push_back(std::make_unique<Simulator::PtyPump>(pacedAt(address)));
        else
            bus.furtherPumps.append({address, pacedAt(address).modelCode});
    }
    lines.insert(lines.begin(), std::make_unique<Simulator::PtyPump>(bus));
    for (const auto& line : lines) {
        if (!line->start()) {
            std::fprintf(stderr, "bench_bus: the simulated pumps did not start\n");
            return 1;
        }
    }
    GUI::PanelSession session;
    session.startLineThread();
    ProgramOptions options;
    options.portPaths = {lines.front()->devicePath()};
    const std::unique_ptr<mainForm> window = openPanelWindow(session, qApp, options);
    window->form().comboCommAddress->setCurrentIndex(0);
    window->startCommunication();
    window->restartDisplayTimer();
    settle(SettleMs / 5);
    for (int address = 0; address < Pumps; ++address)
        window->addPump(lines.at(ownLines ? std::size_t(address) : 0)->devicePath(), address);
    std::vector<std::unique_ptr<FrameLog>> logs;
    for (const auto& line : lines)
        logs.push_back(std::make_unique<FrameLog>(*line));
    settle(SettleMs);

    // Polling alone, the window's thread watched by a 1 ms timer.
    std::vector<double> lateMs;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    qint64 last = Bench::nowUs();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = Bench::nowUs();
        lateMs.push_back(std::max(0.0, double(now - last) / 1000.0 - 1.0));
        last = now;
    });
    tick.start(1);
    const qint64 pollFromUs = Bench::nowUs();
    settle(seconds * 1000);
    const qint64 pollUntilUs = Bench::nowUs();
    tick.stop();

    // One pump switched off: the others should keep their rate.
    Simulator::PtyPump& offLine = *lines.at(ownLines ? std::size_t(OffPump) : 0);
    offLine.setPowered(OffPump, false);
    settle(SilenceNoticedMs);
    const qint64 offFromUs = Bench::nowUs();
    settle(seconds * 1000 / 2);
    const qint64 offUntilUs = Bench::nowUs();
    offLine.setPowered(OffPump, true);
    settle(SilenceNoticedMs);

    // Stop all, clicked as a user clicks it.
    auto* stopAll = window->findChild<QPushButton*>(QStringLiteral("buttonStopAll"));
    std::vector<qint64> dueUs;
    QTimer clicking;
    clicking.setTimerType(Qt::PreciseTimer);
    QObject::connect(&clicking, &QTimer::timeout, [&] {
        dueUs.push_back(dueUs.empty() ? Bench::nowUs() : dueUs.back() + ClickIntervalMs * 1000);
        stopAll->click();
        if (int(dueUs.size()) == clicks)
            clicking.stop();
    });
    clicking.start(ClickIntervalMs);
    while (int(dueUs.size()) < clicks)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    settle(ClickIntervalMs);

    std::vector<FrameLog::Frame> frames;
    for (const auto& log : logs) {
        const std::vector<FrameLog::Frame> taken = log->taken();
        frames.insert(frames.end(), taken.begin(), taken.end());
    }
    for (int address = 0; address < Pumps; ++address) {
        const double volume =
            longestGapMs(frames, address, QStringLiteral("?TV"), pollFromUs, pollUntilUs);
        const double status =
            longestGapMs(frames, address, QStringLiteral("?SS1"), pollFromUs, pollUntilUs);
        Bench::printRow(QStringLiteral("Four pumps on %1 at 9600 baud, pump %2%3: longest "
                                       "gap between readings")
                            .arg(where)
                            .arg(address)
                            .arg(address == 0 ? QStringLiteral(" (shown)") : QString()),
                        QStringLiteral("delivered volume %1, run status %2 (%3 s)")
                            .arg(Bench::ms(volume, 0), Bench::ms(status, 0))
                            .arg(seconds),
                        QStringLiteral("<= %1").arg(Bench::ms(TargetGapMs, 0)),
                        volume <= TargetGapMs && status <= TargetGapMs);
    }
    double longestOther = 0;
    for (int address = 0; address < Pumps; ++address) {
        if (address != OffPump)
            longestOther =
                std::max(longestOther, longestGapMs(frames, address, QStringLiteral("?TV"),
                                                    offFromUs, offUntilUs));
    }
    Bench::printRow(QStringLiteral("Pump %1 switched off (%2): longest gap between the others' "
                                   "delivered-volume readings")
                        .arg(OffPump)
                        .arg(where),
                    QStringLiteral("%1 (%2 s)").arg(Bench::ms(longestOther, 0)).arg(seconds / 2),
                    QStringLiteral("<= %1").arg(Bench::ms(TargetGapMs, 0)),
                    longestOther <= TargetGapMs);
    int incomplete = 0;
    const Bench::Summary stops = Bench::summarise(stopAllTimes(frames, dueUs, &incomplete));
    Bench::printRow(QStringLiteral("Stop all click to the last of four KY0, %1").arg(where),
                    QStringLiteral("median %1, worst %2 (n=%3, %4 incomplete)")
                        .arg(Bench::ms(stops.median, 1), Bench::ms(stops.worst, 1))
                        .arg(stops.count)
                        .arg(incomplete),
                    QStringLiteral("<= %1").arg(Bench::ms(TargetStopAllMs, 0)),
                    stops.worst <= TargetStopAllMs && incomplete == 0);
    const Bench::Summary late = Bench::summarise(lateMs);
    Bench::printRow(
        QStringLiteral("Window thread lateness, four pumps on %1").arg(where),
        QStringLiteral("median %1, p95 %2, worst %3")
            .arg(Bench::ms(late.median, 2), Bench::ms(late.p95, 1), Bench::ms(late.worst, 1)),
        QStringLiteral("worst <= 30 ms"), late.worst <= 30.0);
    return 0;
}
