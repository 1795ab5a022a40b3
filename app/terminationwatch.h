#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into an orderly end of the event loop, so that the program
// leaves nothing behind when the session, a service manager or Ctrl+C ends it: the control
// socket is removed, the simulated pump stopped and the run record closed by the usual
// teardown. One watch per process.
class TerminationWatch : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatch(QObject* parent = nullptr);
    ~TerminationWatch() override;
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

    // The signal that ended the loop; 0 while none came.
    int received() const { return signalNumber; }

private:
    void take();

    QSocketNotifier* notifier = nullptr;
    int signalNumber = 0;
};
