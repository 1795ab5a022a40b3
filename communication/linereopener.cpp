#include "linereopener.h"

#include "communication.h"

LineReopener::LineReopener(Communication& link, QObject* parent) : QObject(parent), link(link)
{
    timer.setInterval(LookIntervalMs);
    connect(&timer, &QTimer::timeout, this, &LineReopener::look);
}

void LineReopener::lookOut()
{
    timer.start();
}

void LineReopener::followChoice()
{
    timer.stop();
    if (!link.isOpen() && link.portStatus().mayPass())
        timer.start();
}

void LineReopener::look()
{
    if (link.reopen()) {
        timer.stop();
        emit lineBack();
    } else if (!link.portStatus().mayPass()) {
        // A directory, a plain file, nothing chosen: waiting will not change that.
        timer.stop();
    }
}
