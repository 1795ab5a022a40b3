// Exchange time of single commands against the time the line itself needs, per kind of command:
// a writing command answered by ACK, a reading command answered by a frame, and a silent pump.
//
// bench_exchange [--turnaround MS] [--count N] [--silent-count N] [--busy N]
//
// --busy N keeps N threads spinning meanwhile: the exchange on a machine whose processors are
// all taken by other work.

#include "benchtools.h"
#include "pumpline.h"

#include "platform.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

namespace {

// The link gives up on a silent pump after this long.
constexpr double SilentTimeoutMs = 120.0;
constexpr double MedianTargetMs = 2.0;
constexpr double P95TargetMs = 4.0;
// Quiet line between two exchanges, about one command-stack tick.
constexpr quint32 GapMs = 3;
constexpr int PumpTakesFrameLimitMs = 1000;

struct Use
{
    BusinessLogic::CommandSpezifier spezifier;
    qint32 parameter;
};

struct Kind
{
    const char* name;
    std::vector<Use> uses; // taken in turn
    bool silent;
};

struct Samples
{
    std::vector<double> overheadMs;
    std::vector<double> exchangeMs;
    std::vector<double> lineMs;     // what the simulated line needs: answer bytes and turnaround
    std::vector<double> realLineMs; // both directions on a real line, and the turnaround
    std::vector<double> deliveryMs; // first byte written to the frame being taken by the pump
    int failures = 0;
    std::map<QString, int> failureKinds; // what went wrong, for the details
};

// Why an exchange did not end as the kind expects; empty when it did.
QString failureKind(const Communication& link, qsizetype framesTaken, bool silent)
{
    if (framesTaken != 1)
        return QStringLiteral("pump took %1 frames").arg(framesTaken);
    if (silent)
        return link.noAnswer ? QString() : QStringLiteral("answer from a silent pump");
    if (link.noAnswer)
        return QStringLiteral("nothing recognisable received");
    if (link.nakReceived)
        return QStringLiteral("NAK");
    if (!link.answerRecognised)
        return QStringLiteral("wrong or missing check byte");
    return {};
}

// One exchange. Its line time is the moment the pump hands the last awaited answer byte to the
// line: the turnaround, then one byte time per byte before it (the simulated line hands each
// byte over at the start of its 1.04 ms slot). A check byte 0 is never waited for: the link
// restores it.
void measure(PumpLine& line, const Use& use, bool silent, Samples& samples)
{
    BusinessLogic::Command* command = line.command(use.spezifier);
    Communication& link = line.link();
    line.pump().clearLog();
    line.takeArrivals();
    command->setParameter(use.parameter);

    const qint64 startUs = Bench::nowUs();
    command->execute();
    const qint64 endUs = Bench::nowUs();
    // A silent pump's thread may take the frame only after the link gave up (when the processors
    // are busy); the next exchange must not begin before it has.
    line.pump().waitForFrames(1, PumpTakesFrameLimitMs);

    const QList<Simulator::ExchangeRecord> records = line.pump().exchanges();
    const QByteArray answer = records.isEmpty() ? QByteArray() : records.first().answer;
    const std::vector<PumpLine::Arrival> arrivals = line.takeArrivals();

    const double exchangeMs = double(endUs - startUs) / 1000.0;
    double lineMs = SilentTimeoutMs;
    double realLineMs = SilentTimeoutMs;
    const QString failure = failureKind(link, records.size(), silent);
    if (!failure.isEmpty()) {
        ++samples.failures;
        ++samples.failureKinds[failure];
    }
    if (!silent) {
        const qsizetype awaited = answer.size() - (answer.size() > 1 && answer.endsWith('\0') ? 1 : 0);
        lineMs = line.turnaroundMs()
            + double(std::max<qsizetype>(0, awaited - 1)) * Simulator::PtyPump::byteTimeUs / 1000.0;
        realLineMs = line.turnaroundMs()
            + PumpLine::wireUs(qsizetype(link.lastSentLength) + answer.size()) / 1000.0;
    }
    samples.exchangeMs.push_back(exchangeMs);
    samples.lineMs.push_back(lineMs);
    samples.realLineMs.push_back(realLineMs);
    samples.overheadMs.push_back(exchangeMs - lineMs);
    if (!arrivals.empty())
        samples.deliveryMs.push_back(double(arrivals.front().us - startUs) / 1000.0);
    Platform::sleepMs(GapMs);
}

void report(const Kind& kind, const QString& condition, const Samples& samples)
{
    const Bench::Summary overhead = Bench::summarise(samples.overheadMs);
    const Bench::Summary exchange = Bench::summarise(samples.exchangeMs);
    const Bench::Summary simulated = Bench::summarise(samples.lineMs);
    const Bench::Summary real = Bench::summarise(samples.realLineMs);
    const Bench::Summary delivery = Bench::summarise(samples.deliveryMs);
    const QString reference = kind.silent ? QStringLiteral("120 ms time-out")
                                          : QStringLiteral("wire + turnaround");
    const QString metric =
        QStringLiteral("Exchange overhead, %1 (over %2%3)").arg(QLatin1String(kind.name), reference, condition);
    const QString figure = QStringLiteral("median %1, p95 %2 (n=%3%4)")
                               .arg(Bench::ms(overhead.median), Bench::ms(overhead.p95))
                               .arg(overhead.count)
                               .arg(samples.failures ? QStringLiteral(", %1 wrong answers").arg(samples.failures)
                                                     : QString());
    // The targets hold for a machine with processor time to spare; under busy threads the
    // figures show how the link copes, for information.
    if (condition.isEmpty()) {
        Bench::printRow(metric, figure, QStringLiteral("median <= 2 ms, p95 <= 4 ms"),
                        overhead.median <= MedianTargetMs && overhead.p95 <= P95TargetMs
                            && samples.failures == 0);
    } else {
        Bench::printInfoRow(metric, figure);
    }
    Bench::printDetail(QStringLiteral("%1: exchange median %2 (worst %3); simulated line %4; "
                                      "real line both ways + turnaround %5; overhead worst %6; "
                                      "frame taken by the pump after %7 (median)")
                           .arg(QLatin1String(kind.name), Bench::ms(exchange.median),
                                Bench::ms(exchange.worst), Bench::ms(simulated.median),
                                Bench::ms(real.median), Bench::ms(overhead.worst),
                                Bench::ms(delivery.median, 3)));
    for (const auto& [failure, count] : samples.failureKinds)
        Bench::printDetail(QStringLiteral("%1: %2 x %3").arg(QLatin1String(kind.name)).arg(count).arg(failure));
}

// Threads that keep a processor busy each until the object goes.
class BusyThreads
{
public:
    explicit BusyThreads(int count)
    {
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this] {
                volatile quint64 spins = 0;
                while (!stopping.load(std::memory_order_relaxed))
                    spins = spins + 1;
            });
        }
    }
    ~BusyThreads()
    {
        stopping = true;
        for (std::thread& thread : threads)
            thread.join();
    }

