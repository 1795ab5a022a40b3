#pragma once

#include "command.h"
#include "readings.h"

#include <QList>
#include <QObject>

#include <vector>

namespace BusinessLogic {
class CommandStack;
class Reply;
} // namespace BusinessLogic

namespace GUI {

// The search for the pump on every address of the bus, one for the whole session whoever asks
// for it (the window's button or a script). Each address in turn is asked who it is by a check
// sent to that address alone, the next once the last is answered or timed out: the link keeps
// its own address, and a Start, Stop or Pause given meanwhile goes to the pump the panel is set
// to, ahead of the next probe. A search for the first pump ends with the first that answers; one
// for every pump goes on to the last address.
class PumpSearch : public QObject
{
    Q_OBJECT

public:
    enum class Scope { FirstPump, EveryPump };

    PumpSearch(BusinessLogic::CommandStack* commandStack,
               std::vector<BusinessLogic::Command*>* commands, QObject* parent = nullptr);

    // Starts with address 0; only a pump at an address below addressCount counts as found.
    // False (and nothing queued) while a search runs already.
    bool start(int addressCount = Engine::SearchedAddresses, Scope scope = Scope::FirstPump);
    bool isRunning() const { return pending != nullptr; }
    // Ends a running search without a word: its probe, when still queued, is taken back.
    void cancel() { end(); }

signals:
    void started();
    // A pump answered at this address; a search for every pump goes on.
    void found(int address);
    void notFound();
    // The search is over; every address that answered, in order (none: notFound() came first).
    void finished(const QList<int>& addresses);
    // The search could not go on: the line went away, or the queue was dropped (another port).
    void interrupted();

private:
    void probe(int address);
    void take(BusinessLogic::Reply* reply, int address);
    void end();

    BusinessLogic::CommandStack* commandStack;
    std::vector<BusinessLogic::Command*>* commands;
    // The probe under way; none while no search runs.
    BusinessLogic::Reply* pending = nullptr;
    // Addresses the caller can select: a pump naming another is no pump found.
    int addressCount = 0;
    Scope scope = Scope::FirstPump;
    QList<int> foundSoFar;
    // Counts the searches started and ended, so that a probe's answer can tell its own from
    // a later one.
    quint64 searches = 0;
};

} // namespace GUI
