#pragma once

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
}

namespace Control {

// The pumps on the panel's line, each at its own address of the bus, and what each last told.
// The pump the panel is set to is read by the panel's own refresh cycle; every other pump is
// read here once a round, between the panel's readings on the one queue of the line, so that
// one exchange at a time is on the bus. A pump that does not answer is asked one reading a
// round, so that its silence costs the others little.
class PumpFleet : public QObject
{
    Q_OBJECT

public:
    // Short enough that a reading delayed by the queue still comes within a second.
    static constexpr int RoundMs = 750;
    // Rows whose pump is on another line than the panel's show this and are not read.
    static inline const QString OtherLine = QStringLiteral("on another line");

    explicit PumpFleet(GUI::PanelSession& session, QObject* parent = nullptr);
    ~PumpFleet() override;

    GUI::PumpRoster& roster() { return pumps; }
    const GUI::PumpRoster& roster() const { return pumps; }
    const PumpState& state(int row) const { return *states.at(std::size_t(row)); }
    // The connection as the row shows it: the pump's, or that it is on another line.
    QString connection(int row) const;

    // Adds the pump at this address of the line; the reason when refused (empty: added).
    QString add(const QString& port, int address, const QString& name = {});
    // The line's path as it was chosen (the line opens on its own thread, later).
    void setLine(const QString& path) { line = path; }
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

    // One object per pump: name, port, address, model, firmware, connection, state, flow,
    // delivered, and whether the panel shows it.
    QJsonArray toJson() const;

signals:
    void rowChanged(int row);

private:
    void addState(int row);
    void readRound();
    void read(int address, const BusinessLogic::CommandTraits& reading, qint32 parameter = 0);
    bool onLine(int row) const;
    void send(int address, const BusinessLogic::CommandTraits& key);

    GUI::PanelSession& session;
    GUI::PumpRoster pumps;
    std::vector<std::unique_ptr<PumpState>> states;
    std::optional<int> panelAddress;
    QString line;
    bool polling = true;
    QTimer round;
    // Per address: readings queued and not answered yet, the turn of the rotating reading, and
    // whether the last reading went unanswered.
    std::map<int, int> waiting;
    std::map<int, int> turn;
    std::map<int, bool> silent;
};

} // namespace Control
