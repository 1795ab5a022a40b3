#pragma once

#include <QFileSystemWatcher>
#include <QList>
#include <QListWidget>
#include <QMetaObject>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

#include <functional>

class QEvent;

// One-row "drum" list of the serial ports; the entry in the middle of the list is the chosen port.
class CommDialogue : public QListWidget
{
    Q_OBJECT

public:
    // One choosable port: its list text, the device path that opens it and, for ports the
    // system reports, their description (null for ports known only by path).
    struct PortEntry
    {
        QString name;
        QString location;
        QSerialPortInfo info;
    };
    using PortSource = std::function<QList<PortEntry>()>;

    explicit CommDialogue(QWidget* parent = nullptr);

    // Makes the entry with that text current, searching from the last row.
    void selectPort(const QString& name);

    // Lists a device by its path as well (pseudo-terminals, /dev/serial/by-id links), which the
    // system's port enumeration does not report; kept across rebuilds.
    void addExtraPort(const QString& path);
    QStringList extraPorts() const { return extraPaths; }

    // Replaces where the system ports come from (an empty source restores the system's own list).
    static void setPortSource(PortSource source);

    // The ports the system reported at the last build, in its order (not sorted).
    QList<QSerialPortInfo> ports;

    // Shown after the name of the chosen port while its device is away.
    static constexpr const char* MissingMark = " (missing)";
    // Pause after a change under /dev before the list is read again, and a second, later look
    // for devices the system is slow to describe.
    static constexpr int SettleMs = 300;
    static constexpr int LateLookMs = 1500;

signals:
    void comPortChange(QSerialPortInfo portInfo);
    // Emitted right after comPortChange with the device path of the same choice (empty when
    // nothing matched), so that ports without a QSerialPortInfo can be opened too.
    void comPortPathChange(QString path);

public slots:
    void setComPortFromList(int row);
    void updatePorts();
    // Rebuilds the list when the system's ports or the chosen port's presence changed, keeping
    // the choice and reporting none.
    void followSystem();

protected:
    bool viewportEvent(QEvent* event) override;

private:
    // The system's ports and the extra paths; with keepChoice the chosen port is marked when its
    // device is away, and listed even when the system no longer reports it.
    QList<PortEntry> gather(bool keepChoice) const;
    void rebuild(const QList<PortEntry>& found);
    void connectRows();
    void watchDevices();

    QList<PortEntry> entries; // system ports in reported order, then the extra paths
    QStringList extraPaths;
    QMetaObject::Connection rowConnection;
    PortEntry choice; // the last choice reported, kept while its device is away
    QFileSystemWatcher deviceFolders;
};
