#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of the program, beyond the factory-mode key.
struct ProgramOptions
{
    bool factoryMode = false;   // first argument is the factory-mode key
    QStringList portPaths;      // --port PATH, in order; the first becomes the chosen port
    bool simulate = false;      // --simulate: start the simulated pump on a fresh pseudo-terminal
    QString screenshotPath;     // --screenshot PATH: save the connected window there and exit
    QString startTab;           // --tab NAME: the settings open at this tab at start
    bool headless = false;      // --headless: the engine and the broker bridge, no window
    int address = -1;           // --address N: the pump's address; -1: the stored one
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
    static QString helpText();
};
