#pragma once

#include "allcommands.h"
#include "communication.h"
#include "loggingcommandstack.h"
#include "mainform.h"
#include "ptypump.h"
#include "refreshtimer.h"

#include <QElapsedTimer>
#include <QList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

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
    QList<Run> runs;

private:
    const Communication& link;
};

// Measures how long the GUI thread's event loop was kept from running: a short timer notes the
// largest gap between two of its ticks.
class StallProbe : public QObject
{
public:
    static constexpr int TickMs = 2;

    StallProbe();
    void reset();
    qint64 longestStallMs() const { return longest; }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
};

// The program's object graph composed as the entry point composes it, with polling on, talking
// to a simulated pump (served by its own thread at 9600 baud) through a symbolic link that stays
// the same when the pump is unplugged and plugged in again.
class PanelRig
{
public:
    struct Options
    {
        bool logCyclicFrames = false;
        bool offerPump = true; // off: the window starts on whatever port the settings name
        QVariantMap storedSettings; // this copy's settings (keys below its prefix) at start
    };

    PanelRig() : PanelRig(Options()) {}
    explicit PanelRig(const Options& options);
    ~PanelRig();
    PanelRig(const PanelRig&) = delete;
    PanelRig& operator=(const PanelRig&) = delete;

    Ui::mainScreen& ui() { return window->form(); }
    QString connectionText() { return ui().labelConnectionState->text(); }
    bool showsConnected() { return connectionText() == ConnectedText; }

    // Runs the event loop until the condition holds; the time it took, or -1 after the limit.
    qint64 waitUntil(const std::function<bool()>& condition, int limitMs);
    // Runs the event loop for this long, calling watch after every pass (when given).
    void runFor(int ms, const std::function<void()>& watch = {});

    // Queues SetDispenseVolumeNumber with this count the way the cycle field does.
    void typeCycles(int count);
    // Cycle counts of the SetDispenseVolumeNumber frames the pump received, in arrival order.
    QList<int> cyclesReceived() const;
    // Cycle counts of the SetDispenseVolumeNumber frames the stack handed to the line, and of
    // those handed to a closed line.
    QList<int> cyclesRun(bool onClosedLine) const;
    // Reading frames the pump has received so far (the polling).
    int readingFramesReceived() const;

    // The user picks the pump's port again: the port list is rebuilt and the link chosen.
    void choosePortAgain();

    // The longest the event loop may be held: one exchange at most (the write, 20 ms; the
    // answer wait, 120 ms of silence; the wait for a missing check byte, 120 ms; a long answer
    // at 9600 baud), plus the slack of a busy machine.
    static constexpr qint64 OneExchangeMs = 20 + 120 + 120 + 25;
    static constexpr qint64 StallLimitMs = OneExchangeMs + 150;

    static const QString ConnectedText;
    static const QString DisconnectedOpenText;
    static const QString DisconnectedUnavailableText;
    static const QString DisconnectedMissingText;

    QTemporaryDir folder;
    Simulator::PtyPump pump;
    Communication communication;
    std::vector<std::unique_ptr<BusinessLogic::Command>> commands;
    RecordingStack stack{communication};
    std::vector<BusinessLogic::Command*> table;
    GUI::RefreshTimer refresher;
    std::unique_ptr<mainForm> window;
    StallProbe stalls;

private:
    static Simulator::PtyPump::Options pumpOptions(const QString& link);
};
