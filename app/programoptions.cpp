#include "programoptions.h"

#include "constants.h"

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
        } else if (argument == QLatin1String("--screenshot")) {
            takeValue(&options.screenshotPath);
        } else if (argument == QLatin1String("--tab")) {
            takeValue(&options.startTab);
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
    return options;
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
        "  --simulate         start the simulated pump on a fresh pseudo-terminal and use it\n"
        "  --screenshot FILE  once the pump answers, save a picture of the window and exit;\n"
        "                     needs no display\n"
        "  --tab NAME         open the settings at the tab NAME (Settings, I/O, Cycle,\n"
        "                     Status, Run, Communication or Help) at start\n"
        "  --version          print the version and exit\n"
        "  --help             print this text and exit\n");
}
