#pragma once

#include "command.h"
#include "communication.h"
#include "ptypump.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The simulated pump on a pseudo-terminal, paced at 9600 baud with a fixed turnaround, and the
// program's link and command table opened on it; frames are time-stamped as the pump takes them.
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
    Communication& link() { return communication; }
    std::vector<BusinessLogic::Command*>& table() { return commands; }
    BusinessLogic::Command* command(BusinessLogic::CommandSpezifier spezifier) const;

    std::vector<Arrival> takeArrivals();

    // Wire time of bytes at 9600 baud, 10 bits per byte, in microseconds.
    static double wireUs(qsizetype bytes);

private:
    int turnaround;
    Simulator::PtyPump simulated;
    Communication communication;
    std::vector<std::unique_ptr<BusinessLogic::Command>> owned;
    std::vector<BusinessLogic::Command*> commands;
    std::mutex arrivalMutex;
    std::vector<Arrival> arrivals;
};
