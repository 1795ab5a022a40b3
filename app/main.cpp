#include "allcommands.h"
#include "communication.h"
#include "console.h"
#include "constants.h"
#include "controlserver.h"
#include "helpcontent.h"
#include "instancenumber.h"
#include "loggingcommandstack.h"
#include "mainform.h"
#include "programoptions.h"
#include "refreshtimer.h"
#include "screenshot.h"
#include "simulatorprocess.h"
#include "styles.h"
#include "windowcaptioneventfilter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

QStringList commandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char* argv[])
{
    // Questions about the program are answered without a window or a display.
    const ProgramOptions early = ProgramOptions::parse(commandLine(argc, argv));
    if (!early.error.isEmpty()) {
        print(stderr, QStringLiteral("dosedesk: %1\n\n").arg(early.error) + ProgramOptions::helpText());
        return 2;
    }
    if (early.showHelp) {
        print(stdout, ProgramOptions::helpText());
        return 0;
    }
    if (early.showVersion) {
        print(stdout, QStringLiteral("dosedesk %1\n").arg(Constants::ProgramVersion));
        return 0;
    }

    Styles::initResources();
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setDesktopSettingsAware(false);
    QApplication application(argc, argv);

    // Read again now that the application has taken its own options (-platform, ...) out.
    const ProgramOptions options = ProgramOptions::parse(QCoreApplication::arguments());
    for (const QString& argument : options.ignored)
        print(stderr, QStringLiteral("dosedesk: ignoring unknown argument \"%1\"\n").arg(argument));

    // Settings are kept per copy number; without a number the program cannot tell its settings
    // from another copy's, so it stops at once rather than guess.
    if (instanceNumber() == 0) {
        const QString message =
            QStringLiteral("dosedesk cannot number this copy: %1.").arg(instanceNumberProblem());
        print(stderr, message + u'\n');
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QMessageBox::critical(nullptr, QStringLiteral("DoseDesk"), message);
        return 1;
    }

    QStringList extraPorts = options.portPaths;
    Simulator::SimulatorProcess simulator;
    if (options.simulate) {
        if (simulator.start())
            extraPorts.prepend(simulator.devicePath());
        else
            print(stderr, QStringLiteral("dosedesk: the simulated pump did not start: %1\n")
                              .arg(simulator.errorString()));
    }

    Communication communication;
    const std::vector<std::unique_ptr<BusinessLogic::Command>> allCommands =
        BusinessLogic::createAllCommands(&communication);
    BusinessLogic::LoggingCommandStack commandStack;
    std::vector<BusinessLogic::Command*> commandTable(BusinessLogic::CommandTableSize, nullptr);
    GUI::RefreshTimer refresher(&commandStack, &commandTable);
    mainForm window(&commandStack, &commandTable, &application, &refresher, &communication,
                    extraPorts);
    for (const auto& command : allCommands)
        window.attachCommand(command.get());

    // The window owns the filter; the application shows it every event of every object.
    application.installEventFilter(new WindowCaptionEventFilter(&window, &window));
    HelpContent helpContent(&window);

    // Scripts reach the pump through this copy's command stack, beside the user's clicks.
    Control::ControlServer controlServer(&commandStack, &commandTable, &communication);
    if (!controlServer.listen(Control::ControlServer::socketPath(instanceNumber())))
        print(stderr, QStringLiteral("dosedesk: no control socket for scripts: %1\n")
                          .arg(controlServer.errorString()));

    window.startCommunication();
    window.timer().start(window.isConnectionLost() ? 500 : 100);
    if (!options.screenshotPath.isEmpty())
        takeScreenshotWhenConnected(window, options.screenshotPath);

    return application.exec();
}
