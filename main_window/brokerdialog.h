#pragma once

#include "mqttbridge.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

// The bridge to the lab's broker as the user sets it: where the broker is, who the panel is
// there, and whether the broker may command the pump. A broker address that is no address keeps
// the dialogue open with the reason.
class BrokerDialog : public QDialog
{
    Q_OBJECT

public:
    // The help page of the bridge, and its first sentence: every control's description.
    static inline const QString HelpPage = QStringLiteral("mqtt.html");
    static inline const QString Description =
        QStringLiteral("DoseDesk can publish the pump on the lab's MQTT broker, for dashboards, "
                       "Home Assistant and orchestrators.");

    BrokerDialog(const Control::BridgeSettings& settings, QWidget* parent);

    Control::BridgeSettings settings() const;
    void accept() override;

private:
    QLineEdit* field(const QString& objectName, const QString& name, const QString& text);

    Control::BridgeSettings given;
    QLineEdit* broker = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* authority = nullptr;
    QLineEdit* node = nullptr;
    QCheckBox* commands = nullptr;
    QLabel* problem = nullptr;
};
