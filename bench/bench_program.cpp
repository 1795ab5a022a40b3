// The program itself as a child process against the paced simulated pump: time from process
// start to the first communication check ("?SI") at the pump, and the program's CPU use (user +
// system, from /proc/<pid>/stat) while connected and polling, and while no port is open.
//
// bench_program [--program PATH] [--seconds S] [--starts N] [--turnaround MS]

#include "benchtools.h"
#include "pumpline.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <optional>

#include <unistd.h>

namespace {

constexpr double StartupTargetMs = 1500.0;
constexpr double ConnectedCpuTargetPercent = 5.0;
constexpr double NoPortCpuTargetPercent = 1.0;
constexpr int FirstFrameLimitMs = 15000;
// Connected: the window shows itself after 1 s and polling needs a moment to reach its pace.
constexpr int ConnectedSettleMs = 5000;
constexpr int NoPortSettleMs = 3000;
constexpr int StopLimitMs = 3000;

// CPU time and wake-ups of a running process so far.
struct ProcessTimes
{
    double cpuSeconds = 0.0;
    qint64 contextSwitches = 0;
};

std::optional<ProcessTimes> processTimes(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    // The command name may hold blanks; the fields after it are counted from its closing ")".
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    ProcessTimes times;
    const double ticksPerSecond = double(::sysconf(_SC_CLK_TCK));
    times.cpuSeconds = double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / ticksPerSecond;

    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                times.contextSwitches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return times;
}

// One run of the program with its own settings and copy-numbering folders.
class Program
{
public:
    Program(const QString& executable, const QString& stateDir) : executable(executable), stateDir(stateDir)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), stateDir + QStringLiteral("/config"));
        environment.insert(QStringLiteral("DOSEDESK_LOCK_DIR"), stateDir + QStringLiteral("/locks"));
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(stateDir + QStringLiteral("/stderr.txt"), QIODevice::Append);
    }
    ~Program() { stop(); }

    bool start(const QString& port)
    {
        process.start(executable, {QStringLiteral("--port"), port});
        return process.waitForStarted(5000);
    }
    qint64 pid() const { return process.processId(); }
    bool isRunning() const { return process.state() == QProcess::Running; }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(StopLimitMs)) {
            process.kill();
            process.waitForFinished(StopLimitMs);
        }
    }

private:
    QString executable;
    QString stateDir;
    QProcess process;
};

// The first arrival at the pump whose log line holds the text, waiting up to the limit.
std::optional<qint64> waitForFrame(PumpLine& line, const QString& text, int limitMs)
{
    const qint64 untilUs = Bench::nowUs() + qint64(limitMs) * 1000;
    while (Bench::nowUs() < untilUs) {
        for (const PumpLine::Arrival& arrival : line.takeArrivals()) {
            if (arrival.line.contains(text))
                return arrival.us;
        }
        QThread::msleep(2);
    }
    return std::nullopt;
}

// CPU use of the running program over the given time, in percent of one core; the pump's frame
// count over the same time tells how busy the line was.
struct CpuFigure
{
    double percent = -1.0;
    double wakeupsPerSecond = 0.0;
    double framesPerSecond = 0.0;
};

CpuFigure measureCpu(Program& program, PumpLine& line, int seconds)
{
    CpuFigure figure;
    const std::optional<ProcessTimes> before = processTimes(program.pid());
    const int framesBefore = line.pump().frameCount();
    const qint64 beginUs = Bench::nowUs();
    QThread::sleep(seconds);
    const std::optional<ProcessTimes> after = processTimes(program.pid());
    const double wall = double(Bench::nowUs() - beginUs) / 1e6;
    if (!before || !after || !program.isRunning())
        return figure;
    figure.percent = 100.0 * (after->cpuSeconds - before->cpuSeconds) / wall;
    figure.wakeupsPerSecond = double(after->contextSwitches - before->contextSwitches) / wall;
    figure.framesPerSecond = double(line.pump().frameCount() - framesBefore) / wall;
    return figure;
}

