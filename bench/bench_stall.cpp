// bench_stall: how long the window's thread is kept from its events while the window polls a
// pump: the lateness of a 1 ms timer on that thread, against a pump that answers (paced at 9600
// baud), a pump that is silent (adapter there, pump off), and the answering pump behind ser2net
// (raw TCP). Meanwhile Stop is clicked every 250 ms, and the time from the moment the click was
// due to its KY0 frame at the pump is taken: the click waits in the window's event queue like a
// user's. With --same-thread the line runs on the window's thread, as it did before it had a
// thread of its own, for comparison.
//
//   bench_stall [--seconds S] [--same-thread] [--ser2net PATH]

#include "benchtools.h"
#include "communication.h"
#include "mainform.h"
#include "panelsession.h"
#include "panelwindow.h"
#include "programoptions.h"
#include "ptypump.h"
#include "styles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr double TargetP99Ms = 16.0;
constexpr double TargetWorstMs = 30.0;
constexpr int SettleMs = 3000;
constexpr int TurnaroundMs = 5;
constexpr int StopClickIntervalMs = 250;
// The longest exchange a click may wait for: a silent pump's answer time, then KY0 on the wire.
constexpr double LongestExchangeMs = Communication::AnswerTimeoutMs + 1 + 10;

struct Lateness
{
    double median = 0;
    double p99 = 0;
    double worst = 0;
    double overHalfFrame = 0; // share of ticks later than 8 ms, in %
};

Lateness summarise(std::vector<double> late)
{
    Lateness result;
    if (late.empty())
        return result;
    std::sort(late.begin(), late.end());
    const auto at = [&late](double share) {
        return late[std::size_t(share * double(late.size() - 1))];
    };
    result.median = at(0.5);
    result.p99 = at(0.99);
    result.worst = late.back();
    result.overHalfFrame =
        100.0 * double(std::count_if(late.begin(), late.end(), [](double ms) { return ms > 8.0; }))
        / double(late.size());
    return result;
}

struct Watched
{
    std::vector<double> lateMs; // each 1 ms tick of the window's thread, how late it came
    std::vector<double> stopMs; // each Stop click, from when it was due to KY0 at the pump
    int stopsLost = 0;          // clicks whose KY0 did not come before the next click
};

// When the pump received each Stop, by the benchmark's clock.
class StopArrivals
{
public:
    explicit StopArrivals(Simulator::PtyPump& pump) : pump(pump)
    {
        pump.setLogSink([this](const QString& line) {
            if (line.contains(QLatin1String("KY0"))) {
                QMutexLocker locker(&mutex);
                arrivalsUs.push_back(Bench::nowUs());
            }
        });
    }
    ~StopArrivals() { pump.setLogSink({}); }
    StopArrivals(const StopArrivals&) = delete;
    StopArrivals& operator=(const StopArrivals&) = delete;

    // The first arrival at or after the given time, if any came before the limit.
    std::optional<qint64> firstBetween(qint64 fromUs, qint64 untilUs)
    {
        QMutexLocker locker(&mutex);
        for (const qint64 at : arrivalsUs)
            if (at >= fromUs && at < untilUs)
                return at;
        return std::nullopt;
    }

private:
    Simulator::PtyPump& pump;
    QMutex mutex;
    std::vector<qint64> arrivalsUs;
};

void pairStops(Watched& watched, StopArrivals& arrivals, const std::vector<qint64>& dueUs,
               qint64 endUs)
{
    for (std::size_t i = 0; i < dueUs.size(); ++i) {
        const qint64 until = i + 1 < dueUs.size() ? dueUs[i + 1] : endUs;
        if (const std::optional<qint64> at = arrivals.firstBetween(dueUs[i], until))
            watched.stopMs.push_back(double(*at - dueUs[i]) / 1000.0);
        else
            ++watched.stopsLost;
    }
}

