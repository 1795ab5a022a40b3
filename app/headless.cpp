#include "headless.h"

#include "console.h"
#include "constants.h"
#include "headlesspanel.h"
#include "instancenumber.h"
#include "panelsettings.h"
#include "simulatorprocess.h"
#ifdef Q_OS_UNIX
#include "terminationwatch.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <cstdio>

Control::BridgeSettings bridgeSettings(const ProgramOptions& options, int copyNumber)
{
    Control::BridgeSettings settings;
    const QSettings stored;
    settings.load(stored, copyNumber);
    const std::pair<const QString&, QString&> given[] = {
        {options.mqttBroker, settings.broker},
        {options.mqttUser, settings.user},
        {options.mqttPasswordFile, settings.passwordFile},
        {options.mqttCaFile, settings.caFile},
        {options.mqttNode, settings.node},
    };
    for (const auto& [option, setting] : given) {
        if (!option.isEmpty())
            setting = option;
    }
    settings.commands = settings.commands || options.mqttCommands;
    // A service manager hands the password over as a credential (systemd's LoadCredential).
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    const QString credential = QDir(credentials).filePath(QStringLiteral("mqtt-password"));
    if (settings.passwordFile.isEmpty() && !credentials.isEmpty() && QFile::exists(credential))
        settings.passwordFile = credential;
    return settings;
}

void addListedPumps(const ProgramOptions& options, const QString& simulatedLine,
                    const std::function<QString(const QString& port, int address)>& add)
{
    for (const ProgramOptions::PumpAt& pump : options.listedPumps(simulatedLine)) {
        const QString refusal = add(pump.port, pump.address);
        if (!refusal.isEmpty())
            print(
                stderr,
                QStringLiteral("dosedesk: pump %1 not added: %2\n").arg(pump.address).arg(refusal));
    }
}

int runHeadless(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    // The window's stored settings: its port, its address, its broker.
    QCoreApplication::setOrganizationName(Constants::OrganisationName);
    QCoreApplication::setOrganizationDomain(Constants::OrganisationDomain);
    QCoreApplication::setApplicationName(Constants::ApplicationName);
    const ProgramOptions options = ProgramOptions::parse(QCoreApplication::arguments());
    for (const QString& argument : options.ignored)
        print(stderr, QStringLiteral("dosedesk: ignoring unknown argument \"%1\"\n").arg(argument));
    if (instanceNumber() == 0) {
        print(
            stderr,
            QStringLiteral("dosedesk cannot number this copy: %1.\n").arg(instanceNumberProblem()));
        return 1;
    }
#ifdef Q_OS_UNIX
    TerminationWatch termination;
#endif
    GUI::PanelSettings stored;
    stored.load(QSettings(), instanceNumber());
    QString port = options.portPaths.isEmpty() ? stored.port : options.portPaths.first();
    Simulator::SimulatorProcess simulator;
    if (options.simulate) {
        if (!simulator.start(options.simulatorArguments())) {
            print(stderr, QStringLiteral("dosedesk: the simulated pump did not start: %1\n")
                              .arg(simulator.errorString()));
            return 1;
        }
        port = simulator.devicePath();
    }
    Control::HeadlessPanel panel(instanceNumber());
    QObject::connect(
        &panel, &Control::HeadlessPanel::logged, &application,
        [](const QString& line) { print(stderr, QStringLiteral("dosedesk: %1\n").arg(line)); });
    QString error;
    if (!panel.start(port, options.address >= 0 ? options.address : stored.address,
                     bridgeSettings(options, instanceNumber()), &error)) {
        print(stderr, QStringLiteral("dosedesk: %1\n").arg(error));
        return 2;
    }
    addListedPumps(options, port, [&panel](const QString& line, int address) {
        return panel.pumps().add(line, address);
    });
    return application.exec();
}
