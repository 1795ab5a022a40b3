// dosedeskctl: the pump's verbs for scripts, straight over a serial line or through a running
// panel.

#include "allcommands.h"
#include "communication.h"
#include "console.h"
#include "constants.h"
#include "controlserver.h"
#include "ownline.h"
#include "panelsession.h"
#include "protocol.h"
#include "ptypump.h"
#include "pumpsession.h"
#include "request.h"
#include "tcptransport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <unistd.h>
#endif

namespace {

using Control::ExitStatus;

// Copies of the panel looked for when no --panel is given.
constexpr int MostPanelCopies = 16;
constexpr int ConnectTimeoutMs = 2000;
constexpr int LargestAddress = 99;
// How often a wait for the panel's answer looks for Ctrl-C.
constexpr int SignalCheckMs = 100;
// A dry run's clock runs at most this many times as fast: an hour in a second.
constexpr double MostDrySpeed = 3600;

// Runs one request and gives its result object.
using Runner = std::function<QJsonObject(const QJsonObject& request)>;
// What the program does with the pump once it reaches it: the verbs, or a protocol's steps.
using Script = std::function<int(const Runner& runner)>;

// Stops the pump the script set going, and checks that its motor stands.
void stopStarted(const Runner& runner)
{
    QJsonObject result = runner(Control::stopRequest());
    if (result.value(QStringLiteral("ok")).toBool())
        result = runner(Control::standingRequest());
    if (result.value(QStringLiteral("ok")).toBool())
        print(stderr, QStringLiteral("dosedeskctl: stopped the pump the script had started\n"));
    else
        print(stderr, QStringLiteral("dosedeskctl: the pump the script started may still run: "
                                     "%1\n")
                          .arg(result.value(QStringLiteral("error")).toString()));
}

// Runs the verbs in order, printing each result, until the first failure; after a failure a
// pump the script started is stopped.
int runAll(const std::vector<QJsonObject>& requests, const Runner& runner, bool json)
{
    bool started = false;
    for (const QJsonObject& request : requests) {
        const QString verb = Control::verbOf(request);
        started = (started || Control::startsPump(request)) && verb != QLatin1String("stop");
        const QJsonObject result = runner(request);
        if (json)
            print(stdout,
                  QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)) + u'\n');
        else
            print(stdout, Control::describe(result));
        if (!result.value(QStringLiteral("ok")).toBool()) {
            print(stderr, QStringLiteral("dosedeskctl: %1: %2\n")
                              .arg(verb, result.value(QStringLiteral("error")).toString()));
            if (started)
                stopStarted(runner);
            return result.value(QStringLiteral("exit")).toInt(Control::PumpFailure);
        }
    }
    return Control::Success;
}

// Asks the person at the terminal; false when nobody is to be asked or nobody answered.
bool askPerson(const QString& question, bool mayAsk, QString* why)
{
    if (!mayAsk) {
        *why = QStringLiteral("it asks a person, and --no-input was given");
        return false;
    }
    print(stderr, QStringLiteral("%1 [Enter to continue, Ctrl-C to stop] ").arg(question));
    char line[256];
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
        *why = QStringLiteral("no answer (the input ended)");
        return false;
    }
    return true;
}

// Writes a line into the run record the runner's pump is followed by (the panel's, or the
// tool's own); a record that does not take it is said once.
void recordStep(const Runner& runner, const QString& text, bool* told)
{
    const QJsonObject result = runner({{QStringLiteral("verb"), QStringLiteral("note")},
                                       {QStringLiteral("value"), Control::recordLine(text)}});
    if (!result.value(QStringLiteral("ok")).toBool() && !std::exchange(*told, true))
        print(stderr, QStringLiteral("dosedeskctl: the steps are not in the run record: %1\n")
                          .arg(result.value(QStringLiteral("error")).toString()));
}

