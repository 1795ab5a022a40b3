#pragma once

#include "command.h"
#include "communication.h"
#include "linereopener.h"
#include "loggingcommandstack.h"
#include "pumpsearch.h"
#include "pumpvalues.h"
#include "refreshtimer.h"

#include <QThread>

#include <functional>
#include <memory>
#include <vector>

namespace GUI {

class RunRecorder;

// The objects below the window: the link, every pump command on it, the logging command stack,
// the command table, the refresh cycle and the search. They are built in the order each needs the
// one before and torn down in reverse. The table starts empty; whoever attaches the commands fills
// it.
class PanelSession
{
public:
    // Builds the command stack on the session's link; a test may hand in a stack that also
    // records what it ran.
    using StackFactory =
        std::function<std::unique_ptr<BusinessLogic::LoggingCommandStack>(const Communication&)>;

    explicit PanelSession(const StackFactory& makeStack = {});
    ~PanelSession();
    PanelSession(const PanelSession&) = delete;
    PanelSession& operator=(const PanelSession&) = delete;

    Communication& link() { return communication; }
    const std::vector<std::unique_ptr<BusinessLogic::Command>>& commands() const
    {
        return allCommands;
    }
    BusinessLogic::LoggingCommandStack& stack() { return *commandStack; }
    std::vector<BusinessLogic::Command*>& table() { return commandTable; }
    const std::vector<BusinessLogic::Command*>& table() const { return commandTable; }
    RefreshTimer& refresher() { return refreshCycle; }
    // The one search of the bus, whoever asks for it.
    PumpSearch& search() { return pumpSearch; }
    // Brings a lost line back by itself once its device is there again.
    LineReopener& reopener() { return lineReopener; }
    // The model of the pump on the line, as the window shows it from the pump's identity
    // answer; unknown until then. Values from scripts are judged by its limits, as the
    // window's fields are.
    Engine::Model pumpModel() const { return model; }
    void setPumpModel(Engine::Model pumpModel) { model = pumpModel; }
    // The run record the window keeps, for notes from scripts and protocols; none without one.
    RunRecorder* runRecorder() const { return recorder; }
    void setRunRecorder(RunRecorder* runRecorder) { recorder = runRecorder; }

    // Moves the line, its commands, the queue and the reopener to a thread of their own, so
    // that whoever waits for events here (the window) never waits for the pump: commands are
    // queued from here, results come back as queued signals. Without it, all runs on the
    // caller's thread (a program with nothing else to do).
    void startLineThread();

    // Puts every command in its place in the table, for a session without a window (the
    // window's attachCommand does it while it connects the controls).
    void fillTable();

private:
    Communication communication;
    std::vector<std::unique_ptr<BusinessLogic::Command>> allCommands;
    std::unique_ptr<BusinessLogic::LoggingCommandStack> commandStack;
    std::vector<BusinessLogic::Command*> commandTable;
    RefreshTimer refreshCycle;
    PumpSearch pumpSearch;
    LineReopener lineReopener;
    QThread lineThread;
    Engine::Model model = Engine::Model::Unknown;
    RunRecorder* recorder = nullptr;

    std::vector<QObject*> lineObjects();
};

} // namespace GUI