void reportCpu(const QString& metric, const CpuFigure& figure, double targetPercent, int seconds)
{
    if (figure.percent < 0) {
        Bench::printRow(metric, QStringLiteral("program ended early"),
                        QStringLiteral("< %1 % of one core").arg(targetPercent), false);
        return;
    }
    Bench::printRow(metric,
                    QStringLiteral("%1 % of one core over %2 s (%3 context switches/s, %4 frames/s at the pump)")
                        .arg(figure.percent, 0, 'f', 2)
                        .arg(seconds)
                        .arg(figure.wakeupsPerSecond, 0, 'f', 0)
                        .arg(figure.framesPerSecond, 0, 'f', 1),
                    QStringLiteral("< %1 % of one core").arg(targetPercent), figure.percent < targetPercent);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString executable = Bench::textOption(arguments, QStringLiteral("--program"),
                                                 QCoreApplication::applicationDirPath() + QStringLiteral("/dosedesk"));
    const int seconds = Bench::intOption(arguments, QStringLiteral("--seconds"), 60);
    const int starts = Bench::intOption(arguments, QStringLiteral("--starts"), 5);
    const int turnaroundMs = Bench::intOption(arguments, QStringLiteral("--turnaround"), 5);

    if (!QFileInfo(executable).isExecutable()) {
        std::fprintf(stderr, "bench_program: no program at %s\n", qPrintable(executable));
        return 1;
    }
    QTemporaryDir stateDir;
    PumpLine line(turnaroundMs);
    QString error;
    if (!stateDir.isValid() || !line.start(false, &error)) {
        std::fprintf(stderr, "bench_program: %s\n", qPrintable(error));
        return 1;
    }
    const QString port = line.pump().devicePath();
    Bench::printDetail(QStringLiteral("program: %1 on %2, pump paced at 9600 baud, turnaround %3 ms, offscreen")
                           .arg(executable, port).arg(turnaroundMs));

    // Start-up: each run from process start to the first communication check at the pump.
    std::vector<double> startupMs;
    for (int i = 0; i < starts; ++i) {
        line.takeArrivals();
        Program program(executable, stateDir.path());
        const qint64 beginUs = Bench::nowUs();
        if (!program.start(port))
            break;
        if (const std::optional<qint64> at = waitForFrame(line, QStringLiteral("?SI<ETX>"), FirstFrameLimitMs))
            startupMs.push_back(double(*at - beginUs) / 1000.0);
    }
    const Bench::Summary startup = Bench::summarise(startupMs);
    Bench::printRow(QStringLiteral("Start-up: process start to the first \"?SI\" frame at the pump"),
                    QStringLiteral("median %1, worst %2 (%3 of %4 starts reached the pump)")
                        .arg(Bench::ms(startup.median, 0), Bench::ms(startup.worst, 0))
                        .arg(startup.count).arg(starts),
                    QStringLiteral("< 1500 ms"),
                    startup.count == starts && startup.worst < StartupTargetMs);

    // Connected and polling.
    {
        line.takeArrivals();
        Program program(executable, stateDir.path());
        const bool reached = program.start(port)
            && waitForFrame(line, QStringLiteral("?SI<ETX>"), FirstFrameLimitMs).has_value();
        QThread::msleep(ConnectedSettleMs);
        CpuFigure figure;
        if (reached)
            figure = measureCpu(program, line, seconds);
        reportCpu(QStringLiteral("CPU, connected and polling"), figure, ConnectedCpuTargetPercent, seconds);
    }

    // No port: the program keeps probing a device that is not there.
    {
        Program program(executable, stateDir.path());
        CpuFigure figure;
        if (program.start(QStringLiteral("/dev/does-not-exist"))) {
            QThread::msleep(NoPortSettleMs);
            figure = measureCpu(program, line, seconds);
        }
        reportCpu(QStringLiteral("CPU, no port open"), figure, NoPortCpuTargetPercent, seconds);
    }
    return 0;
}