// Runs one of a step's requests: a note and a question are the runner's own, the rest goes to
// the protocol's pump.
QJsonObject runStepRequest(const Control::Protocol& protocol, const QJsonObject& request,
                           const Runner& runner, bool json, bool mayAsk, double speed)
{
    const QString verb = Control::verbOf(request);
    const QString text = request.value(QStringLiteral("value")).toString();
    QString why;
    if (verb == QLatin1String("note")) {
        print(json ? stderr : stdout, QStringLiteral("note: %1\n").arg(text));
        return runner(
            {{QStringLiteral("verb"), verb}, {QStringLiteral("value"), Control::recordLine(text)}});
    }
    if (verb == QLatin1String("ask"))
        return askPerson(text, mayAsk, &why)
                   ? QJsonObject{{QStringLiteral("verb"), verb}, {QStringLiteral("ok"), true}}
                   : QJsonObject{{QStringLiteral("verb"), verb},
                                 {QStringLiteral("ok"), false},
                                 {QStringLiteral("error"), why}};
    QJsonObject forPump = Control::fasterBy(request, speed);
    forPump.insert(QStringLiteral("pump"), protocol.pump.value_or(0));
    return runner(forPump);
}

// Runs a checked protocol step by step, each step's beginning and end in the run record; the
// first step that fails ends it, names the step and stops a pump the protocol started.
int runProtocol(const Control::Protocol& protocol, const Runner& runner, bool json, bool mayAsk,
                double speed = 1.0)
{
    bool started = false;
    bool told = false;
    recordStep(runner,
               QStringLiteral("protocol \"%1\" begins: %2 steps")
                   .arg(protocol.name)
                   .arg(protocol.steps.size()),
               &told);
    for (int index = 0; index < int(protocol.steps.size()); ++index) {
        const QString where = Control::stepPlace(protocol, index);
        if (!json)
            print(stdout, where + u'\n');
        recordStep(runner, where + QStringLiteral(" begins"), &told);
        for (const QJsonObject& request : protocol.steps[size_t(index)].requests) {
            const QString verb = Control::verbOf(request);
            QJsonObject result = runStepRequest(protocol, request, runner, json, mayAsk, speed);
            // A verb refused before anything was sent started nothing.
            const bool sent = result.value(QStringLiteral("exit")).toInt() != Control::UsageError;
            started = (started || (Control::startsPump(request) && sent))
                      && verb != QLatin1String("stop");
            result.insert(QStringLiteral("step"), index + 1);
            if (json)
                print(stdout,
                      QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact))
                          + u'\n');
            if (result.value(QStringLiteral("ok")).toBool())
                continue;
            const QString error = result.value(QStringLiteral("error")).toString();
            print(stderr, QStringLiteral("dosedeskctl: %1: %2: %3\n").arg(where, verb, error));
            recordStep(runner, QStringLiteral("%1 failed: %2: %3").arg(where, verb, error), &told);
            if (started)
                stopStarted(runner);
            return std::max(int(Control::PumpFailure),
                            result.value(QStringLiteral("exit")).toInt(Control::PumpFailure));
        }
        recordStep(runner, where + QStringLiteral(" done"), &told);
    }
    const QString done = QStringLiteral("protocol \"%1\" done: %2 steps")
                             .arg(protocol.name)
                             .arg(protocol.steps.size());
    recordStep(runner, done, &told);
    if (!json)
        print(stdout, done + u'\n');
    return Control::Success;
}

