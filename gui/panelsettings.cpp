#include "panelsettings.h"

#include <QSettings>

namespace GUI {

namespace {

const QString GroupPrefix = QStringLiteral("DOSEDESK_INSTANCE_");
const QString AddressKey = QStringLiteral("/Communication/Address");
// The closing parenthesis belongs to the key: stored settings already use it.
const QString PortKey = QStringLiteral("/Communication/Port)");

} // namespace

const QString PanelSettings::DefaultPort = QStringLiteral("COM1");

QString PanelSettings::group(qint32 instance)
{
    return GroupPrefix + QString::number(instance);
}

void PanelSettings::load(const QSettings& settings, qint32 instance)
{
    const QString prefix = group(instance);
    port = settings.value(prefix + PortKey, DefaultPort).toString();
    bool isNumber = false;
    const int stored = settings.value(prefix + AddressKey, 0).toInt(&isNumber);
    // A damaged or foreign value must not select an address the frames cannot carry.
    address = isNumber && stored >= 0 && stored <= HighestAddress ? stored : 0;
}

void PanelSettings::save(QSettings& settings, qint32 instance) const
{
    const QString prefix = group(instance);
    settings.setValue(prefix + PortKey, port);
    settings.setValue(prefix + AddressKey, address);
}

} // namespace GUI
