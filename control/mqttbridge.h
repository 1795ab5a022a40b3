#pragma once

#include "mqttclient.h"
#include "pumplink.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class QSettings;

namespace GUI {
class PanelSession;
class RunRecorder;
} // namespace GUI

namespace Control {

class PumpSession;
class PumpState;
struct Request;

// What the bridge to the lab's broker is told: stored per copy, each value replaced by the
// command line's where that gives one.
struct BridgeSettings
{
    QString broker; // mqtt://HOST:PORT or mqtts://HOST:PORT; empty: no bridge
    QString user;
    QString password;
    QString passwordFile; // read at start; wins over a stored password
    QString caFile;
    QString node; // empty: the host name
    bool commands = false;

    void load(const QSettings& settings, qint32 instance);
    // Stores what the user set; a password file given on the command line is not stored.
    void save(QSettings& settings, qint32 instance) const;
    // The client's options, or the reason there are none (a wrong address, a password file
    // that cannot be read, a node name the topics cannot carry).
    MqttClient::Options clientOptions(int address, QString* error) const;
    QString nodeName() const;
};

// The pump on the lab's MQTT broker: its availability, state and events under
// dosedesk/NODE/ADDRESS/, Home Assistant's discovery configs, and, when allowed, commands on
// .../cmd run like the verbs of dosedeskctl through the panel's queue, each answered on
// .../result (or the MQTT 5 response topic, with its correlation data).
class MqttBridge : public QObject
{
    Q_OBJECT

public:
    static constexpr int StateIntervalMs = 500;
    // Commands waiting behind the one running; more are refused.
    static constexpr int MostWaiting = 16;
    // Correlation data remembered, so that a command delivered twice runs once.
    static constexpr int RememberedCommands = 64;
    static constexpr int LongestCommand = 4096;
    static inline const QString TopicRoot = QStringLiteral("dosedesk");
    static inline const QString DiscoveryRoot = QStringLiteral("homeassistant");

    // The bridge follows the pump through what the session's queue runs.
    MqttBridge(GUI::PanelSession& session, const BridgeSettings& settings,
               QObject* parent = nullptr);
    ~MqttBridge() override;

    // Publishes the pump at the address, connecting in the background; false with the reason
    // when the settings cannot work.
    bool start(int pumpAddress, QString* error);
    // Says "offline" and leaves the broker in order.
    void stop();
    QString topic(const QString& leaf) const;

signals:
    void stateChanged(const QString& text);
    // A command from the broker and what became of it, for the window's verdict line.
    void commandNoted(const QString& text);

private:
    struct Remembered
    {
        QByteArray correlation;
        QJsonObject result; // empty while it runs
    };

    void onConnected();
    // Hands the work to the client on its thread.
    void toClient(std::function<void(MqttClient*)> work);
    void publish(const QString& topic, const QByteArray& payload, bool retain,
                 const QByteArray& correlation = {});
    void publishDiscovery();
    QJsonObject device(const QString& id) const;
    void publishState();
    void publishAvailability();
    void publishEvent(const QString& event);
    void received(const MqttMessage& message);
    void take(const MqttMessage& message);
    // The refusal of a command, or none with the request filled in.
    QJsonObject judge(const MqttMessage& message, Request& request) const;
    void runNext();
    // A stop goes first: what runs is ended, what waits is refused.
    void putStopFirst(const Request& stop, const MqttMessage& message);
    void answer(const MqttMessage& message, const QJsonObject& result);
    void remember(const QByteArray& correlation, const QJsonObject& result);

    GUI::PanelSession& panel;
    std::unique_ptr<PumpState> state;
    PumpState& pump;
    BridgeSettings settings;
    int address = 0;
    PumpLink link;
    std::unique_ptr<MqttClient> client;
    struct Command
    {
        std::shared_ptr<Request> request;
        MqttMessage message;
    };
    std::unique_ptr<PumpSession> session; // the one for the command running; none: idle
    Command running;
    std::deque<Command> waiting;
    std::deque<Remembered> remembered;
    // The client's own: a broker whose name takes long to look up never holds up the window.
    QThread brokerThread;
    bool brokerOnline = false;
    QTimer stateHoldoff;
    bool stateDirty = false;
    QByteArray lastAvailability;
};

} // namespace Control
