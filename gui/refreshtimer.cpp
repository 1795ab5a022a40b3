#include "refreshtimer.h"

#include "commandstack.h"
#include "commandtable.h"
#include "operationitem.h"



namespace GUI {

RefreshTimer::RefreshTimer(BusinessLogic::CommandStack* commandStack,
                           std::vector<BusinessLogic::Command*>* commands)
    : commandStack(commandStack), commands(commands), fastPosition(fastList.begin()),
      slowPosition(slowList.begin())
{
    connect(commandStack, &BusinessLogic::CommandStack::sendAnswer, this, &Refresher::notify);
    // Whatever drops the queue drops the readings in it: their answers will never come.
    connect(commandStack, &BusinessLogic::CommandStack::cleared, this, &RefreshTimer::clearPending,
            Qt::DirectConnection);
    timer.setInterval(IntervalMs);
    noCyclicDataUpdate(false);
    timer.start();
}

RefreshTimer::~RefreshTimer() = default;

void RefreshTimer::attach(GUI::OperationData* item, int list)
{
    switch (list) {
    case 0:
        everyTickList.push_back(item);
        break;
    case 1:
        fastList.push_back(item);
        fastPosition = fastList.begin();
        break;
    case 2:
        slowList.push_back(item);
        slowPosition = slowList.begin();
        break;
    default:
        break;
    }
}

void RefreshTimer::detach(GUI::OperationData* item)
{
    everyTickList.remove(item);
    fastList.remove(item);
    slowList.remove(item);
    // Also when a list is now empty, so that no position is left on a removed node.
    fastPosition = fastList.begin();
    slowPosition = slowList.begin();
}

void RefreshTimer::clearPending()
{
    pending.clear();
    pendingCount = 0;
}

void RefreshTimer::notify(Answer data)
{
    if (data.aside)
        return;
    // Answers come in queuing order, so only the oldest waiting item can be the one answered.
    if (!pending.empty() && pending.front()->getCommandSpezifier() == data.spezifier) {
        // A reading the pump did not really answer keeps what it showed.
        if (data.fromPump)
            pending.front()->setAnswer(data);
        pending.pop_front();
        --pendingCount;
    }
    if (pendingCount > MaxPending) {
        pending.clear();
        pendingCount = 0;
    }
}

void RefreshTimer::displayProtocolAnswer(bool notDisplayed)
{
    logCyclic = !notDisplayed;
}

void RefreshTimer::noCyclicDataUpdate(bool noUpdate)
{
    if (noUpdate)
        disconnect(&timer, &QTimer::timeout, this, &RefreshTimer::execute);
    else
        connect(&timer, &QTimer::timeout, this, &RefreshTimer::execute, Qt::UniqueConnection);
}

void RefreshTimer::execute()
{
    for (GUI::OperationData* item : everyTickList)
        if (item)
            queue(item, 1);
    fastTurn();
    fastTurn();
    slowTurn();
}

void RefreshTimer::queue(GUI::OperationData* item, qint32 parameter)
{
    BusinessLogic::Command* command =
        commands->at(static_cast<std::size_t>(item->getCommandSpezifier()));
    // A table entry not filled in has no command to run, and so no answer to wait for.
    if (!command)
        return;
    commandStack->addCommand(command, parameter, logCyclic);
    pending.push_back(item);
    ++pendingCount;
}

bool RefreshTimer::wrapped(ItemList& list, ItemList::iterator& position)
{
    // An empty list stands at its end for good: every turn "wraps" and queues nothing.
    if (position != list.end())
        return false;
    position = list.begin();
    return true;
}

void RefreshTimer::fastTurn()
{
    if (wrapped(fastList, fastPosition))
        return;
    GUI::OperationData* item = *fastPosition;
    const bool isStatus =
        item && item->getCommandSpezifier() == BusinessLogic::CommandTable::getPumpStatus.spezifier;
    if (isStatus)
        statusPage = statusPage < LastStatusPage ? statusPage + 1 : 0;
    if (item)
        queue(item, statusPage);
    // The status item stays until all its pages have been asked for, page 0 last; any other
    // entry moves on at once, even when the rotation restarted in the middle of the pages.
    if (!isStatus || statusPage == 0)
        ++fastPosition;
}

void RefreshTimer::slowTurn()
{
    if (wrapped(slowList, slowPosition))
        return;
    if (*slowPosition)
        queue(*slowPosition, statusPage);
    ++slowPosition;
}

} // namespace GUI
