#pragma once

#include <QString>

class QSettings;

namespace GUI {

// What one copy of the panel keeps between runs: the port it opened last and the pump address
// it talks to, stored below a group of the copy's own. The keys and the value formats are those
// of every earlier version, so that a lab's stored choices load unchanged.
class PanelSettings
{
public:
    // The highest address a frame carries.
    static constexpr int HighestAddress = 99;
    static const QString DefaultPort;

    // The group below which copy `instance` stores its values.
    static QString group(qint32 instance);

    // Reads the values of copy `instance`; a missing one takes its default, and so does an
    // address that is no number from 0 to HighestAddress.
    void load(const QSettings& settings, qint32 instance);
    void save(QSettings& settings, qint32 instance) const;

    QString port = DefaultPort;
    int address = 0;
};

} // namespace GUI
