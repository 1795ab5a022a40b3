#include "allcommands.h"
#include "communication.h"
#include "constants.h"
#include "helpcontent.h"
#include "loggingcommandstack.h"
#include "mainform.h"
#include "programoptions.h"
#include "refreshtimer.h"
#include "simulatorprocess.h"
#include "styles.h"
#include "windowcaptioneventfilter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int ScreenshotLimitMs = 15000;
// Once the pump answers, the values polled on every tick need a moment to reach the window; the
// pump's identity comes with the slow rotation, some seconds later.
constexpr int ScreenshotSettleMs = 1500;
constexpr int ScreenshotIdentityWaitMs = 10000;
constexpr int ScreenshotPollMs = 100;
constexpr int ExitNoPump = 3;

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

QStringList commandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Saves a picture of the window once it shows the pump as connected (at the latest after the
// time limit), prints where it went and ends the program; without a pump the exit code says so.
void takeScreenshotWhenConnected(mainForm& window, const QString& path)
{
    auto* poll = new QTimer(&window);
    auto since = std::make_shared<QElapsedTimer>();
    auto connectedAt = std::make_shared<qint64>(-1);
    since->start();
    QObject::connect(poll, &QTimer::timeout, &window, [&window, path, poll, since, connectedAt] {
        // The label names the pump only after an acknowledge or its address-only answer; any
        // answer at all already ends the window's connection-lost state.
        const bool connected =
            window.form().labelConnectionState->text() == QLatin1String("PUMP CONNECTED")
            || !window.isConnectionLost();
        if (connected && *connectedAt < 0)
            *connectedAt = since->elapsed();
        const qint64 connectedFor = *connectedAt < 0 ? -1 : since->elapsed() - *connectedAt;
        const bool identified =
            window.form().labelVersionHW->text() != QLatin1String("UNKNOWN");
        const bool settled = connectedFor >= ScreenshotSettleMs
            && (identified || connectedFor >= ScreenshotIdentityWaitMs);
        const bool tooLate = since->elapsed() >= ScreenshotLimitMs;
        if (!window.isVisible() || (!settled && !tooLate))
            return;
        poll->stop();
        // Texts changed by the last display update may still wait for their layout.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        if (!window.grab().save(path)) {
            print(stderr, QStringLiteral("dosedesk: could not write the screenshot to %1\n").arg(path));
            QCoreApplication::exit(1);
            return;
        }
        print(stdout, path + u'\n');
        if (*connectedAt < 0)
            print(stderr, QStringLiteral("dosedesk: no pump answered within %1 s\n")
                              .arg(ScreenshotLimitMs / 1000));
        QCoreApplication::exit(*connectedAt >= 0 ? 0 : ExitNoPump);
    });
    poll->start(ScreenshotPollMs);
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

    window.startCommunication();
    window.timer().start(window.isConnectionLost() ? 500 : 100);
    if (!options.screenshotPath.isEmpty())
        takeScreenshotWhenConnected(window, options.screenshotPath);

    return application.exec();
}
