// The broker bridge of the program without a window, against the paced simulated pump and a
// mosquitto on 127.0.0.1: how long a stop published on the broker takes to reach the pump, how
// often the state is published while the pump runs, and whether the polling keeps its pace
// while a flood of refused commands comes in.
//
// bench_mqtt [--program PATH] [--stops N] [--flood N] [--seconds S]

#include "benchtools.h"
#include "mqttclient.h"
#include "pumpline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

constexpr double StopTargetMs = 100.0;
constexpr double StateGapTargetMs = 1000.0;
constexpr int TurnaroundMs = 5;
constexpr int WaitLimitMs = 20000;
const QString Node = QStringLiteral("bench");

// Runs the event loop until done() says so or the limit passes; false then.
bool waitFor(const std::function<bool()>& done, int limitMs = WaitLimitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

void pause(int ms)
{
    waitFor([] { return false; }, ms);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QString topic(const char* leaf)
{
    return QStringLiteral("dosedesk/%1/0/%2").arg(Node, QLatin1String(leaf));
}

// Readings of the delivered volume that reached the pump in the window of time.
int volumeReadings(const std::vector<PumpLine::Arrival>& arrivals, qint64 fromUs, qint64 toUs)
{
    int count = 0;
    for (const PumpLine::Arrival& arrival : arrivals)
        count += arrival.us >= fromUs && arrival.us < toUs
                 && arrival.line.contains(QLatin1String("?TV"));
    return count;
}

struct BridgeBench
{
    PumpLine line{TurnaroundMs};
    QProcess broker;
    QProcess program;
    std::unique_ptr<Control::MqttClient> client;
    std::vector<PumpLine::Arrival> arrivals;
    std::vector<qint64> stateUs;
    int results = 0;

    void take()
    {
        for (auto& arrival : line.takeArrivals())
            arrivals.push_back(std::move(arrival));
    }
    // When the frame first reached the pump since then; -1: not yet.
    qint64 sent(const QString& body, qint64 sinceUs)
    {
        take();
        for (const PumpLine::Arrival& arrival : arrivals) {
            if (arrival.us >= sinceUs && arrival.line.contains(body))
                return arrival.us;
        }
        return -1;
    }
    void command(const QByteArray& json) { client->publish(topic("cmd"), json, false); }
};

bool start(BridgeBench& bench, const QTemporaryDir& home, const QString& program, QString* error)
{
    const quint16 port = freePort();
    QFile configuration(home.filePath(QStringLiteral("mosquitto.conf")));
    configuration.open(QIODevice::WriteOnly);
    configuration.write(
        QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port).toUtf8());
    configuration.close();
    bench.broker.start(QStringLiteral("mosquitto"),
                       {QStringLiteral("-c"), configuration.fileName()});
    if (!bench.line.start(false, error))
        return false;
    if (!bench.broker.waitForStarted()) {
        *error = QStringLiteral("mosquitto did not start");
        return false;
    }
    pause(300); // the broker opens its listener
    bench.program.start(program,
                        {QStringLiteral("--headless"), QStringLiteral("--port"),
                         bench.line.pump().devicePath(), QStringLiteral("--mqtt"),
                         QStringLiteral("mqtt://127.0.0.1:%1").arg(port),
                         QStringLiteral("--mqtt-node"), Node, QStringLiteral("--mqtt-commands")});
    Control::MqttClient::Options options;
    options.broker = Control::BrokerAddress::parse(QStringLiteral("mqtt://127.0.0.1:%1").arg(port));
    options.clientId = QStringLiteral("bench");
    bench.client = std::make_unique<Control::MqttClient>(options);
    QObject::connect(bench.client.get(), &Control::MqttClient::connected, [&bench] {
        bench.client->subscribe(topic("state"));
        bench.client->subscribe(topic("result"));
    });
    QObject::connect(bench.client.get(), &Control::MqttClient::messageReceived,
                     [&bench](const Control::MqttMessage& message) {
                         if (message.topic.endsWith(QLatin1String("/state")))
                             bench.stateUs.push_back(Bench::nowUs());
                         else
                             ++bench.results;
                     });
    bench.client->start();
    if (!waitFor([&bench] {
            return bench.client->isConnected() && bench.sent(QStringLiteral("?TV"), 0) >= 0;
        })) {
        *error = QStringLiteral("the bridge or the polling did not start");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString program = Bench::textOption(
        arguments, QStringLiteral("--program"),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dosedesk")));
    const int stops = Bench::intOption(arguments, QStringLiteral("--stops"), 30);
    const int flood = Bench::intOption(arguments, QStringLiteral("--flood"), 1000);
    const int seconds = Bench::intOption(arguments, QStringLiteral("--seconds"), 10);

    QTemporaryDir home;
    Bench::prepareWindow(home);
    BridgeBench bench;
    QString error;
    if (!start(bench, home, program, &error)) {
        std::fprintf(stderr, "bench_mqtt: %s\n", qPrintable(error));
        return 1;
    }

    // A stop published on the broker, to its frame at the pump (the pump runs meanwhile).
    std::vector<double> stopMs;
    for (int i = 0; i < stops; ++i) {
        bench.command(R"({"verb":"start"})");
        waitFor([&] { return bench.results > 2 * i; });
        pause(100);
        const qint64 sentUs = Bench::nowUs();
        bench.command(R"({"verb":"stop"})");
        qint64 arrivedUs = -1;
        if (waitFor([&] { return (arrivedUs = bench.sent(QStringLiteral("KY0"), sentUs)) >= 0; }))
            stopMs.push_back(double(arrivedUs - sentUs) / 1000.0);
        waitFor([&] { return bench.results > 2 * i + 1; });
    }

    // The state while the pump runs: how far apart its publications are.
    bench.command(R"({"verb":"start"})");
    pause(700);
    bench.stateUs.clear();
    pause(seconds * 1000);
    std::vector<double> gaps;
    for (std::size_t i = 1; i < bench.stateUs.size(); ++i)
        gaps.push_back(double(bench.stateUs[i] - bench.stateUs[i - 1]) / 1000.0);

    // The polling's pace before and during a flood of refused commands.
    bench.take();
    const qint64 floodUs = Bench::nowUs();
    const int resultsBefore = bench.results;
    for (int i = 0; i < flood; ++i)
        bench.command(R"({"verb":"set-flow","value":-1})");
    QElapsedTimer answered;
    answered.start();
    const bool allAnswered = waitFor([&] { return bench.results - resultsBefore >= flood; }, 60000);
    const double answeredMs = double(answered.elapsed());
    pause(3000);
    bench.take();
    const qint64 windowUs = 3'000'000;
    const int before = volumeReadings(bench.arrivals, floodUs - windowUs, floodUs);
    const int during = volumeReadings(bench.arrivals, floodUs, floodUs + windowUs);
    bench.command(R"({"verb":"stop"})");
    pause(500);

    const Bench::Summary stop = Bench::summarise(stopMs);
    Bench::printRow(
        QStringLiteral("MQTT stop to KY0 at the pump, median / worst (%1)").arg(stop.count),
        QStringLiteral("%1 / %2").arg(Bench::ms(stop.median, 1), Bench::ms(stop.worst, 1)),
        QStringLiteral("< %1 ms").arg(StopTargetMs),
        stop.count == stops && stop.worst < StopTargetMs);
    const Bench::Summary gap = Bench::summarise(gaps);
    Bench::printRow(
        QStringLiteral("state published while running, gap median / worst (%1)").arg(gap.count),
        QStringLiteral("%1 / %2").arg(Bench::ms(gap.median, 0), Bench::ms(gap.worst, 0)),
        QStringLiteral("<= %1 ms").arg(StateGapTargetMs),
        gap.count > 0 && gap.worst <= StateGapTargetMs);
    Bench::printInfoRow(QStringLiteral("%1 refused commands answered").arg(flood),
                        allAnswered ? QStringLiteral("in %1").arg(Bench::ms(answeredMs, 0))
                                    : QStringLiteral("not all"));
    Bench::printInfoRow(QStringLiteral("?TV readings in 3 s before / during the flood"),
                        QStringLiteral("%1 / %2").arg(before).arg(during));

    bench.program.terminate();
    bench.program.waitForFinished();
    bench.client.reset();
    bench.broker.terminate();
    bench.broker.waitForFinished();
    return 0;
}
