#pragma once

#include <QGroupBox>
#include <QKeySequence>

#include <optional>

class QLabel;
class QPushButton;
class QTableWidget;

namespace Control {
class PumpFleet;
}

// The pumps of the panel, one row each: name (editable), line and address, model and firmware,
// connection, run state, flow setpoint, delivered volume and the row's own Start, Pause and
// Stop. Choosing a row makes the panel show that pump. It stays hidden while the panel has one
// pump or none.
class PumpsPanel : public QGroupBox
{
    Q_OBJECT

public:
    enum Column { Name, Line, Model, Connection, State, Flow, Delivered, Keys, Columns };
    static const QString Description;
    static const QString HelpPage;
    // Stop all, from anywhere in the panel, whether the list is shown or not.
    static const QKeySequence StopAllKeys;

    PumpsPanel(Control::PumpFleet& fleet, QWidget* parent);

    QTableWidget* table() const { return rows; }
    // A note under the list: why a pump was not added, what a search found.
    void note(const QString& text);
    // Marks the row of the pump the panel shows (none: no row).
    void markShown(std::optional<int> row);

signals:
    // The user chose the pump of this row.
    void pumpChosen(int row);
    // Its run key for the pump the panel shows: the window's own button does it.
    void shownPumpKey(int spezifier);
    void addWanted();
    void stopAllWanted();

private:
    void addRow(int row);
    void showRow(int row);
    void showOrHide();
    QWidget* keysFor(int row);

    Control::PumpFleet& fleet;
    QTableWidget* rows;
    QLabel* noteLine;
    bool filling = false;
};
