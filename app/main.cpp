#include "console.h"
#include "constants.h"
#include "controlserver.h"
#include "headless.h"
#include "helpcontent.h"
#include "instancenumber.h"
#include "mainform.h"
#include "panelsession.h"
#include "panelwindow.h"
#include "programoptions.h"
#include "screenshot.h"
#include "simulatorprocess.h"
#include "styles.h"
#include "windowcaptioneventfilter.h"
#ifdef Q_OS_UNIX
#include "terminationwatch.h"
#endif

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

QStringList commandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Without a display Qt would abort with advice that does not help. A picture needs none: it
// is drawn offscreen. Anything else says what is missing; an empty text means go ahead.
QString chooseDisplay(int argc, char* argv[], const ProgramOptions& options)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return {};
    }
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return {};
    if (!options.screenshotPath.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return {};
    }
    return QStringLiteral("dosedesk: no display to show the window on (neither DISPLAY nor "
                          "WAYLAND_DISPLAY is set)\n");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    Q_UNUSED(options);
    return {};
#endif
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

    if (early.headless)
        return runHeadless(argc, argv);

    if (const QString missing = chooseDisplay(argc, argv, early); !missing.isEmpty()) {
        print(stderr, missing);
        return 1;
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

#ifdef Q_OS_UNIX
    // Watching before anything is made that the end must clean up (the simulated pump, the
    // socket): a signal that comes while they are being made still ends the loop once it runs.
    TerminationWatch termination;
#endif

    // The window lists the simulated pump's device first, before the ports asked for.
    ProgramOptions windowOptions = options;
    Simulator::SimulatorProcess simulator;
    if (options.simulate) {
        if (simulator.start(options.simulatorArguments()))
            windowOptions.portPaths.prepend(simulator.devicePath());
        else
            print(stderr, QStringLiteral("dosedesk: the simulated pump did not start: %1\n")
                              .arg(simulator.errorString()));
    }

    GUI::PanelSession session;
    // The window never waits for the pump: the exchanges run on the line's own thread.
    session.startLineThread();
    const std::unique_ptr<mainForm> window = openPanelWindow(session, &application, windowOptions);

    // The window owns the filter; the application shows it every event of every object.
    application.installEventFilter(new WindowCaptionEventFilter(window.get(), window.get()));
    HelpContent helpContent(window.get());

    // Scripts reach the pump through this copy's command stack, beside the user's clicks.
    Control::ControlServer controlServer(session);
    controlServer.setFleet(&window->pumpFleet());
    if (!controlServer.listen(Control::ControlServer::socketPath(instanceNumber())))
        print(stderr, QStringLiteral("dosedesk: no control socket for scripts: %1\n")
                          .arg(controlServer.errorString()));

    if (!options.startTab.isEmpty() && !window->openTab(options.startTab))
        print(stderr, QStringLiteral("dosedesk: no tab \"%1\"\n").arg(options.startTab));
    // The address asked for replaces the stored one once the window talks to the pump.
    if (options.address >= 0)
        window->form().comboCommAddress->setCurrentIndex(options.address);
    addListedPumps(options, simulator.devicePath(), [&window](const QString& port, int address) {
        return window->addPump(port, address);
    });
    // The pump on the lab's broker, when the settings or the command line name one.
    window->startBridge(bridgeSettings(options, instanceNumber()));
    window->startCommunication();
    window->restartDisplayTimer();
    if (!options.screenshotPath.isEmpty())
        takeScreenshotWhenConnected(*window, options.screenshotPath);

    return application.exec();
}
