#include "pumpsearch.h"

#include "commandstack.h"
#include "commandtable.h"
#include "readings.h"

namespace Table = BusinessLogic::CommandTable;

PumpSearch::PumpSearch(BusinessLogic::CommandStack* commandStack,
                       std::vector<BusinessLogic::Command*>* commands, QObject* parent)
    : QObject(parent), commandStack(commandStack), commands(commands)
{
}

void PumpSearch::start(int currentAddress, int addressCount)
{
    this->addressCount = addressCount;
    if (!answers)
        answers = connect(commandStack, &BusinessLogic::CommandStack::sendAnswer, this,
                          &PumpSearch::take);
    if (!dropped)
        dropped = connect(commandStack, &BusinessLogic::CommandStack::cleared, this, [this] {
            end();
            emit interrupted();
        });
    // The probes are one command of the user's: each unanswered one is no verdict of its own.
    for (int address = 0; address < Engine::SearchedAddresses; ++address) {
        queue(Table::setCommAddress.spezifier, address);
        queue(Table::setProtocolAnswer.spezifier, 1);
        queue(Table::executeCommCheck.spezifier, 0);
    }
    queue(Table::setCommAddress.spezifier, currentAddress);
    queue(Table::executeCommCheck.spezifier, 0);
    checksLeft = Engine::SearchedAddresses + 1;
}

void PumpSearch::take(const Answer& answer)
{
    if (answer.spezifier != Table::executeCommCheck.spezifier || checksLeft <= 0)
        return;
    --checksLeft;
    const std::optional<int> number =
        Engine::probeFound(answer.fromPump, QString::fromLatin1(answer.data));
    if (number && *number < addressCount) {
        end();
        emit found(*number);
    } else if (checksLeft == 0) {
        // The last check, on the previous address, ran out too: nobody was found.
        end();
        emit notFound();
    }
}

void PumpSearch::queue(BusinessLogic::CommandSpezifier spezifier, qint32 parameter)
{
    commandStack->addCommand(commands->at(static_cast<std::size_t>(spezifier)), parameter, true,
                             BusinessLogic::CommandStack::Origin::Polled);
}

void PumpSearch::end()
{
    checksLeft = 0;
    disconnect(answers);
    disconnect(dropped);
    answers = {};
    dropped = {};
}
