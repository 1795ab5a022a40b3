// bench_stall: how long the window's thread is kept from its events while the window polls a
// pump: the lateness of a 1 ms timer on that thread, against a pump that answers (paced at 9600
// baud), a pump that is silent (adapter there, pump off), and the answering pump behind ser2net
// (raw TCP). With --same-thread the line runs on the window's thread, as it did before it had a
// thread of its own, for comparison.
//
//   bench_stall [--seconds S] [--same-thread] [--ser2net PATH]

#include "benchtools.h"
#include "mainform.h"
#include "panelsession.h"
#include "panelwindow.h"
#include "programoptions.h"
#include "ptypump.h"
#include "styles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr double TargetP99Ms = 16.0;
constexpr double TargetWorstMs = 30.0;
constexpr int SettleMs = 3000;
constexpr int TurnaroundMs = 5;

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

// Runs the real window polling the port for the given time and returns how late each 1 ms tick
// of a timer on the window's thread came, in ms.
std::vector<double> watch(const QString& port, bool ownThread, int seconds)
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

    std::vector<double> late;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    qint64 last = Bench::nowUs();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = Bench::nowUs();
        late.push_back(std::max(0.0, double(now - last) / 1000.0 - 1.0));
        last = now;
    });
    tick.start(1);
    clock.restart();
    while (clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return late;
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

void report(const QString& name, const Lateness& figure)
{
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
           summarise(watch(answering.devicePath(), ownThread, seconds)));
    report(QStringLiteral("pump silent"),
           summarise(watch(silent.devicePath(), ownThread, seconds)));

    QTemporaryDir dir;
    QProcess server;
    const QString network = bridge(server, dir, answering.devicePath(),
                                   Bench::textOption(arguments, QStringLiteral("--ser2net"),
                                                     QStringLiteral("/usr/sbin/ser2net")));
    if (network.isEmpty())
        Bench::printDetail(QStringLiteral("ser2net did not start: behind ser2net not measured"));
    else
        report(QStringLiteral("pump behind ser2net"),
               summarise(watch(network, ownThread, seconds)));
    server.kill();
    server.waitForFinished();
    Bench::printDetail(ownThread ? QStringLiteral("line on its own thread (as the program runs)")
                                 : QStringLiteral("line on the window's thread (--same-thread)"));
    return 0;
}
