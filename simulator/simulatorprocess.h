#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

namespace Simulator {

// Runs velor-pump-sim as a child process: starts it, learns its device path, steers it with
// control lines and stops it (at the latest when this object goes).
class SimulatorProcess
{
public:
    SimulatorProcess();
    explicit SimulatorProcess(const QString& program);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // The simulator beside the running program, in a bin folder beside it or one level up (the
    // build tree and the installed layout alike); empty when none is found.
    static QString locateProgram();

    QString program() const { return executable; }
    // Starts the simulator with these options and waits for its device path.
    bool start(const QStringList& arguments = {}, int timeoutMs = 5000);
    // Sends "quit", waits a moment, and kills it if it is still there.
    void stop(int timeoutMs = 2000);
    bool isRunning() const;

    // The device path the simulator printed (after replug: the new one).
    QString devicePath() const { return device; }
    // Sends one control line (see velor-pump-sim --help) and waits for its reply line;
    // returns the reply ("ok ...", "error ...") or an empty text on time-out.
    QString sendControl(const QString& line, int timeoutMs = 3000);
    // The frame log written so far (unless the arguments named their own --log file); the
    // simulator's error messages go to this process's standard error.
    QByteArray readLog();
    // Where that log is written (a temporary file, removed with this object).
    QString logPath() const { return logFile.fileName(); }
    QString errorString() const { return error; }

private:
    QString readLine(int timeoutMs);

    QString executable;
    QProcess process;
    QString device;
    QString error;
    QTemporaryFile logFile;
};

} // namespace Simulator
