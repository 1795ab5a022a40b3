#pragma once

#include "command.h"
#include "readings.h"

#include <QObject>

#include <vector>

namespace BusinessLogic {
class CommandStack;
class Reply;
} // namespace BusinessLogic

namespace GUI {

// The search for the pump on every address of the bus, one for the whole session whoever asks
// for it (the window's button or a script). Each address is asked who it is by a check sent to
// that address alone: the link keeps its own address, so a Start, Stop or Pause given meanwhile
// goes to the pump the panel is set to, ahead of the next probe. The first pump that answers
// ends the search.
class PumpSearch : public QObject
{
    Q_OBJECT

public:
    PumpSearch(BusinessLogic::CommandStack* commandStack,
               std::vector<BusinessLogic::Command*>* commands, QObject* parent = nullptr);

    // Queues a probe of every address below addressCount; false (and nothing queued) while a
    // search runs already.
    bool start(int addressCount = Engine::SearchedAddresses);
    bool isRunning() const { return !probes.empty(); }
    // Ends a running search without a word: its probes still queued are taken back.
    void cancel() { end(); }

signals:
    void started();
    void found(int address);
    void notFound();
    // The probes were dropped before the search ended (the line went away or the port changed).
    void interrupted();

private:
    void take(BusinessLogic::Reply* reply);
    void end();

    BusinessLogic::CommandStack* commandStack;
    std::vector<BusinessLogic::Command*>* commands;
    // The probes not answered yet, in the order they go out.
    std::vector<BusinessLogic::Reply*> probes;
    // Addresses the caller can select: a pump naming another is no pump found.
    int addressCount = 0;
};

} // namespace GUI
