#include "programoptions.h"

#include "constants.h"
#include "readings.h"

#include <utility>

namespace {

// Where the value of a broker option goes; none for other arguments.
QString* mqttTarget(const QString& argument, ProgramOptions& options)
{
    const std::pair<const char*, QString*> targets[] = {
        {"--mqtt", &options.mqttBroker},
        {"--mqtt-user", &options.mqttUser},
        {"--mqtt-password-file", &options.mqttPasswordFile},
        {"--mqtt-ca", &options.mqttCaFile},
        {"--mqtt-node", &options.mqttNode},
    };
    for (const auto& [name, target] : targets) {
        if (argument == QLatin1String(name))
            return target;
    }
    return nullptr;
}

} // namespace

ProgramOptions ProgramOptions::parse(const QStringList& arguments)
{
    ProgramOptions options;
    int i = 1;
    // The key is one argument with blanks in it, and only counts in the first place.
    if (arguments.size() > 1 && arguments.at(1) == Constants::FactoryModeArgument) {
        options.factoryMode = true;
        i = 2;
    }
    for (; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        auto takeValue = [&](QString* target) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                options.error = QStringLiteral("%1 needs a value").arg(argument);
                return;
            }
            *target = arguments.at(++i);
        };
        if (argument == QLatin1String("--port")) {
            QString path;
            takeValue(&path);
            if (!path.isEmpty())
                options.portPaths.append(path);
        } else if (argument == QLatin1String("--simulate")) {
            options.simulate = true;
            // A count may follow: that many pumps on one bus.
            bool isNumber = false;
            const int count = i + 1 < arguments.size() ? arguments.at(i + 1).toInt(&isNumber) : 0;
            if (isNumber) {
                ++i;
                options.simulatedPumps = count;
                if (count < 1 || count > Engine::SearchedAddresses)
                    options.error = QStringLiteral("--simulate takes 1 to %1 pumps, not %2")
                                        .arg(Engine::SearchedAddresses)
                                        .arg(count);
            }
        } else if (argument == QLatin1String("--screenshot")) {
            takeValue(&options.screenshotPath);
        } else if (argument == QLatin1String("--tab")) {
            takeValue(&options.startTab);
        } else if (argument == QLatin1String("--headless")) {
            options.headless = true;
        } else if (argument == QLatin1String("--address")) {
            QString text;
            takeValue(&text);
            bool isNumber = false;
            const int address = text.toInt(&isNumber);
            // The panel shows the first pump asked for.
            if (options.pumps.isEmpty())
                options.address = address;
            if (options.error.isEmpty()
                && (!isNumber || address < 0 || address >= Engine::SearchedAddresses))
                options.error = QStringLiteral("--address takes 0 to %1, not \"%2\"")
                                    .arg(Engine::SearchedAddresses - 1)
                                    .arg(text);
            options.pumps.append(
                {options.portPaths.isEmpty() ? QString() : options.portPaths.last(), address});
        } else if (QString* target = mqttTarget(argument, options)) {
            takeValue(target);
        } else if (argument == QLatin1String("--mqtt-commands")) {
            options.mqttCommands = true;
        } else if (argument.startsWith(QLatin1String("--mqtt-pass"))) {
            options.error = QStringLiteral("a password is never taken on the command line (others "
                                           "can read it there); use --mqtt-password-file FILE");
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.showHelp = true;
        } else if (argument == QLatin1String("--version")) {
            options.showVersion = true;
        } else {
            // The program starts whatever else it is given, as it always has.
            options.ignored.append(argument);
        }
        if (!options.error.isEmpty())
            break;
    }
    // The panel shows the simulated bus's first pump, whatever address it was set to before.
    if (options.simulate && options.simulatedPumps > 1 && options.address < 0)
        options.address = 0;
    return options;
}

QStringList ProgramOptions::simulatorArguments() const
{
    if (simulatedPumps < 2)
        return {};
    QStringList arguments;
    for (int address = 0; address < simulatedPumps; ++address) {
        const int model = address % 2 ? Engine::ModelCode02 : Engine::ModelCode10;
        arguments << QStringLiteral("--address") << QString::number(address)
                  << QStringLiteral("--model") << QString::number(model);
    }
    return arguments;
}

QList<ProgramOptions::PumpAt> ProgramOptions::listedPumps(const QString& simulatedLine) const
{
    QList<PumpAt> listed = pumps;
    for (int address = 0; simulate && address < simulatedPumps; ++address)
        listed.append({simulatedLine, address});
    return listed.size() > 1 ? listed : QList<PumpAt>{};
}

QString ProgramOptions::helpText()
{
    return QStringLiteral(
        "Usage: dosedesk [options]\n"
        "Control panel for Velor laboratory dosing pumps.\n"
        "\n"
        "  --port PATH        add a port to the port list; the first one given is chosen\n"
        "                     at start. PATH is a serial device (e.g. /dev/ttyUSB0,\n"
        "                     /dev/serial/by-id/...) or a pump behind a network serial\n"
        "                     server: tcp://HOST:PORT (raw) or rfc2217://HOST:PORT\n"
        "                     (telnet with COM port control)\n"
        "  --simulate [N]     start the simulated pump on a fresh pseudo-terminal and use it;\n"
        "                     with N, that many pumps on its bus at addresses 0 to N-1\n"
        "  --screenshot FILE  once the pump answers, save a picture of the window and exit;\n"
        "                     needs no display\n"
        "  --tab NAME         open the settings at the tab NAME (Settings, I/O, Cycle,\n"
        "                     Status, Run, Communication or Help) at start\n"
        "  --address N        talk to the pump at address N (0 to 98) rather than the\n"
        "                     stored one. Given more than once, each --address adds the\n"
        "                     pump at N on the --port given before it to the pumps list\n"
        "  --headless         run without a window: poll the pump, keep the run record,\n"
        "                     answer dosedeskctl and the broker; log to standard error\n"
        "  --mqtt URL         publish the pump on an MQTT broker: mqtt://HOST:PORT or\n"
        "                     mqtts://HOST:PORT (TLS)\n"
        "  --mqtt-user NAME   the broker's user name\n"
        "  --mqtt-password-file FILE\n"
        "                     read the broker password from FILE (never given here)\n"
        "  --mqtt-ca FILE     the certificate authority that vouches for the broker\n"
        "  --mqtt-node NAME   the name in the topics (default: the host name)\n"
        "  --mqtt-commands    take commands from the broker (off by default)\n"
        "  --version          print the version and exit\n"
        "  --help             print this text and exit\n");
}
