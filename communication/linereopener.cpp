#include "linereopener.h"

#include "communication.h"

LineReopener::LineReopener(Communication& link, QObject* parent)
    : QObject(parent), link(link), timer(this)
{
    timer.setInterval(LookIntervalMs);
    connect(&timer, &QTimer::timeout, this, &LineReopener::look);
    connect(&link, &Communication::lineOpened, this, &LineReopener::onOpened);
}

void LineReopener::lookOut()
{
    lost = true;
    timer.start();
}

void LineReopener::followChoice()
{
    lost = false;
    timer.stop();
    if (!link.isOpen() && link.portStatus().mayPass())
        timer.start();
}

void LineReopener::look()
{
    if (link.reopen()) {
        timer.stop();
        lost = false;
        emit lineBack();
    } else if (!link.portStatus().mayPass()) {
        // A directory, a plain file, nothing chosen: waiting will not change that.
        timer.stop();
    }
}

void LineReopener::onOpened()
{
    timer.stop();
    if (!lost)
        return;
    lost = false;
    emit lineBack();
}
