#pragma once

#include "command.h"

#include <QObject>

namespace GUI {

class OperationData;

// What the window needs from the cyclic polling of its operation items.
class Refresher : public QObject
{
    Q_OBJECT

public:
    Refresher() = default;
    ~Refresher() override = 0;

    // Lists: 0 polled on every tick, 1 two turns per tick, 2 one turn per tick.
    virtual void attach(GUI::OperationData* item, int list) = 0;
    virtual void detach(GUI::OperationData* item) = 0;
    // Forgets which items still wait for answers (after the command queue was dropped).
    virtual void clearPending() = 0;

public slots:
    virtual void notify(Answer data) = 0;
    virtual void displayProtocolAnswer(bool notDisplayed) = 0;
    virtual void noCyclicDataUpdate(bool noUpdate) = 0;
};

} // namespace GUI
