// Long run of the panel against the simulated pump, polling on and every cyclic frame logged:
// samples resident memory, open descriptors, threads, timers and the traffic panes, and fails
// when memory grows by 2 MB or more after the warm-up, descriptors, threads or timers grow,
// or a pane holds more than its 500 lines. Usage: dd_soak <minutes> (fractions allowed).
#include "windowrig.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>

namespace {

constexpr qint64 RssGrowthLimitKb = 2048;
constexpr int PaneLineLimit = 500;

// How long the GUI thread's event loop was kept from running: a short timer notes the largest
// gap between two of its ticks (a figure for the report, not a limit).
class StallProbe : public QObject
{
public:
    StallProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] {
            longest = std::max(longest, clock.restart() - TickMs);
        });
        reset();
        timer.start(TickMs);
    }
    void reset()
    {
        clock.start();
        longest = 0;
    }
    qint64 longestStallMs() const { return longest; }

private:
    static constexpr int TickMs = 2;
    QTimer timer;
    QElapsedTimer clock;
    qint64 longest = 0;
};

qint64 statusField(const char* name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(qstrlen(name)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

// Timers registered by the objects of the panel and everything they own.
int registeredTimers(const QList<QObject*>& roots)
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    int count = 0;
    for (QObject* root : roots) {
        QList<QObject*> objects = root->findChildren<QObject*>();
        objects.prepend(root);
        for (QObject* object : std::as_const(objects))
            count += int(dispatcher->registeredTimers(object).size());
    }
    return count;
}

struct Sample
{
    double minutes = 0;
    qint64 rssKb = 0;
    qint64 fds = 0;
    qint64 threads = 0;
    int timers = 0;
    int txLines = 0;
    int rxLines = 0;
    int frames = 0;
    qint64 stallMs = 0;
    QString connection;
};

void print(const Sample& s)
{
    std::printf("%8.2f min  rss %7lld kB  fds %3lld  threads %2lld  timers %3d  tx %3d  rx %3d  "
                "frames %8d  stall %4lld ms  %s\n",
                s.minutes, s.rssKb, s.fds, s.threads, s.timers, s.txLines, s.rxLines, s.frames,
                s.stallMs, qPrintable(s.connection));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const double minutes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 10.0;
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: dd_soak <minutes>\n");
        return 2;
    }
    const qint64 totalMs = qint64(minutes * 60000);
    const qint64 warmUpMs = std::min<qint64>(120000, totalMs / 5);
    const qint64 sampleMs = totalMs <= 600000 ? 10000 : 30000;

    WindowRig::Options options = WindowRig::onRealLine();
    options.logCyclicFrames = true;
    WindowRig rig(options);
    StallProbe stalls;
    if (!rig.pump.isRunning()) {
        std::fprintf(stderr, "the simulated pump did not start: %s\n", qPrintable(rig.pump.errorString()));
        return 2;
    }
    const QList<QObject*> roots = {rig.window.get(), &rig.stack, &rig.refresher, &rig.communication};

    QElapsedTimer clock;
    clock.start();
    QList<Sample> samples;
    int peakTx = 0;
    int peakRx = 0;
    qint64 peakStall = 0;
    int disconnectedSamples = 0;
    int nextCycles = 2;
    int framesTotal = 0;
    std::printf("soak: %.2f min, warm-up %.2f min, a sample every %lld s\n", minutes,
                warmUpMs / 60000.0, sampleMs / 1000);
    while (clock.elapsed() < totalMs) {
        rig.runFor(int(std::min(sampleMs, totalMs - clock.elapsed())), [&] {
            peakTx = std::max(peakTx, rig.ui().textEditTxData->document()->blockCount());
            peakRx = std::max(peakRx, rig.ui().textEditRxData->document()->blockCount());
        });
        // A user command now and then, so that the logged traffic is not only polling.
        rig.typeCycles(nextCycles);
        nextCycles = nextCycles % 900 + 2;
        Sample s;
        s.minutes = clock.elapsed() / 60000.0;
        s.rssKb = statusField("VmRSS:");
        s.fds = openDescriptors();
        s.threads = statusField("Threads:");
        s.timers = registeredTimers(roots);
        s.txLines = rig.ui().textEditTxData->document()->blockCount();
        s.rxLines = rig.ui().textEditRxData->document()->blockCount();
        // The pump's frame log and the rig's record of runs belong to the harness, not to the
        // panel: emptied at every sample so that they do not count as the panel's memory.
        framesTotal += rig.pump.frameCount();
        rig.pump.clearLog();
        rig.stack.forgetRuns();
        s.frames = framesTotal;
        s.stallMs = stalls.longestStallMs();
        s.connection = rig.connectionText();
        peakStall = std::max(peakStall, s.stallMs);
        stalls.reset();
        disconnectedSamples += s.connection != WindowRig::ConnectedText;
        samples.append(s);
        print(s);
    }

    // The reference is the last sample of the warm-up; everything later is compared with it.
    const Sample* reference = nullptr;
    for (const Sample& s : samples) {
        if (s.minutes * 60000 <= warmUpMs + 1)
            reference = &s;
    }
    if (!reference)
        reference = &samples.first();
    qint64 peakRss = reference->rssKb;
    bool flat = true;
    for (const Sample& s : samples) {
        if (s.minutes < reference->minutes)
            continue;
        peakRss = std::max(peakRss, s.rssKb);
        // Growth is what a leak looks like; a helper of the start-up (a lookup thread, a watcher's
        // first scan) that ends late in the warm-up only lowers the counts.
        flat = flat && s.fds <= reference->fds && s.threads <= reference->threads
            && s.timers <= reference->timers;
    }
    const qint64 growthKb = peakRss - reference->rssKb;
    const bool panesBounded = peakTx <= PaneLineLimit && peakRx <= PaneLineLimit;
    const bool pass = growthKb < RssGrowthLimitKb && flat && panesBounded && disconnectedSamples == 0;
    std::printf("SOAK %s: %.2f min, %d frames; rss %lld kB after warm-up, peak %lld kB (growth %lld kB,"
                " limit %lld); fds %lld, threads %lld, timers %d (%s); panes peak tx %d rx %d"
                " (limit %d); longest stall %lld ms; samples not connected %d\n",
                pass ? "PASS" : "FAIL", minutes, samples.last().frames, reference->rssKb, peakRss,
                growthKb, RssGrowthLimitKb, reference->fds, reference->threads, reference->timers,
                flat ? "flat" : "GREW", peakTx, peakRx, PaneLineLimit, peakStall,
                disconnectedSamples);
    return pass ? 0 : 1;
}
