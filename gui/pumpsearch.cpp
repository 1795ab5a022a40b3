#include "pumpsearch.h"

#include "commandstack.h"
#include "commandtable.h"
#include "reply.h"

#include <algorithm>

namespace Table = BusinessLogic::CommandTable;

namespace GUI {

PumpSearch::PumpSearch(BusinessLogic::CommandStack* commandStack,
                       std::vector<BusinessLogic::Command*>* commands, QObject* parent)
    : QObject(parent), commandStack(commandStack), commands(commands)
{}

bool PumpSearch::start(int addressCount)
{
    if (isRunning())
        return false;
    this->addressCount = addressCount;
    BusinessLogic::CommandStack::Request probe;
    probe.command = commands->at(std::size_t(Table::executeCommCheck.spezifier));
    probe.logFlag = true;
    for (int address = 0; address < Engine::SearchedAddresses; ++address) {
        probe.address = address;
        BusinessLogic::Reply* reply = commandStack->submit(probe, this);
        probes.push_back(reply);
        connect(reply, &BusinessLogic::Reply::finished, this, [this, reply] { take(reply); });
    }
    emit started();
    return true;
}

void PumpSearch::take(BusinessLogic::Reply* reply)
{
    const auto it = std::find(probes.begin(), probes.end(), reply);
    if (it == probes.end())
        return;
    probes.erase(it);
    reply->deleteLater();
    const Answer& answer = reply->answer();
    if (answer.outcome == Answer::Outcome::Dropped) {
        end();
        emit interrupted();
        return;
    }
    const std::optional<int> named =
        Engine::probeFound(answer.fromPump, QString::fromLatin1(answer.data));
    // Only an address the caller can select counts as found.
    if (named && *named < addressCount) {
        end();
        emit found(*named);
    } else if (probes.empty()) {
        emit notFound();
    }
}

void PumpSearch::end()
{
    // The probes still queued are taken back; the one on the line runs to its end.
    std::vector<quint64> requests;
    for (BusinessLogic::Reply* reply : probes) {
        requests.push_back(reply->request());
        reply->deleteLater();
    }
    probes.clear();
    commandStack->withdraw(requests);
}

} // namespace GUI
