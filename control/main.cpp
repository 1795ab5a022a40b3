// dosedeskctl: the pump's verbs for scripts, straight over a serial line or through a running
// panel.

#include "allcommands.h"
#include "communication.h"
#include "console.h"
#include "constants.h"
#include "controlserver.h"
#include "pumpsession.h"
#include "request.h"
#include "tcptransport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <optional>

namespace {

using Control::ExitStatus;

// Copies of the panel looked for when no --panel is given.
constexpr int MostPanelCopies = 16;
constexpr int ConnectTimeoutMs = 2000;
constexpr int LargestAddress = 99;

// Runs one request and gives its result object.
using Runner = std::function<QJsonObject(const QJsonObject& request)>;

// Runs the verbs in order, printing each result, until the first failure.
int runAll(const std::vector<QJsonObject>& requests, const Runner& runner, bool json)
{
    for (const QJsonObject& request : requests) {
        const QJsonObject result = runner(request);
        if (json)
            print(stdout,
                  QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)) + u'\n');
        else
            print(stdout, Control::describe(result));
        if (!result.value(QStringLiteral("ok")).toBool()) {
            print(stderr, QStringLiteral("dosedeskctl: %1: %2\n")
                              .arg(request.value(QStringLiteral("verb")).toString(),
                                   result.value(QStringLiteral("error")).toString()));
            return result.value(QStringLiteral("exit")).toInt(Control::PumpFailure);
        }
    }
    return Control::Success;
}

// A network port connects in the background; a device is open at once or not at all.
bool waitUntilOpen(Communication& communication)
{
    if (communication.isOpen() || !Transport::isNetworkName(communication.portPath()))
        return communication.isOpen();
    QEventLoop loop;
    // Past the transport's own readiness limit it has given up and says why.
    QTimer::singleShot(TcpTransport::ReadyTimeoutMs * 2, &loop, &QEventLoop::quit);
    QObject::connect(&communication, &Communication::lineOpened, &loop, &QEventLoop::quit);
    loop.exec();
    return communication.isOpen();
}

int runDirect(const std::vector<QJsonObject>& requests, const QString& port, int address, bool json)
{
    Communication communication;
    communication.setCommPortPath(port);
    if (!waitUntilOpen(communication)) {
        const QString reason = communication.lineFault();
        print(stderr, QStringLiteral("dosedeskctl: cannot open %1%2\n")
                          .arg(port, reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
        return Control::PumpFailure;
    }
    communication.address = address;
    const auto commands = BusinessLogic::createAllCommands(&communication);
    std::vector<BusinessLogic::Command*> table(BusinessLogic::CommandTableSize, nullptr);
    for (const auto& command : commands)
        table.at(std::size_t(command->getCommandSpezifier())) = command.get();
    Control::DirectLink link(&communication, table);
    Control::PumpSession session(&link);
    return runAll(
        requests,
        [&](const QJsonObject& request) {
            QJsonObject result;
            QEventLoop loop;
            QObject::connect(&session, &Control::PumpSession::finished, &loop,
                             [&](const QJsonObject& r) {
                                 result = r;
                                 loop.quit();
                             });
            session.run(*Control::checkRequest(request).request);
            loop.exec();
            return result;
        },
        json);
}

QJsonObject exchangeLine(QLocalSocket& socket, const QJsonObject& request)
{
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    socket.flush();
    // Waits and doses take as long as the pump does; the panel ends them when it goes.
    while (!socket.canReadLine()) {
        if (socket.state() != QLocalSocket::ConnectedState || !socket.waitForReadyRead(-1)) {
            if (socket.canReadLine())
                break;
            return {{QStringLiteral("ok"), false},
                    {QStringLiteral("error"), QStringLiteral("the panel closed the connection")},
                    {QStringLiteral("exit"), int(Control::PumpFailure)}};
        }
    }
    return QJsonDocument::fromJson(socket.readLine()).object();
}

int runThroughPanel(const std::vector<QJsonObject>& requests, std::optional<int> copy, bool json)
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
    return runAll(
        requests, [&](const QJsonObject& request) { return exchangeLine(socket, request); }, json);
}

QString description()
{
    return QStringLiteral(
               "Drives a Velor dosing pump from scripts: straight over a serial line (--port), or "
               "through a running DoseDesk panel, whose window then shows and logs every command.\n"
               "Exit status: 0 success, 1 the pump refused or did not answer, 2 usage error "
               "(nothing is sent).\n\n") +
           Control::verbHelp() +
           QStringLiteral("\nExample:\n  dosedeskctl --port /dev/ttyUSB0 set-flow 2.5 start wait "
                          "seconds 30 stop status\n");
}

int usageError(const QString& message)
{
    print(stderr, QStringLiteral("dosedeskctl: %1\n").arg(message));
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
    QCommandLineOption json{QStringLiteral("json"),
                            QStringLiteral("Print one JSON object per verb instead of text.")};
};

void setUp(QCommandLineParser& parser, const Options& options)
{
    parser.setApplicationDescription(description());
    // Everything from the first verb on belongs to the verbs (dose 1 --flow 60).
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOptions({options.port, options.address, options.panel, options.json});
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
        return QStringLiteral("--address goes with --port; a panel sends to its own address");
    if (!ok || *address < 0 || *address > LargestAddress)
        return QStringLiteral("--address: accepted: 0 to %1").arg(LargestAddress);
    if (!parser.isSet(options.panel))
        return {};
    *copy = parser.value(options.panel).toInt(&ok);
    if (!ok || **copy < 1)
        return QStringLiteral("--panel: accepted: a copy number from 1");
    return {};
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
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version")))
        return answerQuestion(parser);

    QString error;
    const std::vector<QJsonObject> requests =
        Control::requestsFromArguments(parser.positionalArguments(), &error);
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
        return usageError(error);

    const bool json = parser.isSet(options.json);
    if (parser.isSet(options.port))
        return runDirect(requests, parser.value(options.port), address, json);
    return runThroughPanel(requests, copy, json);
}
