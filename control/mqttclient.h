#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;
class QSocketNotifier;
class QThread;

namespace Control {

// Where the broker is, as the user writes it: mqtt://HOST[:PORT] or mqtts://HOST[:PORT].
struct BrokerAddress
{
    QString host;
    int port = 0;
    bool tls = false;
    QString error; // why the text names no broker; empty when it does

    static constexpr int PlainPort = 1883;
    static constexpr int TlsPort = 8883;
    static BrokerAddress parse(const QString& url);
};

// One message from the broker, with what MQTT 5 says about where its answer goes.
struct MqttMessage
{
    QString topic;
    QByteArray payload;
    bool retained = false;
    QString responseTopic;
    QByteArray correlationData;
};

// A connection to an MQTT 5 broker over libmosquitto, run on the event loop of the thread it
// lives on: the socket is watched for readiness. Only looking up the broker's host name blocks,
// which is why the bridge gives the client a thread of its own. A lost or refused connection is
// tried again after a pause that doubles each time, up to a minute; stateChanged() says why
// meanwhile.
class MqttClient : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        BrokerAddress broker;
        QString caFile;
        QString user;
        QString password;
        QString clientId;
        QString willTopic; // its payload is "offline", retained
        int keepAliveSeconds = 30;
    };
    static constexpr int FirstPauseMs = 1000;
    static constexpr int LongestPauseMs = 60000;
    // How often the connection is looked after: keep-alive pings, a handshake under way.
    static constexpr int TickMs = 100;
    // What the will says, and what the client says itself when it leaves in order.
    static inline const QByteArray Offline = QByteArrayLiteral("offline");

    explicit MqttClient(const Options& options, QObject* parent = nullptr);
    ~MqttClient() override;
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Connects in the background; connected() or stateChanged() follow.
    void start();
    bool isConnected() const { return online; }
    // Queued while not connected is not kept: whoever publishes republishes on connected().
    void publish(const QString& topic, const QByteArray& payload, bool retain,
                 const QByteArray& correlationData = {});
    void subscribe(const QString& filter);
    // Publishes the will's "offline" itself, then leaves in order.
    void leave();
    // Stops watching and moves to the thread given, where it is to be destroyed.
    void moveHome(QThread* home);

signals:
    void connected();
    void disconnected();
    void stateChanged(const QString& text);
    void messageReceived(const Control::MqttMessage& message);

private:
    static void onConnect(mosquitto*, void* self, int reason, int, const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property* properties);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    void connectNow();
    void service();
    void lost(const QString& why);
    void watchSocket();
    void setState(const QString& text);
    QString reasonOf(int code) const;

    Options options;
    mosquitto* client = nullptr;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;
    // Children, so that they move with the client.
    QTimer tick{this};
    QTimer retry{this};
    int pauseMs = FirstPauseMs;
    bool online = false;
    bool leaving = false;
    QString state;
    QString refusal;   // what the broker said when it refused the connection
    QString lastError; // the library's last error report (a TLS failure's reason)
};

} // namespace Control

Q_DECLARE_METATYPE(Control::MqttMessage)