// Ctrl-C and SIGTERM: the first one ends the running verb (the pump is stopped then), a second
// one ends the program at once.
volatile std::sig_atomic_t caughtSignal = 0;
volatile std::sig_atomic_t pendingSignal = 0;
#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    if (caughtSignal != 0)
        _exit(128 + number);
    caughtSignal = number;
    pendingSignal = number;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void catchSignals()
{
    if (::pipe(signalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
#else
void catchSignals() {}
#endif

// The signal that came since the last call, once; 0 for none.
int takeSignal()
{
    const int number = pendingSignal;
    pendingSignal = 0;
    return number;
}

// The result of a verb a signal ended.
QJsonObject interrupted(const QJsonObject& request, int signal)
{
    return {{QStringLiteral("verb"), Control::verbOf(request)},
            {QStringLiteral("ok"), false},
            {QStringLiteral("error"), signal == SIGINT ? QStringLiteral("interrupted (SIGINT)")
                                                       : QStringLiteral("terminated (SIGTERM)")},
            {QStringLiteral("exit"), 128 + signal}};
}

// A network port connects in the background; a device is open at once or not at all.
int runDirect(const Script& script, const QString& port, int address, bool dry = false)
{
    // The same session the panel runs on, without the window: its queue, its search, and a run
    // record of the tool's own.
    Control::OwnLine line(dry ? QStringLiteral("dry-run") : QStringLiteral("dosedeskctl"),
                          dry ? QStringLiteral("dry run: ") : QString());
    QString error;
    if (!line.open(port, address, &error)) {
        print(stderr, QStringLiteral("dosedeskctl: %1\n").arg(error));
        return Control::PumpFailure;
    }
    Control::PumpSession session(&line.link());
    catchSignals();
#ifdef Q_OS_UNIX
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
#endif
    return script(
        [&](const QJsonObject& request) {
            QJsonObject result;
            QEventLoop loop;
            QObject::connect(&session, &Control::PumpSession::finished, &loop,
                             [&](const QJsonObject& r) {
                                 result = r;
                                 loop.quit();
                             });
#ifdef Q_OS_UNIX
            QObject::connect(&signalNotifier, &QSocketNotifier::activated, &loop, [&] {
                char byte = 0;
                [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
                if (const int signal = takeSignal()) {
                    session.abort();
                    result = interrupted(request, signal);
                    loop.quit();
                }
            });
#endif
            session.run(*Control::checkRequest(request).request);
            loop.exec();
            return result;
        });
}

QJsonObject exchangeLine(QLocalSocket& socket, const QJsonObject& request)
{
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    socket.flush();
    // Waits and doses take as long as the pump does; the panel ends them when it goes.
    while (!socket.canReadLine()) {
        if (const int signal = takeSignal())
            return interrupted(request, signal);
        if (socket.state() != QLocalSocket::ConnectedState)
            return {{QStringLiteral("ok"), false},
                    {QStringLiteral("error"), QStringLiteral("the panel closed the connection")},
                    {QStringLiteral("exit"), int(Control::PumpFailure)}};
        // In short steps, so that Ctrl-C is seen while the pump runs.
        socket.waitForReadyRead(SignalCheckMs);
    }
    return QJsonDocument::fromJson(socket.readLine()).object();
}

int runThroughPanel(const Script& script, std::optional<int> copy)
{
    QLocalSocket socket;
    for (int n = copy.value_or(1); n <= copy.value_or(MostPanelCopies); ++n) {
        socket.connectToServer(Control::ControlServer::socketPath(n));
        if (socket.waitForConnected(ConnectTimeoutMs))
            break;
    }
    if (socket.state() != QLocalSocket::ConnectedState) {
        print(stderr, copy ? QStringLiteral("dosedeskctl: panel %1 is not running\n").arg(*copy)
                           : QStringLiteral("dosedeskctl: no running panel found in %1; give "
                                            "--port PATH to use a serial line directly\n")
                                 .arg(Control::ControlServer::socketFolder()));
        return Control::PumpFailure;
    }
    catchSignals();
    const QString server = socket.serverName();
    return script([&](const QJsonObject& request) {
        const QJsonObject result = exchangeLine(socket, request);
        if (result.value(QStringLiteral("exit")).toInt() > Control::UsageError) {
            // Leaving ends the verb the panel runs for this client; the stop goes anew.
            socket.abort();
            socket.connectToServer(server);
            socket.waitForConnected(ConnectTimeoutMs);
        }
        return result;
    });
}

QString description()
{
    return QStringLiteral(
               "Drives a Velor dosing pump from scripts: straight over a serial line (--port), or "
               "through a running DoseDesk panel, whose window then shows and logs every command.\n"
               "Exit status: 0 success, 1 the pump refused or did not answer or a dose fell short, "
               "2 usage error (nothing is sent), 130/143 Ctrl-C/SIGTERM (a pump the script started "
               "is stopped first).\n\n")
           + Control::verbHelp()
           + QStringLiteral("\nExample:\n  dosedeskctl --port /dev/ttyUSB0 set-flow 2.5 start wait "
                            "seconds 30 stop status\n");
}

int usageError(const QString& message, bool json)
{
    print(stderr, QStringLiteral("dosedeskctl: %1\n").arg(message));
    // Every call prints one object with --json, as the socket answers a request it cannot read.
    if (json)
        print(stdout,
              QString::fromUtf8(
                  QJsonDocument(QJsonObject{{QStringLiteral("ok"), false},
                                            {QStringLiteral("error"), message},
                                            {QStringLiteral("exit"), int(Control::UsageError)}})
                      .toJson(QJsonDocument::Compact))
                  + u'\n');
    return Control::UsageError;
}

// The options that come before the verbs.
struct Options
{
    QCommandLineOption port{
        QStringLiteral("port"),
        QStringLiteral("Use the serial device PATH directly instead of a running panel."),
        QStringLiteral("PATH")};
    QCommandLineOption address{
        QStringLiteral("address"),
        QStringLiteral("Pump address 0 to 99 on the serial line (default 0)."), QStringLiteral("N"),
        QStringLiteral("0")};
    QCommandLineOption panel{
        QStringLiteral("panel"),
        QStringLiteral("Use running panel copy N (default: the first one found)."),
        QStringLiteral("N")};
    QCommandLineOption pump{
        QStringLiteral("pump"),
        QStringLiteral("Send to the running panel's pump of this name or address (see: pumps)."),
        QStringLiteral("NAME|ADDRESS")};
    QCommandLineOption json{QStringLiteral("json"),
                            QStringLiteral("Print one JSON object per verb instead of text.")};
};

void setUp(QCommandLineParser& parser, const Options& options)
{
    parser.setApplicationDescription(description());
    // Everything from the first verb on belongs to the verbs (dose 1 --flow 60).
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOptions({options.port, options.address, options.panel, options.pump, options.json});
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("verbs"), QStringLiteral("What to do, in order."),
                                 QStringLiteral("VERB [ARGUMENTS] ..."));
}

int answerQuestion(const QCommandLineParser& parser)
{
    if (parser.isSet(QStringLiteral("version"))) {
        print(stdout, QStringLiteral("dosedeskctl %1\n").arg(Constants::ProgramVersion));
        return Control::Success;
    }
    // The program's name rather than the path it was started by, as manual pages show it.
    QString help = parser.helpText();
    help.replace(help.indexOf(u' '), help.indexOf(u'[') - help.indexOf(u' '),
                 QStringLiteral(" dosedeskctl "));
    print(stdout, help);
    return Control::Success;
}

// What is wrong with the options, if anything; the address and the panel copy they give.
QString optionProblem(const QCommandLineParser& parser, const Options& options, int* address,
                      std::optional<int>* copy)
{
    bool ok = true;
    *address = parser.value(options.address).toInt(&ok);
    if (parser.isSet(options.address) && !parser.isSet(options.port))
        return QStringLiteral("--address goes with --port; a panel's pump is picked by --pump");
    if (parser.isSet(options.pump) && parser.isSet(options.port))
        return QStringLiteral("--pump picks a pump of a running panel; with --port, use --address");
    if (!ok || *address < 0 || *address > LargestAddress)
        return QStringLiteral("--address: accepted: 0 to %1").arg(LargestAddress);
    if (!parser.isSet(options.panel))
        return {};
    *copy = parser.value(options.panel).toInt(&ok);
    if (!ok || **copy < 1)
        return QStringLiteral("--panel: accepted: a copy number from 1");
    return {};
}

// Reaches the pump straight over the line (--port) or through a running panel, and runs the
// script there.
int runScript(const Script& script, const QCommandLineParser& parser, const Options& options,
              int address, std::optional<int> copy)
{
    if (parser.isSet(options.port))
        return runDirect(script, parser.value(options.port), address);
    if (!parser.isSet(options.pump))
        return runThroughPanel(script, copy);
    // Every request goes to the pump picked, unless it names its own (a protocol's steps).
    const QString picked = parser.value(options.pump);
    bool isAddress = false;
    const int pickedAddress = picked.toInt(&isAddress);
    const QJsonValue pump = isAddress ? QJsonValue(pickedAddress) : QJsonValue(picked);
    const Script aimed = [&script, &pump](const Runner& runner) {
        return script([&runner, &pump](const QJsonObject& request) {
            QJsonObject forPump = request;
            if (!forPump.contains(QLatin1String("pump")))
                forPump.insert(QStringLiteral("pump"), pump);
            return runner(forPump);
        });
    };
    return runThroughPanel(aimed, copy);
}

// What follows "run": the file and how to run it.
struct RunOptions
{
    QString file;
    bool checkOnly = false;
    bool mayAsk = true;
    bool dry = false;
    double speed = 1.0;
};

QString readRunOptions(const QStringList& words, RunOptions& run)
{
    const QString usage =
        QStringLiteral(" (usage: run FILE [--check] [--no-input] [--dry-run [--speed N]])");
    bool speedGiven = false;
    for (int i = 0; i < words.size(); ++i) {
        const QString& word = words.at(i);
        bool ok = true;
        if (word == QLatin1String("--check")) {
            run.checkOnly = true;
        } else if (word == QLatin1String("--no-input")) {
            run.mayAsk = false;
        } else if (word == QLatin1String("--dry-run")) {
            run.dry = true;
        } else if (word == QLatin1String("--speed") && i + 1 < words.size()) {
            run.speed = words.at(++i).toDouble(&ok);
            speedGiven = true;
        } else if (run.file.isEmpty() && !word.startsWith(QLatin1String("--"))) {
            run.file = word;
        } else {
            return QStringLiteral("run: \"%1\" is unknown").arg(word) + usage;
        }
        if (!ok || !(run.speed >= 1 && run.speed <= MostDrySpeed))
            return QStringLiteral("run: --speed: accepted: 1 to %1").arg(MostDrySpeed) + usage;
    }
    if (speedGiven && !run.dry)
        return QStringLiteral("run: --speed goes with --dry-run") + usage;
    if (run.file.isEmpty())
        return QStringLiteral("run: no protocol file given") + usage;
    return {};
}

// The protocol on a simulated pump whose clock runs speed times as fast; the waits in seconds
// are shortened to match. The real pump is not touched.
int dryRun(const Control::Protocol& protocol, const RunOptions& run, bool json)
{
    Simulator::PtyPump::Options simulated;
    simulated.address = protocol.pump.value_or(0);
    simulated.clockSpeed = run.speed;
    Simulator::PtyPump pump(simulated);
    if (!pump.start()) {
        print(stderr, QStringLiteral("dosedeskctl: the simulated pump does not start: %1\n")
                          .arg(pump.errorString()));
        return Control::PumpFailure;
    }
    if (!json)
        print(stdout, QStringLiteral("dry run on the simulated pump, its clock %1 times as fast\n")
                          .arg(run.speed));
    return runDirect(
        [&](const Runner& runner) {
            return runProtocol(protocol, runner, json, run.mayAsk, run.speed);
        },
        pump.devicePath(), simulated.address, true);
}

// run FILE [--check] [--no-input] [--dry-run [--speed N]]: the protocol is checked whole before
// anything is sent.
int runFile(const QStringList& words, const QCommandLineParser& parser, const Options& options,
            bool json)
{
    RunOptions run;
    QString error = readRunOptions(words, run);
    int address = 0;
    std::optional<int> copy;
    if (error.isEmpty())
        error = optionProblem(parser, options, &address, &copy);
    if (!error.isEmpty())
        return usageError(error, json);
    const Control::Protocol protocol = Control::readProtocol(run.file);
    if (!protocol.isValid())
        return usageError(protocol.errors.join(QStringLiteral("\ndosedeskctl: ")), json);
    if (parser.isSet(options.port) && !run.dry && protocol.pump != address)
        return usageError(QStringLiteral("run: the protocol is for the pump at address %1, the "
                                         "line's is %2 (--address)")
                              .arg(protocol.pump.value_or(0))
                              .arg(address),
                          json);
    if (!json)
        print(stdout, protocol.summary());
    if (run.checkOnly)
        return Control::Success;
    if (run.dry)
        return dryRun(protocol, run, json);
    return runScript(
        [&](const Runner& runner) { return runProtocol(protocol, runner, json, run.mayAsk); },
        parser, options, address, copy);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dosedeskctl"));
    QCoreApplication::setApplicationVersion(Constants::ProgramVersion);

    QCommandLineParser parser;
    const Options options;
    setUp(parser, options);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    // An option error is told in JSON too when --json was given.
    const bool json = parsed ? parser.isSet(options.json)
                             : QCoreApplication::arguments().contains(QStringLiteral("--json"));
    if (!parsed)
        return usageError(parser.errorText(), json);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version")))
        return answerQuestion(parser);

    const QStringList words = parser.positionalArguments();
    if (!words.isEmpty() && words.first() == QLatin1String("run"))
        return runFile(words.mid(1), parser, options, json);
    QString error;
    const std::vector<QJsonObject> requests = Control::requestsFromArguments(words, &error);
    if (error.isEmpty() && requests.empty())
        error = QStringLiteral("no verb given (see --help)");
    for (const QJsonObject& request : requests) {
        if (error.isEmpty())
            error = Control::checkRequest(request).error;
    }
    int address = 0;
    std::optional<int> copy;
    if (error.isEmpty())
        error = optionProblem(parser, options, &address, &copy);
    if (!error.isEmpty())
        return usageError(error, json);

    return runScript([&](const Runner& runner) { return runAll(requests, runner, json); }, parser,
                     options, address, copy);
}
