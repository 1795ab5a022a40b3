// Steady polling with the window's attach lists against the paced simulated pump, through the
// program's own logging command stack and refresh cycle: commands completed per second, whether
// each 500 ms tick's commands are done before the next tick, and how long a Start queued in
// the middle of it (from another thread, at random moments, as a click would) takes to reach
// the pump.
//
// With --stop-clicks N it clicks Stop instead, N times at 100 to 300 ms intervals, by the
// window's path for run commands (ahead of queued readings; --behind-readings queues them as
// any other user command, for comparison).
//
// bench_polling [--seconds S] [--turnaround MS] [--stop-clicks N [--behind-readings]]

#include "benchtools.h"
#include "pumpline.h"

#include "commandtable.h"
#include "loggingcommandstack.h"
#include "operationitem.h"
#include "refreshtimer.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int MinStopGapMs = 100;
constexpr int MaxStopGapMs = 300;
// The first seconds fill the rotations and are not counted.
constexpr int SettleMs = 2000;
constexpr int MinClickGapMs = 700;
constexpr int MaxClickGapMs = 1700;

// A polled quantity known only by its reading command, which is all the refresh cycle asks of
// an item.
class PolledItem final : public GUI::OperationItem
{
public:
    explicit PolledItem(BusinessLogic::CommandSpezifier spezifier) : spezifier(spezifier) {}
    BusinessLogic::CommandSpezifier getCommandSpezifier() override { return spezifier; }

private:
    BusinessLogic::CommandSpezifier spezifier;
};

// The window's polling lists after its updateAttachAll, by reading command: list 0 VolumeActual,
// Flowrate, DispenseTime, RunMode, Status, TimeElapsed, VolumeTarget; list 1 Autostart,
// ProtocolAnswer, Status, VolumeBreakTime, VolumeNumber; list 2 AnalogIn, AnalogRange, Contrast,
// DigitalIn1, DigitalIn2, DigitalOut, FactoryMode, FactoryPumpModel, Language,
// MaintenancePosition, ModelVersion, PumpProfileCharacteristic, FactoryStrokeVolume, Address,
// CustomCalibrationPercentage, Contrast. One item per quantity, as in the window.
const std::vector<std::vector<BusinessLogic::CommandSpezifier>> windowLists{
    {2, 12, 14, 1, 8, 3, 9},
    {37, 47, 8, 18, 20},
    {22, 24, 41, 26, 28, 30, 56, 61, 32, 59, 45, 39, 63, 49, 35, 41},
};

void attachAll(GUI::RefreshTimer& refresher,
               std::map<BusinessLogic::CommandSpezifier, std::unique_ptr<PolledItem>>& items)
{
    for (std::size_t list = 0; list < windowLists.size(); ++list) {
        for (const BusinessLogic::CommandSpezifier spezifier : windowLists[list]) {
            std::unique_ptr<PolledItem>& item = items[spezifier];
            if (!item)
                item = std::make_unique<PolledItem>(spezifier);
            refresher.attach(item.get(), int(list));
        }
    }
}

// What one polling tick found and left.
struct Tick
{
    qint64 us = 0;
    int leftOver = 0;      // entries still queued when the tick came
    int queued = 0;        // entries queued after it
    qint64 drainedUs = -1; // when the queue was next empty
};

// Queues a run command from its own thread at random moments, as a user's click would reach
// the stack.
class Clicker
{
public:
    using Origin = BusinessLogic::CommandStack::Origin;
    struct Plan
    {
        Origin origin = Origin::User;
        int minGapMs = MinClickGapMs;
        int maxGapMs = MaxClickGapMs;
        int limit = -1; // clicks at most; -1: until the end
    };

    Clicker(BusinessLogic::CommandStack& stack, BusinessLogic::Command* start, Plan plan)
        : stack(stack), start(start), plan(plan)
    {}

