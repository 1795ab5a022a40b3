#include "commdialogue.h"

#include <QEvent>
#include <QPoint>

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
    rebuild();
}

void CommDialogue::setPortSource(PortSource source)
{
    portSource() = std::move(source);
}

void CommDialogue::updatePorts()
{
    // Emptying and refilling the list moves the current row; none of that is a choice.
    disconnect(rowConnection);
    rebuild();
}

void CommDialogue::addExtraPort(const QString& path)
{
    if (path.isEmpty() || extraPaths.contains(path))
        return;
    extraPaths.append(path);
    updatePorts();
}

void CommDialogue::rebuild()
{
    entries = systemPorts();
    ports.clear();
    for (const PortEntry& entry : std::as_const(entries))
        ports.append(entry.info);
    for (const QString& path : std::as_const(extraPaths))
        entries.append({path, path, QSerialPortInfo()});

    clear();
    for (const PortEntry& entry : std::as_const(entries))
        addItem(entry.name);
    sortItems(Qt::AscendingOrder);

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
                emit comPortChange(entry.info);
                emit comPortPathChange(entry.location);
                return;
            }
        }
    }
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
