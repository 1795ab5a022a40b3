#include "pumpsearch.h"

#include "commandstack.h"
#include "commandtable.h"
#include "reply.h"


namespace Table = BusinessLogic::CommandTable;

namespace GUI {

PumpSearch::PumpSearch(BusinessLogic::CommandStack* commandStack,
                       std::vector<BusinessLogic::Command*>* commands, QObject* parent)
    : QObject(parent), commandStack(commandStack), commands(commands)
{
    // A queue dropped while a probe is on the line (another port chosen, the window going)
    // leaves nothing to go on with.
    connect(commandStack, &BusinessLogic::CommandStack::cleared, this, [this] {
        if (!isRunning())
            return;
        end();
        emit interrupted();
    });
}

bool PumpSearch::start(int addressCount, Scope scope)
{
    if (isRunning())
        return false;
    this->addressCount = addressCount;
    this->scope = scope;
    ++searches;
    foundSoFar.clear();
    emit started();
    probe(0);
    return true;
}

void PumpSearch::probe(int address)
{
    BusinessLogic::CommandStack::Request check;
    check.command = commands->at(std::size_t(Table::executeCommCheck.spezifier));
    check.logFlag = true;
    check.address = address;
    BusinessLogic::Reply* reply = commandStack->submit(check, this);
    pending = reply;
    connect(reply, &BusinessLogic::Reply::finished, this,
            [this, reply, address] { take(reply, address); });
}

void PumpSearch::take(BusinessLogic::Reply* reply, int address)
{
    reply->deleteLater();
    if (reply != pending)
        return; // the probe of a search that was ended meanwhile
    pending = nullptr;
    const Answer& answer = reply->answer();
    // The line went away, or the queue was dropped (another port chosen): no pump can answer.
    if (answer.outcome == Answer::Outcome::Dropped
        || answer.outcome == Answer::Outcome::LineLost) {
        emit interrupted();
        return;
    }
    const std::optional<int> named =
        Engine::probeFound(answer.fromPump, QString::fromLatin1(answer.data));
    // Only an address the caller can select counts as found.
    if (named && *named < addressCount && !foundSoFar.contains(*named)) {
        foundSoFar.append(*named);
        const quint64 thisSearch = searches;
        emit found(*named);
        if (scope == Scope::FirstPump)
            return emit finished(foundSoFar);
        if (searches != thisSearch)
            return; // a slot of found() ended the search or started another
    }
    if (address + 1 < Engine::SearchedAddresses)
        return probe(address + 1);
    if (foundSoFar.isEmpty())
        emit notFound();
    emit finished(foundSoFar);
}

void PumpSearch::end()
{
    ++searches;
    // A probe still queued is taken back; one on the line runs to its end, unlistened to.
    if (pending) {
        commandStack->withdraw({pending->request()});
        pending->deleteLater();
    }
    pending = nullptr;
}

} // namespace GUI