    void run(qint64 untilUs)
    {
        QRandomGenerator random(11);
        for (int n = 0; !stopping.load() && n != plan.limit; ++n) {
            const int gapMs = int(random.bounded(plan.minGapMs, plan.maxGapMs));
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            if (Bench::nowUs() >= untilUs || stopping.load())
                break;
            const qint64 at = Bench::nowUs();
            stack.addCommand(start, 0, true, plan.origin);
            std::lock_guard lock(mutex);
            clicks.push_back(at);
        }
    }
    void stop() { stopping = true; }
    std::vector<qint64> times()
    {
        std::lock_guard lock(mutex);
        return clicks;
    }

private:
    BusinessLogic::CommandStack& stack;
    BusinessLogic::Command* start;
    Plan plan;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<qint64> clicks;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int stopClicks = Bench::intOption(arguments, QStringLiteral("--stop-clicks"), 0);
    const bool behindReadings = arguments.contains(QStringLiteral("--behind-readings"));
    const int seconds = Bench::intOption(
        arguments, QStringLiteral("--seconds"),
        stopClicks > 0 ? SettleMs / 1000 + 1 + stopClicks * MaxStopGapMs / 1000 : 60);
    const int turnaroundMs = Bench::intOption(arguments, QStringLiteral("--turnaround"), 5);

    PumpLine line(turnaroundMs);
    QString error;
    if (!line.start(true, &error)) {
        std::fprintf(stderr, "bench_polling: %s\n", qPrintable(error));
        return 1;
    }

    BusinessLogic::LoggingCommandStack& stack = line.session().stack();
    GUI::RefreshTimer& refresher = line.session().refresher();
    std::map<BusinessLogic::CommandSpezifier, std::unique_ptr<PolledItem>> items;
    attachAll(refresher, items);

    // The program's 500 ms polling timer, with a look at the queue on either side of each tick.
    refresher.noCyclicDataUpdate(true);
    std::vector<Tick> ticks;
    QTimer pollTimer;
    pollTimer.setInterval(GUI::RefreshTimer::IntervalMs);
    QObject::connect(&pollTimer, &QTimer::timeout, &refresher, [&] {
        Tick tick;
        tick.us = Bench::nowUs();
        tick.leftOver = stack.queuedCount();
        refresher.execute();
        tick.queued = stack.queuedCount();
        ticks.push_back(tick);
    });

    const qint64 beginUs = Bench::nowUs();
    const qint64 countFromUs = beginUs + SettleMs * 1000;
    const qint64 endUs = beginUs + qint64(seconds) * 1000000;
    int completed = 0;
    int unanswered = 0;
    int maxQueue = 0;
    QObject::connect(&stack, &BusinessLogic::CommandStack::sendAnswer, &refresher,
                     [&](const Answer&) {
                         const qint64 now = Bench::nowUs();
                         const int queued = stack.queuedCount();
                         if (now >= countFromUs) {
                             ++completed;
                             if (line.link().noAnswer)
                                 ++unanswered;
                         }
                         maxQueue = std::max(maxQueue, queued);
                         if (queued == 0 && !ticks.empty() && ticks.back().drainedUs < 0)
                             ticks.back().drainedUs = now;
                     });

    Clicker::Plan plan;
    if (stopClicks > 0)
        plan = {behindReadings ? Clicker::Origin::User : Clicker::Origin::UrgentUser, MinStopGapMs,
                MaxStopGapMs, stopClicks};
    const BusinessLogic::CommandSpezifier clicked =
        stopClicks > 0 ? BusinessLogic::CommandTable::stop.spezifier
                       : BusinessLogic::CommandTable::start.spezifier;
    const QString clickedName = stopClicks > 0 ? QStringLiteral("Stop") : QStringLiteral("Start");
    Clicker clicker(stack, line.command(clicked), plan);
    std::thread clicking([&] { clicker.run(endUs); });

    pollTimer.start();
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    application.exec();
    const qint64 stoppedUs = Bench::nowUs();
    clicker.stop();
    clicking.join();

