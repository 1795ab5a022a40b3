// What reaching the pump over the network adds to an exchange: the same commands against the
// simulated pump (paced at 9600 baud) on its pseudo-terminal directly, and through a real ser2net
// on loopback TCP bridging that pseudo-terminal, as a raw stream and as telnet with COM port
// control.
//
// bench_network [--turnaround MS] [--count N] [--ser2net PATH] [--chardelay]
//
// --chardelay leaves ser2net's default wait for a pause in the answer on.

#include "benchtools.h"
#include "pumpline.h"

#include "commandtable.h"
#include "platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

constexpr double ExtraMedianTargetMs = 1.0;
constexpr quint32 GapMs = 3; // quiet line between two exchanges, about one command-stack tick
constexpr int ConnectLimitMs = 5000;
constexpr int Rounds = 5;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// Exchange times in ms of a reading and a writing command in turn; exchanges not answered are
// counted as failures instead (all of them when the link does not open).
std::vector<double> exchanges(PumpLine& line, const QString& port, int count, int& failures)
{
    Communication& link = line.link();
    link.setCommPortPath(port);
    QElapsedTimer waited;
    waited.start();
    while (!link.isOpen() && waited.elapsed() < ConnectLimitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const std::vector<BusinessLogic::Command*> commands{
        line.command(BusinessLogic::CommandTable::getVolume.spezifier),
        line.command(BusinessLogic::CommandTable::stop.spezifier)};
    std::vector<double> samples;
    if (!link.isOpen())
        failures += count;
    for (int i = 0; link.isOpen() && i < count + 10; ++i) {
        const qint64 startUs = Bench::nowUs();
        commands[i % 2]->execute();
        const qint64 endUs = Bench::nowUs();
        const bool answered = !link.noAnswer && link.answerRecognised;
        if (i >= 10 && !answered) // the first ones warm up caches and the server
            ++failures;
        else if (i >= 10)
            samples.push_back(double(endUs - startUs) / 1000.0);
        QCoreApplication::processEvents();
        Platform::sleepMs(GapMs);
    }
    link.setCommPortPath(QString()); // lets the server give the device back
    return samples;
}

QString figure(const Bench::Summary& summary)
{
    return QStringLiteral("median %1, p95 %2 (n=%3)")
        .arg(Bench::ms(summary.median), Bench::ms(summary.p95))
        .arg(summary.count);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int count = Bench::intOption(arguments, QStringLiteral("--count"), 300);
    PumpLine line(Bench::intOption(arguments, QStringLiteral("--turnaround"), 5));
    QString error;
    if (!line.start(false, &error)) {
        std::fprintf(stderr, "bench_network: %s\n", qPrintable(error));
        return 1;
    }

    QTemporaryDir dir;
    const quint16 rawPort = freePort();
    const quint16 telnetPort = freePort();
    QFile config(dir.filePath(QStringLiteral("ser2net.yaml")));
    config.open(QIODevice::WriteOnly);
    const QString connector =
        QStringLiteral("serialdev,%1,9600n81,local").arg(line.pump().devicePath());
    // Without chardelay ser2net hands each answer on as it comes instead of waiting for a pause
    // of two character times (at least 1 ms) after it; the help page says so too.
    const QString options = arguments.contains(QStringLiteral("--chardelay"))
                                ? QString()
                                : QStringLiteral("  options:\n    chardelay: false\n");
    config.write(QStringLiteral("connection: &raw\n"
                                "  accepter: tcp(nodelay),127.0.0.1,%1\n"
                                "  connector: %3\n%4"
                                "connection: &telnet\n"
                                "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,%2\n"
                                "  connector: %3\n%4")
                     .arg(rawPort)
                     .arg(telnetPort)
                     .arg(connector, options)
                     .toUtf8());
    config.close();
    QProcess server;
    server.start(Bench::textOption(arguments, QStringLiteral("--ser2net"),
                                   QStringLiteral("/usr/sbin/ser2net")),
                 {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                  dir.filePath(QStringLiteral("pid")), QStringLiteral("-c"), config.fileName()});
    if (!server.waitForStarted()) {
        std::fprintf(stderr, "bench_network: ser2net did not start\n");
        return 1;
    }
    Platform::sleepMs(500); // listening

    // The three ways take turns in rounds, so that a change in the machine's load meets all.
    const QStringList ports{line.pump().devicePath(),
                            QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort),
                            QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort)};
    std::vector<std::vector<double>> samples(ports.size());
    std::vector<int> failures(ports.size(), 0);
    for (int round = 0; round < Rounds; ++round) {
        for (qsizetype way = 0; way < ports.size(); ++way) {
            const std::vector<double> taken =
                exchanges(line, ports[way], count / Rounds, failures[way]);
            samples[way].insert(samples[way].end(), taken.begin(), taken.end());
        }
    }
    const Bench::Summary direct = Bench::summarise(samples[0]);
    const Bench::Summary raw = Bench::summarise(samples[1]);
    const Bench::Summary telnet = Bench::summarise(samples[2]);
    server.kill();
    server.waitForFinished();

    Bench::printInfoRow(QStringLiteral("Exchange, pseudo-terminal directly"), figure(direct));
    for (qsizetype way = 0; way < ports.size(); ++way) {
        if (failures[way] > 0)
            Bench::printDetail(QStringLiteral("%1: %2 exchanges not answered")
                                   .arg(ports[way])
                                   .arg(failures[way]));
    }
    const QString target = QStringLiteral("median <= 1 ms extra");
    for (const auto& [name, summary] :
         {std::pair{"raw TCP", raw}, std::pair{"telnet/RFC 2217", telnet}}) {
        const bool measured = summary.count > 0 && direct.count > 0;
        const double extra = summary.median - direct.median;
        const QString result =
            measured ? QStringLiteral("%1 extra; %2").arg(Bench::ms(extra), figure(summary))
                     : QStringLiteral("not measured (no answer)");
        Bench::printRow(QStringLiteral("Exchange through ser2net, %1 (extra over direct)")
                            .arg(QLatin1String(name)),
                        result, target, measured && extra <= ExtraMedianTargetMs);
    }
    return 0;
}
