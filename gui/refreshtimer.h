#pragma once

#include "refresher.h"

#include <QTimer>

#include <list>
#include <vector>

namespace BusinessLogic {
class CommandStack;
}

namespace GUI {

// Queues the reading commands of the attached items every 500 ms and hands each answer to the
// item that waits for it. It lives on the window's thread; the answers come as queued signals
// from the line's.
class RefreshTimer : public Refresher
{
    Q_OBJECT

public:
    static constexpr int IntervalMs = 500;
    // More unmatched entries than this mean the answers no longer line up: start afresh.
    static constexpr qint64 MaxPending = 100;
    static constexpr int LastStatusPage = 6;

    // Neither the stack nor the command table is owned; both must outlive this object.
    RefreshTimer(BusinessLogic::CommandStack* commandStack,
                 std::vector<BusinessLogic::Command*>* commands);
    ~RefreshTimer() override;

    void attach(GUI::OperationData* item, int list) override;
    void detach(GUI::OperationData* item) override;
    void clearPending() override;
    void notify(Answer data) override;

public slots:
    // One polling tick; the timer calls it every 500 ms.
    void execute();
    void displayProtocolAnswer(bool notDisplayed) override;
    void noCyclicDataUpdate(bool noUpdate) override;

protected:
    using ItemList = std::list<GUI::OperationData*>;

    void queue(GUI::OperationData* item, qint32 parameter);
    // Moves a rotation standing at its list's end back to the start; true when it did (the turn
    // is used up).
    static bool wrapped(ItemList& list, ItemList::iterator& position);
    void fastTurn();
    void slowTurn();

    ItemList everyTickList;
    ItemList fastList;
    ItemList slowList;
    ItemList pending;
    qint64 pendingCount = 0;
    BusinessLogic::CommandStack* commandStack;
    std::vector<BusinessLogic::Command*>* commands;
    QTimer timer;
    ItemList::iterator fastPosition;
    ItemList::iterator slowPosition;
    bool logCyclic = false;

    // Status page asked for next in the fast rotation.
    int statusPage = 0;
};

} // namespace GUI
