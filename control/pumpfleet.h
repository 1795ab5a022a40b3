#pragma once

#include "command.h"
#include "commandtable.h"
#include "pumproster.h"
#include "pumpstate.h"

#include <QJsonArray>
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace GUI {
class PanelSession;
class RunRecorder;
} // namespace GUI

namespace Control {

// The pumps of the panel, each an address on a line, and what each last told. The pump the
// panel is set to is read by the panel's own refresh cycle; every other pump is read here once
// a round, between the panel's readings on the one queue of its line, so that one exchange at a
// time is on a bus. A line other than the panel's has a session of its own, with its own thread
// and queue, so that lines run side by side. A pump that does not answer is asked one reading a
// round, so that its silence costs the others little.
class PumpFleet : public QObject
{
    Q_OBJECT

public:
    // Short enough that a reading delayed by the queue still comes within a second.
    static constexpr int RoundMs = 750;
    // The run keys a row has, and their names as the row and its verdicts show them.
    struct RunKey
    {
        const BusinessLogic::CommandTraits* traits;
        const char* name;
    };
    static const RunKey RunKeys[3];

    explicit PumpFleet(GUI::PanelSession& session, QObject* parent = nullptr);
    ~PumpFleet() override;

    GUI::PumpRoster& roster() { return pumps; }
    const GUI::PumpRoster& roster() const { return pumps; }
    const PumpState& state(int row) const { return *states.at(std::size_t(row)); }
    QString connection(int row) const { return state(row).connection(); }

    // Adds the pump at this address of the line (empty: the panel's); the reason when refused
    // (empty: added). Another line is opened at once: one that cannot be opened is refused.
    QString add(const QString& port, int address, const QString& name = {});
    // The panel's line as it was chosen (the line opens on its own thread, later). The pumps of
    // the line the panel had before are read on a line of their own from now on.
    void setLine(const QString& path);
    QString linePath() const;

    // The pump the panel's own readings are about; it is not read here besides.
    void setPanelAddress(std::optional<int> address) { panelAddress = address; }
    std::optional<int> panelPump() const;
    // Off: the other pumps are not read (the panel's cyclic readings are off too).
    void setPolling(bool on) { polling = on; }

    // KY0 to every pump on the line, ahead of every reading queued; with no pump listed, to
    // the pump the panel is set to. Without panelPump, the panel's pump is left to the caller
    // (the window stops it with its own Stop). The number of stops queued.
    int stopAll(bool panelPump = true);
    // A run key (start, pause, stop) for the pump of this row, as urgent as a click on it.
    void runKey(int row, const BusinessLogic::CommandTraits& key);

    // Keeps the run record of every listed pump in this folder under this copy name (the
    // window's record): each pump's runs in rows with its address, whichever pump the window
    // shows meanwhile.
    void keepRecords(const QString& folder, const QString& copyName);

    // One object per pump: name, port, address, model, firmware, connection, state, flow,
    // delivered, and whether the panel shows it.
    QJsonArray toJson() const;

signals:
    void rowChanged(int row);
    // What became of a run key sent to the pump of this row: "Media: KY1 answered".
    void verdict(int row, const QString& text);

private:
    using PumpKey = std::pair<QString, int>;

    void addState(int row);
    void addRecorder(int row);
    // Makes each row's state follow the session of its line, after the lines changed.
    void followLines();
    void readRound();
    void read(GUI::PanelSession& line, const PumpKey& key,
              const BusinessLogic::CommandTraits& reading, qint32 parameter = 0);
    bool onPanelLine(int row) const;
    // The session a row's pump is reached through: the panel's, or its line's own.
    GUI::PanelSession& sessionOf(int row);
    // The fleet's own session of a line other than the panel's, opened on first use; one that
    // cannot be opened looks out for its device as a lost line does.
    GUI::PanelSession& lineSession(const QString& path);
    void send(GUI::PanelSession& line, const PumpKey& pump,
              const BusinessLogic::CommandTraits& key);
    // "Media: Start taken", "Pump 5: Stop refused by the pump".
    static QString verdictText(const QString& pump, const BusinessLogic::CommandTraits& key,
                               Answer::Outcome outcome);

    GUI::PanelSession& session;
    std::map<QString, std::unique_ptr<GUI::PanelSession>> otherLines;
    GUI::PumpRoster pumps;
    std::vector<std::unique_ptr<PumpState>> states;
    // One per row once records are kept; each follows its pump across changes of the lines.
    std::vector<std::unique_ptr<GUI::RunRecorder>> recorders;
    QString recordFolder;
    QString recordCopy;
    std::optional<int> panelAddress;
    QString line;
    bool polling = true;
    QTimer round;
    // Per pump (line, address): readings queued and not answered yet, the turn of the rotating
    // reading, and whether the last reading went unanswered.
    std::map<PumpKey, int> waiting;
    std::map<PumpKey, int> turn;
    std::map<PumpKey, bool> silent;
};

} // namespace Control
