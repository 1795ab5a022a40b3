#include "mqttclient.h"

#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <QUrl>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Control {

namespace {

constexpr int AtLeastOnce = 1;
// A clean leave writes what is queued first, but never waits long for a broker that is gone.
constexpr int LeaveRounds = 10;
constexpr int LeaveRoundMs = 50;

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

const char* orNull(const QByteArray& text)
{
    return text.isEmpty() ? nullptr : text.constData();
}

} // namespace

BrokerAddress BrokerAddress::parse(const QString& text)
{
    BrokerAddress address;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        || url.host().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/"))) {
        address.error = QStringLiteral("\"%1\" is no broker address; accepted: mqtt://HOST:PORT "
                                       "or mqtts://HOST:PORT")
                            .arg(text);
        return address;
    }
    address.tls = scheme == QLatin1String("mqtts");
    address.host = url.host();
    address.port = url.port(address.tls ? TlsPort : PlainPort);
    return address;
}

MqttClient::MqttClient(const Options& options, QObject* parent) : QObject(parent), options(options)
{
    qRegisterMetaType<Control::MqttMessage>();
    mosquitto_lib_init();
    client = mosquitto_new(orNull(utf8(options.clientId)), true, this);
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(client, &MqttClient::onConnect);
    mosquitto_message_v5_callback_set(client, &MqttClient::onMessage);
    mosquitto_log_callback_set(client, &MqttClient::onLog);
    if (!options.user.isEmpty())
        mosquitto_username_pw_set(client, utf8(options.user).constData(),
                                  orNull(utf8(options.password)));
    if (!options.willTopic.isEmpty())
        mosquitto_will_set_v5(client, utf8(options.willTopic).constData(), int(Offline.size()),
                              Offline.constData(), AtLeastOnce, true, nullptr);
    if (options.broker.tls) {
        const QByteArray ca = QFile::encodeName(options.caFile);
        // Without a file of its own, the system's certificate authorities vouch for the broker.
        if (ca.isEmpty())
            mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        mosquitto_tls_set(client, orNull(ca), ca.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr,
                          nullptr, nullptr);
    }
    tick.setInterval(TickMs);
    connect(&tick, &QTimer::timeout, this, &MqttClient::service);
    retry.setSingleShot(true);
    connect(&retry, &QTimer::timeout, this, &MqttClient::connectNow);
}

MqttClient::~MqttClient()
{
    readable.reset();
    writable.reset();
    mosquitto_destroy(client);
    mosquitto_lib_cleanup();
}

void MqttClient::start()
{
    setState(
        QStringLiteral("connecting to %1:%2").arg(options.broker.host).arg(options.broker.port));
    connectNow();
}

void MqttClient::connectNow()
{
    refusal.clear();
    lastError.clear();
    const int code =
        mosquitto_connect_bind_async(client, utf8(options.broker.host).constData(),
                                     options.broker.port, options.keepAliveSeconds, nullptr);
    if (code != MOSQ_ERR_SUCCESS)
        return lost(reasonOf(code));
    watchSocket();
    tick.start();
    service();
}

void MqttClient::watchSocket()
{
    const int socket = mosquitto_socket(client);
    if (readable && readable->socket() == socket)
        return;
    readable.reset();
    writable.reset();
    if (socket < 0)
        return;
    readable = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    writable = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    connect(readable.get(), &QSocketNotifier::activated, this, &MqttClient::service);
    connect(writable.get(), &QSocketNotifier::activated, this, &MqttClient::service);
}

// Reads what came, writes what waits, pings when it is time: never waits itself.
void MqttClient::service()
{
    if (!readable)
        return;
    const int code = mosquitto_loop(client, 0, 1);
    if (code != MOSQ_ERR_SUCCESS)
        return lost(reasonOf(code));
    if (writable)
        writable->setEnabled(mosquitto_want_write(client));
}

