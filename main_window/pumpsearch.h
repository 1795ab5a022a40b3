#pragma once

#include "command.h"

#include <QObject>

#include <vector>

namespace BusinessLogic {
class CommandStack;
} // namespace BusinessLogic

// The search for the pump on every address: address by address the pump is told which one to
// take and asked who it is, all queued at once; the first pump that answers ends the search. It
// listens to the answers only while it runs and lets go of them when it ends, found or not.
class PumpSearch : public QObject
{
    Q_OBJECT

public:
    // The search covers the addresses of Engine::SearchedAddresses.
    PumpSearch(BusinessLogic::CommandStack* commandStack,
               std::vector<BusinessLogic::Command*>* commands, QObject* parent);

    // Queues the probes of every address below addressCount, then a return to currentAddress,
    // so that nobody answering leaves the previous address in force.
    void start(int currentAddress, int addressCount);
    // One answer of the line; only the answers to the checks count.
    void take(const Answer& answer);
    bool isRunning() const { return checksLeft > 0; }

signals:
    void found(int address);
    void notFound();
    // The queue was dropped before the search ended (the line went away): the probes left are
    // gone, and the search is over.
    void interrupted();

private:
    void queue(BusinessLogic::CommandSpezifier spezifier, qint32 parameter);
    void end();

    BusinessLogic::CommandStack* commandStack;
    std::vector<BusinessLogic::Command*>* commands;
    QMetaObject::Connection answers;
    QMetaObject::Connection dropped;
    // Checks still to be answered; 0 while no search runs.
    int checksLeft = 0;
    // Addresses the window can select: a pump naming another is no pump found.
    int addressCount = 0;
};
