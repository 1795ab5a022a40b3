#pragma once

#include "command.h"
#include "communication.h"
#include "panelsession.h"
#include "ptypump.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The simulated pump on a pseudo-terminal, paced at 9600 baud with a fixed turnaround, and the
// program's session (link, filled command table, stack, refresh cycle) opened on it; frames are
// time-stamped as the pump takes them.
class PumpLine
{
public:
    // A frame as the pump took it, stamped on the pump's own thread (Bench::nowUs clock).
    struct Arrival
    {
        qint64 us = 0;
        QString line; // the pump's log line: the frame received and what it answered
    };

    explicit PumpLine(int turnaroundMs);
    ~PumpLine();

    // Starts the pump; with openLink the program's link is opened on it as well.
    bool start(bool openLink, QString* error);

    int turnaroundMs() const { return turnaround; }
    Simulator::PtyPump& pump() { return simulated; }
    GUI::PanelSession& session() { return program; }
    Communication& link() { return program.link(); }
    std::vector<BusinessLogic::Command*>& table() { return program.table(); }
    BusinessLogic::Command* command(BusinessLogic::CommandSpezifier spezifier) const;

    std::vector<Arrival> takeArrivals();

    // Wire time of bytes at 9600 baud, 10 bits per byte, in microseconds.
    static double wireUs(qsizetype bytes);

private:
    int turnaround;
    Simulator::PtyPump simulated;
    GUI::PanelSession program;
    std::mutex arrivalMutex;
    std::vector<Arrival> arrivals;
};
