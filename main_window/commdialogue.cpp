#include "commdialogue.h"

#include "portstatus.h"

#include <QEvent>
#include <QFileInfo>
#include <QPoint>
#include <QTimer>

#include <algorithm>

namespace {

CommDialogue::PortSource& portSource()
{
    static CommDialogue::PortSource source;
    return source;
}

QList<CommDialogue::PortEntry> systemPorts()
{
    if (portSource())
        return portSource()();
    QList<CommDialogue::PortEntry> found;
    const QList<QSerialPortInfo> available = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : available)
        found.append({info.portName(), info.systemLocation(), info});
    return found;
}

} // namespace

CommDialogue::CommDialogue(QWidget* parent)
    : QListWidget(parent)
{
    rebuild(gather(false));
    connectRows();
    watchDevices();
    connect(&deviceFolders, &QFileSystemWatcher::directoryChanged, this, [this] {
        QTimer::singleShot(SettleMs, this, &CommDialogue::followSystem);
        QTimer::singleShot(LateLookMs, this, &CommDialogue::followSystem);
    });
}

void CommDialogue::watchDevices()
{
    // Adapters come and go under /dev, their stable names under /dev/serial/by-id.
    for (const char* name : {"/dev", "/dev/serial", "/dev/serial/by-id"}) {
        const QString folder = QLatin1String(name);
        if (!deviceFolders.directories().contains(folder) && QFileInfo(folder).isDir())
            deviceFolders.addPath(folder);
    }
}

void CommDialogue::setPortSource(PortSource source)
{
    portSource() = std::move(source);
}

void CommDialogue::updatePorts()
{
    // Emptying and refilling the list moves the current row; none of that is a choice.
    // A fresh list from the system, as asked for: the drum then names the choice anew.
    disconnect(rowConnection);
    rebuild(gather(false));
    connectRows();
}

void CommDialogue::followSystem()
{
    const QList<PortEntry> found = gather(true);
    const auto same = [](const PortEntry& a, const PortEntry& b) {
        return a.name == b.name && a.location == b.location;
    };
    if (std::equal(found.cbegin(), found.cend(), entries.cbegin(), entries.cend(), same))
        return;
    disconnect(rowConnection);
    rebuild(found);
    for (const PortEntry& entry : std::as_const(entries)) {
        if (!choice.location.isEmpty() && entry.location == choice.location)
            selectPort(entry.name);
    }
    connectRows();
    // A /dev/serial/by-id folder made for the first adapter is watched from now on.
    watchDevices();
}

void CommDialogue::addExtraPort(const QString& path)
{
    if (path.isEmpty() || extraPaths.contains(path))
        return;
    extraPaths.append(path);
    updatePorts();
}

QList<CommDialogue::PortEntry> CommDialogue::gather(bool keepChoice) const
{
    QList<PortEntry> found = systemPorts();
    for (const QString& path : std::as_const(extraPaths))
        found.append({path, path, QSerialPortInfo()});
    if (!keepChoice || choice.location.isEmpty())
        return found;
    for (PortEntry& entry : found) {
        if (entry.location != choice.location)
            continue;
        // A path listed for good is marked when its device is away.
        if (!PortStatus::exists(PortStatus::locationOf(entry.location)))
            entry.name += QLatin1String(MissingMark);
        return found;
    }
    // A vanished system port stays listed while it is the chosen one.
    found.append({choice.name + QLatin1String(MissingMark), choice.location, choice.info});
    return found;
}

void CommDialogue::rebuild(const QList<PortEntry>& found)
{
    entries = found;
    ports.clear();
    for (const PortEntry& entry : std::as_const(entries)) {
        if (!entry.name.endsWith(QLatin1String(MissingMark)) && !extraPaths.contains(entry.name))
            ports.append(entry.info);
    }

    clear();
    for (const PortEntry& entry : std::as_const(entries))
        addItem(entry.name);
    sortItems(Qt::AscendingOrder);
}

void CommDialogue::connectRows()
{
    rowConnection = connect(this, &QListWidget::currentRowChanged, this,
                            &CommDialogue::setComPortFromList);
}

void CommDialogue::setComPortFromList(int row)
{
    // A row without an item (e.g. scrolled past the last entry) names no port.
    const QListWidgetItem* chosen = item(row);
    if (chosen) {
        const QString name = chosen->text();
        for (const PortEntry& entry : std::as_const(entries)) {
            if (entry.name == name) {
                choice = {entry.name.chopped(entry.name.endsWith(QLatin1String(MissingMark))
                                                ? qsizetype(qstrlen(MissingMark))
                                                : 0),
                          entry.location, entry.info};
                emit comPortChange(entry.info);
                emit comPortPathChange(entry.location);
                return;
            }
        }
    }
    choice = PortEntry();
    emit comPortChange(QSerialPortInfo());
    emit comPortPathChange(QString());
}

void CommDialogue::selectPort(const QString& name)
{
    for (int row = count() - 1; row >= 0; --row) {
        QListWidgetItem* candidate = item(row);
        if (candidate->text() == name) {
            setCurrentItem(candidate, QItemSelectionModel::SelectCurrent);
            // The drum takes the entry under its middle at the next paint: keep this one there.
            scrollToItem(candidate, QAbstractItemView::PositionAtCenter);
            return;
        }
    }
}

bool CommDialogue::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        const QPoint middle(width() / 2, height() / 2);
        QListWidgetItem* centred = itemAt(middle);
        if (centred != currentItem())
            setCurrentItem(centred);
    }
    return QListWidget::viewportEvent(event);
}
