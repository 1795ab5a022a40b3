#include "pumproster.h"

#include "readings.h"

#include <QSettings>

namespace GUI {

namespace {

const QString PumpListKey = QStringLiteral("/Pumps");
const QString PumpNameKey = QStringLiteral("Name");
const QString PumpPortKey = QStringLiteral("Port");
const QString PumpAddressKey = QStringLiteral("Address");

} // namespace

QString PumpRoster::defaultName(int address)
{
    return QStringLiteral("Pump %1").arg(address);
}

QString PumpRoster::add(PumpEntry entry)
{
    if (entry.address < 0 || entry.address >= Engine::SearchedAddresses)
        return QStringLiteral("address %1 is not one of 0 to %2")
            .arg(entry.address)
            .arg(Engine::SearchedAddresses - 1);
    if (entry.port.isEmpty())
        return QStringLiteral("no line is chosen for the pump");
    if (indexOf(entry.port, entry.address))
        return QStringLiteral("the pump at address %1 on %2 is in the list already")
            .arg(entry.address)
            .arg(entry.port);
    entry.name = entry.name.trimmed();
    if (entry.name.isEmpty())
        entry.name = defaultName(entry.address);
    if (find(entry.name))
        return QStringLiteral("a pump is called \"%1\" already").arg(entry.name);
    entries.push_back(entry);
    emit added(count() - 1);
    return {};
}

std::optional<int> PumpRoster::find(const QString& nameOrAddress) const
{
    for (int row = 0; row < count(); ++row) {
        if (at(row).name.compare(nameOrAddress, Qt::CaseInsensitive) == 0)
            return row;
    }
    bool isNumber = false;
    const int address = nameOrAddress.toInt(&isNumber);
    for (int row = 0; isNumber && row < count(); ++row) {
        if (at(row).address == address)
            return row;
    }
    return std::nullopt;
}

std::optional<int> PumpRoster::indexOf(const QString& port, int address) const
{
    for (int row = 0; row < count(); ++row) {
        if (at(row).port == port && at(row).address == address)
            return row;
    }
    return std::nullopt;
}

void PumpRoster::rename(int row, const QString& name)
{
    const QString given = name.trimmed();
    const std::optional<int> other = given.isEmpty() ? std::nullopt : find(given);
    PumpEntry& entry = entries.at(std::size_t(row));
    // A name another pump has, or a number naming another pump's address, would make the
    // pump a script asks for ambiguous: the old name stays.
    if (other && *other != row)
        return emit renamed(row);
    entry.name = given.isEmpty() ? defaultName(entry.address) : given;
    emit renamed(row);
}

void PumpRoster::remove(int row)
{
    entries.erase(entries.begin() + row);
    emit removed(row);
}

void PumpRoster::load(QSettings& reader, const QString& group)
{
    const int size = reader.beginReadArray(group + PumpListKey);
    std::vector<PumpEntry> stored;
    for (int i = 0; i < size; ++i) {
        reader.setArrayIndex(i);
        bool isNumber = false;
        PumpEntry entry{reader.value(PumpNameKey).toString(), reader.value(PumpPortKey).toString(),
                        reader.value(PumpAddressKey).toInt(&isNumber)};
        if (isNumber)
            stored.push_back(entry);
    }
    reader.endArray();
    for (const PumpEntry& entry : stored)
        add(entry);
}

void PumpRoster::save(QSettings& settings, const QString& group) const
{
    settings.remove(group + PumpListKey);
    settings.beginWriteArray(group + PumpListKey, count());
    for (int i = 0; i < count(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(PumpNameKey, at(i).name);
        settings.setValue(PumpPortKey, at(i).port);
        settings.setValue(PumpAddressKey, at(i).address);
    }
    settings.endArray();
}

} // namespace GUI
