#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the command line asks of the program, beyond the factory-mode key.
struct ProgramOptions
{
    bool factoryMode = false;   // first argument is the factory-mode key
    QStringList portPaths;      // --port PATH, in order; the first becomes the chosen port
    bool simulate = false;      // --simulate: start the simulated pump on a fresh pseudo-terminal
    int simulatedPumps = 1;     // --simulate N: that many pumps on its bus, at 0 to N-1
    QString screenshotPath;     // --screenshot PATH: save the connected window there and exit
    QString startTab;           // --tab NAME: the settings open at this tab at start
    bool headless = false;      // --headless: the engine and the broker bridge, no window
    int address = -1;           // --address N: the pump's address; -1: the stored one
    // Every --address with the --port given last before it (empty: before any): the pumps of
    // the panel when there is more than one.
    struct PumpAt
    {
        QString port;
        int address = 0;
    };
    QList<PumpAt> pumps;
    // The broker bridge: --mqtt URL, --mqtt-user, --mqtt-password-file, --mqtt-ca,
    // --mqtt-node, --mqtt-commands. A password is never taken on the command line.
    QString mqttBroker;
    QString mqttUser;
    QString mqttPasswordFile;
    QString mqttCaFile;
    QString mqttNode;
    bool mqttCommands = false;
    bool showHelp = false;
    bool showVersion = false;
    QStringList ignored;        // arguments not understood; the program starts anyway
    QString error;              // set when an option lacks its value

    static ProgramOptions parse(const QStringList& arguments);
    // What the simulated pump is started with: one pump, or the bus --simulate N asks for, its
    // pumps of either model in turn.
    QStringList simulatorArguments() const;
    // The pumps for the panel's list: the --address pairs, or the simulated bus's pumps on its
    // line; none when that makes one pump alone.
    QList<PumpAt> listedPumps(const QString& simulatedLine) const;
    static QString helpText();
};
