#pragma once

#include "commandtable.h"
#include "communication.h"
#include "constants.h"
#include "instancenumber.h"
#include "loggingcommandstack.h"
#include "mainform.h"
#include "panelsession.h"
#include "ptypump.h"
#include "refreshtimer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>

#include <QMutex>

#include <functional>
#include <memory>
#include <vector>

// The child of that name and type, which the test cannot do without.
template <typename Widget> Widget* child(QObject* parent, const char* name)
{
    auto* found = parent->findChild<Widget*>(QLatin1String(name));
    if (!found)
        qFatal("no %s in %s", name, qPrintable(parent->objectName()));
    return found;
}

// The logging command stack as the program builds it, noting every queue clear and every logged
// command it ran, so that a test can account for each command the user queued.
class RecordingStack : public BusinessLogic::LoggingCommandStack
{
public:
    struct Run
    {
        QByteArray frame; // as handed to the line, check byte included
        bool lineOpen = false;
    };

    explicit RecordingStack(const Communication& link) : link(link) {}

    void clear() override;
    void logCommand(Platform::SystemTime* time) override;

    int clears = 0;
    // What ran so far; the stack runs on the line's thread.
    QList<Run> runs() const;
    void forgetRuns();

private:
    const Communication& link;
    mutable QMutex runsLock;
    QList<Run> ran;
};

// The program's object graph around one window, built in the program's order, talking to a
// simulated pump on a pseudo-terminal (served by its own thread).
class WindowRig
{
public:
    struct Options
    {
        int pumpAddress = 0;
        QList<Simulator::PtyPump::BusPump> furtherPumps; // on the same line
        bool withPump = true;
        bool polling = false; // off: only what the window's controls send reaches the pump
        QStringList extraPorts;
        bool freshSettings = true; // forget this copy's stored port and address first
        // The pump paced at 9600 baud behind a symbolic link that stays when it is unplugged
        // and plugged in again; polling on, its frames kept out of the panes unless logged.
        bool realLine = false;
        bool logCyclicFrames = false;
        QVariantMap storedSettings; // this copy's settings (keys below its prefix) at start
        Simulator::Faults pumpFaults; // in force from the pump's first frame on
        double pumpTrueFactor = 1.0;  // what the pump really delivers of what it meters
        // The line on its own thread, as the program runs it; off, the queue runs only when the
        // test's thread turns its event loop.
        bool lineThread = true;
    };

    explicit WindowRig(const Options& options);
    WindowRig() : WindowRig(Options()) {}
    ~WindowRig();
    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    // A window whose line leads nowhere.
    static Options withoutPump();
    static Options onRealLine();

    Ui::mainScreen& ui() { return window->form(); }
    QString connectionText() { return ui().labelConnectionState->text(); }
    bool showsConnected() { return connectionText() == ConnectedText; }

    // The text between the STX and ETX of every frame the pump received.
    QList<QByteArray> bodies() const;
    // Those of them that set or move something: everything but the readings.
    QList<QByteArray> commandBodies() const;
    // Waits until the pump has received a frame with this body; true when it came in time.
    bool waitForBody(const QByteArray& body, int timeoutMs = 5000);
    // Everything the pump received up to a marker queued behind whatever is queued now, so that
    // a command that should not have been sent cannot still be on its way.
    QList<QByteArray> bodiesUntilMarker();

    // Runs the event loop until the condition holds; the time it took, or -1 after the limit.
    qint64 waitUntil(const std::function<bool()>& condition, int limitMs = 10000);
    // Runs the event loop for this long, calling watch after every pass (when given).
    void runFor(int ms, const std::function<void()>& watch = {});

    // Queues SetDispenseVolumeNumber with this count the way the cycle field does.
    void typeCycles(int count);
    // Cycle counts of the SetDispenseVolumeNumber frames the pump received, in arrival order.
    QList<int> cyclesReceived() const;
    // Cycle counts of those the stack handed to an open (or to a closed) line.
    QList<int> cyclesRun(bool onClosedLine) const;
    // Reading frames the pump has received so far (the polling).
    int readingFramesReceived() const;
    // The user picks the pump's port again: the port list is rebuilt and the link chosen.
    void choosePortAgain();

    static const QString ConnectedText;
    static const QString DisconnectedOpenText;
    static const QString DisconnectedMissingText;

    QTemporaryDir folder;
    Simulator::PtyPump pump;
    GUI::PanelSession session{
        [](const Communication& link) { return std::make_unique<RecordingStack>(link); }};
    Communication& communication = session.link();
    // The session's stack is the recording one made just above.
    RecordingStack& stack = static_cast<RecordingStack&>(session.stack());
    std::vector<BusinessLogic::Command*>& table = session.table();
    GUI::RefreshTimer& refresher = session.refresher();
    std::unique_ptr<mainForm> window;
};