// Runs the real window polling the pump (at the port given, which may lead to it through a
// bridge) for the given time, its Stop clicked now and then.
Watched watch(const QString& port, Simulator::PtyPump& pump, bool ownThread, int seconds)
{
    GUI::PanelSession session;
    if (ownThread)
        session.startLineThread();
    ProgramOptions options;
    options.portPaths = {port};
    const std::unique_ptr<mainForm> window = openPanelWindow(session, qApp, options);
    window->startCommunication();
    window->restartDisplayTimer();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < SettleMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    Watched watched;
    std::vector<double>& late = watched.lateMs;
    StopArrivals arrivals(pump);
    std::vector<qint64> dueUs;
    auto* stop = window->findChild<QPushButton*>(QStringLiteral("buttonStop"));
    QTimer stopClicks;
    stopClicks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stopClicks, &QTimer::timeout, [&] {
        dueUs.push_back(dueUs.empty() ? Bench::nowUs() : dueUs.back() + StopClickIntervalMs * 1000);
        stop->click();
    });
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    qint64 last = Bench::nowUs();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = Bench::nowUs();
        late.push_back(std::max(0.0, double(now - last) / 1000.0 - 1.0));
        last = now;
    });
    tick.start(1);
    stopClicks.start(StopClickIntervalMs);
    clock.restart();
    while (clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    stopClicks.stop();
    // The last click's frame has a moment to arrive.
    const qint64 endUs = Bench::nowUs() + StopClickIntervalMs * 1000;
    while (Bench::nowUs() < endUs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    pairStops(watched, arrivals, dueUs, endUs);
    return watched;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// ser2net bridging the device to a raw TCP port on loopback; the port name, or empty.
QString bridge(QProcess& server, const QTemporaryDir& dir, const QString& device,
               const QString& program)
{
    const quint16 port = freePort();
    QFile config(dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!config.open(QIODevice::WriteOnly))
        return {};
    config.write(QStringLiteral("connection: &pump\n  accepter: tcp(nodelay),127.0.0.1,%1\n"
                                "  connector: serialdev,%2,9600n81,local\n"
                                "  options:\n    chardelay: false\n")
                     .arg(port)
                     .arg(device)
                     .toUtf8());
    config.close();
    server.start(program, {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                           config.fileName()});
    if (!server.waitForStarted())
        return {};
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}

void reportStops(const QString& name, const Watched& watched)
{
    const Lateness stops = summarise(watched.stopMs);
    Bench::printRow(QStringLiteral("Stop click to KY0 at the pump, %1").arg(name),
                    QStringLiteral("median %1, worst %2 (n=%3; %4 more never reached the pump, "
                                   "dropped with the queue of a pump found lost)")
                        .arg(Bench::ms(stops.median, 1), Bench::ms(stops.worst, 1))
                        .arg(watched.stopMs.size())
                        .arg(watched.stopsLost),
                    QStringLiteral("at most the one exchange in flight (%1)")
                        .arg(Bench::ms(LongestExchangeMs, 0)),
                    stops.worst <= LongestExchangeMs);
}

void report(const QString& name, const Watched& watched)
{
    reportStops(name, watched);
    const Lateness figure = summarise(watched.lateMs);
    Bench::printRow(
        QStringLiteral("Window thread lateness, %1").arg(name),
        QStringLiteral("median %1, p99 %2, worst %3; %4 % of ticks over 8 ms")
            .arg(Bench::ms(figure.median, 2), Bench::ms(figure.p99, 1), Bench::ms(figure.worst, 1))
            .arg(figure.overHalfFrame, 0, 'f', 1),
        QStringLiteral("p99 <= 16 ms, worst <= 30 ms"),
        figure.p99 <= TargetP99Ms && figure.worst <= TargetWorstMs);
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir settingsHome;
    Bench::prepareWindow(settingsHome);
    Styles::initResources();
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int seconds = Bench::intOption(arguments, QStringLiteral("--seconds"), 20);
    const bool ownThread = !arguments.contains(QStringLiteral("--same-thread"));

    Simulator::PtyPump::Options paced;
    paced.pacing = true;
    paced.turnaroundMs = TurnaroundMs;
    Simulator::PtyPump answering(paced);
    Simulator::PtyPump silent(paced);
    if (!answering.start() || !silent.start()) {
        std::fprintf(stderr, "bench_stall: the simulated pumps did not start\n");
        return 1;
    }
    silent.modifyFaults([](Simulator::Faults& faults) { faults.silent = true; });

    report(QStringLiteral("pump answering"),
           watch(answering.devicePath(), answering, ownThread, seconds));
    report(QStringLiteral("pump silent"), watch(silent.devicePath(), silent, ownThread, seconds));

    QTemporaryDir dir;
    QProcess server;
    const QString network = bridge(server, dir, answering.devicePath(),
                                   Bench::textOption(arguments, QStringLiteral("--ser2net"),
                                                     QStringLiteral("/usr/sbin/ser2net")));
    if (network.isEmpty())
        Bench::printDetail(QStringLiteral("ser2net did not start: behind ser2net not measured"));
    else
        report(QStringLiteral("pump behind ser2net"),
               watch(network, answering, ownThread, seconds));
    server.kill();
    server.waitForFinished();
    Bench::printDetail(ownThread ? QStringLiteral("line on its own thread (as the program runs)")
                                 : QStringLiteral("line on the window's thread (--same-thread)"));
    return 0;
}