    // Ticks inside the counted window whose next tick came too. A tick is done when the queue
    // was empty again before the next tick; a Start clicked after that may still wait then.
    std::vector<double> drainMs;
    int leftOverTicks = 0;
    int maxLeftOver = 0;
    int countedTicks = 0;
    int lateTicks = 0;
    for (std::size_t i = 0; i + 1 < ticks.size(); ++i) {
        const Tick& tick = ticks[i];
        if (tick.us < countFromUs)
            continue;
        ++countedTicks;
        const Tick& next = ticks[i + 1];
        maxLeftOver = std::max(maxLeftOver, next.leftOver);
        leftOverTicks += next.leftOver > 0 ? 1 : 0;
        if (tick.drainedUs >= 0 && tick.drainedUs <= next.us)
            drainMs.push_back(double(tick.drainedUs - tick.us) / 1000.0);
        else
            ++lateTicks;
    }
    const double countedSeconds = double(stoppedUs - countFromUs) / 1e6;
    const Bench::Summary drain = Bench::summarise(drainMs);

    // Each click's Start is the next Start frame the pump took.
    std::vector<qint64> startFrames;
    for (const PumpLine::Arrival& arrival : line.takeArrivals()) {
        if (arrival.line.contains(stopClicks > 0 ? QLatin1String("KY0<ETX>")
                                                 : QLatin1String("KY1<ETX>")))
            startFrames.push_back(arrival.us);
    }
    const std::vector<qint64> clicks = clicker.times();
    std::vector<double> latencyMs;
    for (std::size_t i = 0; i < clicks.size() && i < startFrames.size(); ++i)
        latencyMs.push_back(double(startFrames[i] - clicks[i]) / 1000.0);
    const Bench::Summary latency = Bench::summarise(latencyMs);

    Bench::printDetail(
        QStringLiteral("polling: %1 s (first %2 s not counted), pump paced at 9600 baud, "
                       "turnaround %3 ms, %4 queued every %5 to %6 ms from another thread")
            .arg(seconds)
            .arg(SettleMs / 1000)
            .arg(turnaroundMs)
            .arg(clickedName)
            .arg(plan.minGapMs)
            .arg(plan.maxGapMs));
    Bench::printInfoRow(
        QStringLiteral("Polling throughput (window's attach lists, Start clicks included)"),
        QStringLiteral("%1 commands/s (%2 per tick; %3 without answer)")
            .arg(double(completed) / countedSeconds, 0, 'f', 1)
            .arg(double(completed) / countedSeconds * GUI::RefreshTimer::IntervalMs / 1000.0, 0,
                 'f', 1)
            .arg(unanswered));
    Bench::printRow(
        QStringLiteral("Polling keeps up: each 500 ms tick's commands done before the next tick"),
        QStringLiteral("%1 of %2 ticks late; done after median %3, worst %4; queue max %5")
            .arg(lateTicks)
            .arg(countedTicks)
            .arg(Bench::ms(drain.median, 1), Bench::ms(drain.worst, 1))
            .arg(maxQueue),
        QStringLiteral("no tick late, queue bounded"), lateTicks == 0 && countedTicks > 0);
    Bench::printDetail(
        QStringLiteral("polling: %1 ticks found entries still queued, at most %2 (with no tick "
                       "late, these are Start clicks queued after the queue had emptied)")
            .arg(leftOverTicks)
            .arg(maxLeftOver));
    Bench::printDetail(
        QStringLiteral("polling: a tick's commands keep the line busy for about %1 % of the "
                       "500 ms between ticks (median drain time)")
            .arg(100.0 * drain.median / GUI::RefreshTimer::IntervalMs, 0, 'f', 0));
    const QString how = stopClicks == 0  ? QString()
                        : behindReadings ? QStringLiteral(", behind queued readings")
                                         : QStringLiteral(", ahead of queued readings");
    Bench::printInfoRow(QStringLiteral("%1 queued while polling%2: addCommand to frame at the pump")
                            .arg(clickedName, how),
                        QStringLiteral("median %1, p95 %2, worst %3 (n=%4)")
                            .arg(Bench::ms(latency.median, 1), Bench::ms(latency.p95, 1),
                                 Bench::ms(latency.worst, 1))
                            .arg(latency.count));
    if (clicks.size() != startFrames.size())
        Bench::printDetail(QStringLiteral("warning: %1 %2 queued, %3 %2 frames at the pump")
                               .arg(clicks.size())
                               .arg(clickedName)
                               .arg(startFrames.size()));
    return 0;
}
