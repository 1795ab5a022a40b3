#pragma once

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

class QSettings;

namespace GUI {

// One pump of the panel: an address on a line.
struct PumpEntry
{
    QString name;
    QString port; // the line's device path or network address, as the port is chosen
    int address = 0;
};

// The pumps one copy of the panel works with, in the order they were added, kept below the
// copy's own group like its port. Each (line, address) pair is in it once.
class PumpRoster : public QObject
{
    Q_OBJECT

public:
    explicit PumpRoster(QObject* parent = nullptr) : QObject(parent) {}

    static QString defaultName(int address);

    // Adds the pump; the reason when it is refused (empty: added).
    QString add(PumpEntry entry);
    // A pump named as the user or a script names it: its name, else its address.
    std::optional<int> find(const QString& nameOrAddress) const;
    std::optional<int> indexOf(const QString& port, int address) const;
    // An empty name gives the pump its default name back.
    void rename(int row, const QString& name);
    void remove(int row);

    const std::vector<PumpEntry>& pumps() const { return entries; }
    int count() const { return int(entries.size()); }
    const PumpEntry& at(int row) const { return entries.at(std::size_t(row)); }

    // Reads the list stored below group; entries that are no pump are skipped.
    void load(QSettings& settings, const QString& group);
    void save(QSettings& settings, const QString& group) const;

signals:
    void added(int row);
    void renamed(int row);
    void removed(int row);

private:
    std::vector<PumpEntry> entries;
};

} // namespace GUI
