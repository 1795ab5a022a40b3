#pragma once

#include <QString>
#include <QtGlobal>

namespace Simulator {

// Closes the descriptor when it is open and marks it closed.
void closeFd(int& fd);
// Microseconds on the steady clock: the simulators' time line.
qint64 steadyUs();

// The far end of a serial port: the master of a pseudo-terminal, raw at 9600 baud, its slave
// held open so that the master sees no hang-up while nobody else has the port open, and a
// symbolic link to the slave when one is asked for.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a new one (a new device node each time); false, with errorString() set and nothing
    // left open, when that failed. A file at the link path that is no symbolic link stays.
    bool open(const QString& linkPath = {});
    // Closes it and removes the link.
    void close();

    bool isOpen() const { return masterFd >= 0; }
    int master() const { return masterFd; }
    QString device() const { return devicePath; } // e.g. /dev/pts/3; empty while closed
    QString errorString() const { return error; }

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString devicePath;
    QString link;
    QString error;
};

} // namespace Simulator