private:
    std::atomic<bool> stopping{false};
    std::vector<std::thread> threads;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int turnaroundMs = Bench::intOption(arguments, QStringLiteral("--turnaround"), 5);
    const int count = Bench::intOption(arguments, QStringLiteral("--count"), 300);
    const int silentCount = Bench::intOption(arguments, QStringLiteral("--silent-count"), 30);
    const int busy = Bench::intOption(arguments, QStringLiteral("--busy"), 0);

    PumpLine line(turnaroundMs);
    QString error;
    if (!line.start(true, &error)) {
        std::fprintf(stderr, "bench_exchange: %s\n", qPrintable(error));
        return 1;
    }

    const std::vector<Kind> kinds{
        {"writing command, ACK", {{10, 12345}, {11, 20000}, {40, 50}, {17, 30}}, false},
        {"reading command, answer frame", {{2, 0}, {3, 0}, {8, 1}, {9, 0}, {12, 0}, {45, 0}}, false},
        {"writing command, silent pump", {{10, 12345}}, true},
        {"reading command, silent pump", {{2, 0}}, true},
    };
    const BusyThreads busyThreads(busy);
    const QString condition = busy > 0 ? QStringLiteral(", %1 busy threads").arg(busy) : QString();
    Bench::printDetail(QStringLiteral("exchange%1: pump paced at 9600 baud, turnaround %2 ms")
                           .arg(condition).arg(turnaroundMs));
    for (const Kind& kind : kinds) {
        line.pump().modifyFaults([&kind](Simulator::Faults& faults) { faults.silent = kind.silent; });
        // A few unmeasured exchanges first, so that no first-use cost lands in the figures.
        Samples warmUp;
        for (const Use& use : kind.uses)
            measure(line, use, kind.silent, warmUp);
        Samples samples;
        const int n = kind.silent ? silentCount : count;
        for (int i = 0; i < n; ++i)
            measure(line, kind.uses.at(std::size_t(i) % kind.uses.size()), kind.silent, samples);
        report(kind, condition, samples);
    }
    return 0;
}