void MqttClient::lost(const QString& why)
{
    const bool wasOnline = online;
    online = false;
    if (wasOnline)
        emit disconnected();
    readable.reset();
    writable.reset();
    tick.stop();
    if (leaving)
        return;
    mosquitto_disconnect(client);
    if (wasOnline)
        pauseMs = FirstPauseMs;
    QString reason = why;
    if (reason.endsWith(u'.'))
        reason.chop(1);
    setState(QStringLiteral("%1; trying again in %2 s").arg(reason).arg(pauseMs / 1000));
    retry.start(pauseMs);
    pauseMs = std::min(pauseMs * 2, LongestPauseMs);
}

QString MqttClient::reasonOf(int code) const
{
    if (!refusal.isEmpty())
        return QStringLiteral("the broker refused the connection: %1").arg(refusal);
    if (code == MOSQ_ERR_TLS && !lastError.isEmpty())
        return QStringLiteral("TLS failed: %1").arg(lastError);
    if (code == MOSQ_ERR_EAI)
        return QStringLiteral("no host %1 is known").arg(options.broker.host);
    if (code == MOSQ_ERR_ERRNO && errno != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (code == MOSQ_ERR_CONN_LOST && !lastError.isEmpty())
        return lastError;
    return QString::fromUtf8(mosquitto_strerror(code));
}

void MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain,
                         const QByteArray& correlationData)
{
    if (!online)
        return;
    mosquitto_property* properties = nullptr;
    if (!correlationData.isEmpty())
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                      correlationData.constData(),
                                      uint16_t(correlationData.size()));
    mosquitto_publish_v5(client, nullptr, utf8(topic).constData(), int(payload.size()),
                         payload.constData(), AtLeastOnce, retain, properties);
    mosquitto_property_free_all(&properties);
    if (writable)
        writable->setEnabled(mosquitto_want_write(client));
}

void MqttClient::subscribe(const QString& filter)
{
    // A message keeps its retain flag also when it comes as it is published, so that whoever
    // subscribes can tell a retained one every time.
    mosquitto_subscribe_v5(client, nullptr, utf8(filter).constData(), AtLeastOnce,
                           MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    if (writable)
        writable->setEnabled(mosquitto_want_write(client));
}

void MqttClient::leave()
{
    if (!online)
        return;
    publish(options.willTopic, Offline, true);
    leaving = true;
    for (int round = 0; round < LeaveRounds && mosquitto_want_write(client); ++round)
        mosquitto_loop(client, LeaveRoundMs, 1);
    mosquitto_disconnect(client);
    mosquitto_loop(client, LeaveRoundMs, 1);
    online = false;
}

void MqttClient::moveHome(QThread* home)
{
    tick.stop();
    retry.stop();
    readable.reset();
    writable.reset();
    moveToThread(home);
}

void MqttClient::setState(const QString& text)
{
    if (text == state)
        return;
    state = text;
    emit stateChanged(state);
}

void MqttClient::onConnect(mosquitto*, void* self, int reason, int, const mosquitto_property*)
{
    auto* me = static_cast<MqttClient*>(self);
    if (reason != 0) {
        me->refusal = QString::fromUtf8(mosquitto_reason_string(reason));
        return;
    }
    me->online = true;
    me->pauseMs = FirstPauseMs;
    me->setState(QStringLiteral("connected to %1:%2")
                     .arg(me->options.broker.host)
                     .arg(me->options.broker.port));
    emit me->connected();
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message,
                           const mosquitto_property* properties)
{
    MqttMessage received;
    received.topic = QString::fromUtf8(message->topic);
    received.payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
    received.retained = message->retain;
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic,
                                       false)) {
        received.responseTopic = QString::fromUtf8(responseTopic);
        free(responseTopic);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation,
                                       &length, false)) {
        received.correlationData = QByteArray(static_cast<const char*>(correlation), length);
        free(correlation);
    }
    emit static_cast<MqttClient*>(self)->messageReceived(received);
}

void MqttClient::onLog(mosquitto*, void* self, int level, const char* text)
{
    if (level & MOSQ_LOG_ERR)
        static_cast<MqttClient*>(self)->lastError = QString::fromUtf8(text);
}

} // namespace Control
