#include "mqttbridge.h"

#include "panelsession.h"
#include "panelsettings.h"
#include "pumpsession.h"
#include "pumpstate.h"
#include "request.h"
#include "runrecorder.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>

#include <algorithm>
#include <cmath>

namespace Control {

namespace {

const QString BrokerKey = QStringLiteral("/MQTT/Broker");
const QString UserKey = QStringLiteral("/MQTT/User");
const QString PasswordKey = QStringLiteral("/MQTT/Password");
const QString CaKey = QStringLiteral("/MQTT/CaFile");
const QString NodeKey = QStringLiteral("/MQTT/Node");
const QString CommandsKey = QStringLiteral("/MQTT/Commands");

// The verbs the broker may give. Raw frames, calibration (it opens a balance's device and
// writes the pump's calibration) and the address search stay with the people at the panel.
const QStringList BrokerVerbs = {
    QStringLiteral("status"),   QStringLiteral("set-flow"),   QStringLiteral("set-volume"),
    QStringLiteral("set-time"), QStringLiteral("set-cycles"), QStringLiteral("set-break"),
    QStringLiteral("mode"),     QStringLiteral("start"),      QStringLiteral("pause"),
    QStringLiteral("stop"),     QStringLiteral("prime"),      QStringLiteral("wait"),
    QStringLiteral("dose"),     QStringLiteral("note"),
};
const QString StopVerb = QStringLiteral("stop");
// A topic level and a Home Assistant object id both take these.
const QRegularExpression NodeRule(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
const QString Online = QStringLiteral("online");

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// One entity of Home Assistant's discovery.
struct Entity
{
    const char* component;
    const char* object;
    const char* name;
    QJsonObject fields;
    bool withdrawn = false;
};

QString valueOf(const char* key)
{
    return QStringLiteral("{{ value_json.%1 }}").arg(QLatin1String(key));
}

QString onOff(const char* key)
{
    return QStringLiteral("{{ 'ON' if value_json.%1 else 'OFF' }}").arg(QLatin1String(key));
}

// What the pump's state shows: volume, rate, time, whether it runs, whether it is in error.
std::vector<Entity> shownEntities(const QString& state)
{
    const auto sensor = [&state](const char* object, const char* name, const char* key,
                                 const char* unit, const char* kind, const char* kindValue) {
        return Entity{"sensor", object, name,
                      {{"state_topic", state}, {"value_template", valueOf(key)},
                       {"unit_of_measurement", unit}, {kind, kindValue}}};
    };
    const auto flag = [&state](const char* object, const char* name, const char* kind) {
        return Entity{"binary_sensor", object, name,
                      {{"state_topic", state}, {"value_template", onOff(object)},
                       {"device_class", kind}}};
    };
    return {sensor("delivered", "Delivered volume", "delivered_ml", "mL", "device_class",
                   "volume"),
            sensor("flow_rate", "Flow rate", "flow_ml_min", "mL/min", "state_class",
                   "measurement"),
            sensor("elapsed", "Elapsed time", "elapsed_s", "s", "device_class", "duration"),
            flag("running", "Running", "running"), flag("error", "Error", "problem")};
}

// What Home Assistant may press: the flow rate setpoint within the model's limits, the keys.
std::vector<Entity> pressedEntities(const QString& state, const QString& command,
                                    const Engine::Limits& flow)
{
    const auto key = [&command](const char* verb, const char* name) {
        return Entity{"button", verb, name,
                      {{"command_topic", command},
                       {"payload_press",
                        QString::fromUtf8(compact({{QStringLiteral("verb"), QLatin1String(verb)}}))}}};
    };
    const Entity setpoint{
        "number", "flow_setpoint", "Flow rate setpoint",
        {{"state_topic", state}, {"value_template", valueOf("flow_ml_min")},
         {"command_topic", command},
         {"command_template", QStringLiteral("{\"verb\":\"set-flow\",\"value\":{{ value }}}")},
         {"min", flow.minimum}, {"max", flow.maximum}, {"step", std::pow(10.0, -flow.decimals)},
         {"mode", "box"}, {"unit_of_measurement", "mL/min"}}};
    return {setpoint, key("start", "Start"), key("stop", "Stop"), key("prime", "Prime")};
}

} // namespace

void BridgeSettings::load(const QSettings& stored, qint32 instance)
{
    const QString group = GUI::PanelSettings::group(instance);
    broker = stored.value(group + BrokerKey).toString();
    user = stored.value(group + UserKey).toString();
    password = stored.value(group + PasswordKey).toString();
    caFile = stored.value(group + CaKey).toString();
    node = stored.value(group + NodeKey).toString();
    commands = stored.value(group + CommandsKey, false).toBool();
}

void BridgeSettings::save(QSettings& stored, qint32 instance) const
{
    const QString group = GUI::PanelSettings::group(instance);
    stored.setValue(group + BrokerKey, broker);
    stored.setValue(group + UserKey, user);
    stored.setValue(group + PasswordKey, password);
    stored.setValue(group + CaKey, caFile);
    stored.setValue(group + NodeKey, node);
    stored.setValue(group + CommandsKey, commands);
}

QString BridgeSettings::nodeName() const
{
    if (!node.isEmpty())
        return node;
    // A host name with its domain ("box.lab") or odd letters still makes a node name.
    QString host = QSysInfo::machineHostName().left(64);
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("-"));
    return host.isEmpty() ? QStringLiteral("dosedesk") : host;
}

MqttClient::Options BridgeSettings::clientOptions(int address, QString* error) const
{
    MqttClient::Options options;
    options.broker = BrokerAddress::parse(broker);
    *error = options.broker.error;
    if (error->isEmpty() && !NodeRule.match(nodeName()).hasMatch())
        *error = QStringLiteral("the node name \"%1\" does not do for a topic; accepted: 1 to 64 "
                                "letters, digits, _ and -")
                     .arg(nodeName());
    options.password = password;
    if (error->isEmpty() && !passwordFile.isEmpty()) {
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            *error = QStringLiteral("cannot read the password file %1: %2")
                         .arg(passwordFile, file.errorString());
        options.password = QString::fromUtf8(file.readLine().trimmed());
    }
    if (error->isEmpty() && !caFile.isEmpty() && !QFile::exists(caFile))
        *error = QStringLiteral("no certificate authority file %1").arg(caFile);
    options.caFile = caFile;
    options.user = user;
    options.clientId = QStringLiteral("dosedesk-%1-%2").arg(nodeName()).arg(address);
    options.willTopic =
        QStringLiteral("%1/%2/%3/availability").arg(MqttBridge::TopicRoot, nodeName()).arg(address);
    return options;
}

MqttBridge::MqttBridge(GUI::PanelSession& session, const BridgeSettings& settings, QObject* parent)
    : QObject(parent), panel(session), state(std::make_unique<PumpState>()), pump(*state),
      settings(settings),
      link(&session.stack(), &session.table(), &session.link(), &session.search(), false)
{
    pump.follow(&session.stack(), &session.link());
    stateHoldoff.setSingleShot(true);
    stateHoldoff.setInterval(StateIntervalMs);
    connect(&stateHoldoff, &QTimer::timeout, this, [this] {
        if (stateDirty)
            publishState();
    });
    connect(&pump, &PumpState::changed, this, [this] {
        publishAvailability();
        if (stateHoldoff.isActive())
            stateDirty = true;
        else
            publishState();
    });
    connect(&pump, &PumpState::identified, this, &MqttBridge::publishDiscovery);
    if (GUI::RunRecorder* recorder = panel.runRecorder())
        // Only the events of this bridge's pump: the window may show another one.
        connect(recorder, &GUI::RunRecorder::eventNoted, this,
                [this, recorder](const QString& event) {
                    if (recorder->address() == address)
                        publishEvent(event);
                });
}

MqttBridge::~MqttBridge()
{
    stop();
}

bool MqttBridge::start(int pumpAddress, QString* error)
{
    address = pumpAddress;
    // The topics name this pump: they keep to it whichever pump the window shows later.
    pump.setAddress(address);
    link.setTarget(address);
    const MqttClient::Options options = settings.clientOptions(address, error);
    if (!error->isEmpty())
        return false;
    client = std::make_unique<MqttClient>(options);
    connect(client.get(), &MqttClient::connected, this, &MqttBridge::onConnected);
    connect(client.get(), &MqttClient::disconnected, this, [this] { brokerOnline = false; });
    connect(client.get(), &MqttClient::stateChanged, this, &MqttBridge::stateChanged);
    connect(client.get(), &MqttClient::messageReceived, this, &MqttBridge::received);
    brokerThread.setObjectName(QStringLiteral("broker"));
    client->moveToThread(&brokerThread);
    brokerThread.start();
    toClient([](MqttClient* c) { c->start(); });
    return true;
}

void MqttBridge::stop()
{
    if (session)
        session->abort();
    if (!client || !brokerThread.isRunning())
        return;
    // "offline" goes out first; then the client comes back here to be torn down.
    QThread* home = thread();
    QMetaObject::invokeMethod(
        client.get(),
        [c = client.get(), home] {
            c->leave();
            c->moveHome(home);
        },
        Qt::BlockingQueuedConnection);
    brokerThread.quit();
    brokerThread.wait();
    brokerOnline = false;
}

void MqttBridge::publish(const QString& topic, const QByteArray& payload, bool retain,
                         const QByteArray& correlation)
{
    toClient([topic, payload, retain, correlation](MqttClient* c) {
        c->publish(topic, payload, retain, correlation);
    });
}

void MqttBridge::toClient(std::function<void(MqttClient*)> work)
{
    if (client)
        QMetaObject::invokeMethod(client.get(), [c = client.get(), work] { work(c); });
}

QString MqttBridge::topic(const QString& leaf) const
{
    return QStringLiteral("%1/%2/%3/%4").arg(TopicRoot, settings.nodeName()).arg(address).arg(leaf);
}

void MqttBridge::onConnected()
{
    brokerOnline = true;
    const QStringList filters{topic(QStringLiteral("cmd")),
                              DiscoveryRoot + QStringLiteral("/status")};
    toClient([filters](MqttClient* c) {
        for (const QString& filter : filters)
            c->subscribe(filter);
    });
    lastAvailability.clear();
    publishAvailability();
    publishDiscovery();
    publishState();
}

// Home Assistant's view of the pump: what it shows, and what it may press when commands are
// taken. An entity that may not be pressed gets an empty config, which takes it away.
void MqttBridge::publishDiscovery()
{
    if (!brokerOnline)
        return;
    const QString id = QStringLiteral("%1_%2").arg(settings.nodeName()).arg(address);
    std::vector<Entity> entities = shownEntities(topic(QStringLiteral("state")));
    for (Entity& control :
         pressedEntities(topic(QStringLiteral("state")), topic(QStringLiteral("cmd")),
                         Engine::limitsOf(Engine::Quantity::FlowRate, panel.pumpModel()))) {
        control.withdrawn = !settings.commands;
        entities.push_back(std::move(control));
    }
    for (const Entity& entity : entities) {
        QJsonObject config = entity.fields;
        // The entity's id in Home Assistant follows from the object id:
        // sensor.dosedesk_N_A_delivered.
        const QString unique =
            QStringLiteral("dosedesk_%1_%2").arg(id, QLatin1String(entity.object));
        config.insert(QStringLiteral("name"), QLatin1String(entity.name));
        config.insert(QStringLiteral("unique_id"), unique);
        config.insert(QStringLiteral("object_id"), unique);
        config.insert(QStringLiteral("availability_topic"), topic(QStringLiteral("availability")));
        config.insert(QStringLiteral("device"), device(id));
        publish(QStringLiteral("%1/%2/%3/%4/config")
                    .arg(DiscoveryRoot, QLatin1String(entity.component), id,
                         QLatin1String(entity.object)),
                entity.withdrawn ? QByteArray() : compact(config), true);
    }
}

QJsonObject MqttBridge::device(const QString& id) const
{
    QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{QString(QStringLiteral("dosedesk_") + id)}},
        {QStringLiteral("name"),
         QStringLiteral("Dosing pump %1 on %2").arg(address).arg(settings.nodeName())}};
    if (!pump.modelName().isEmpty()) {
        device.insert(QStringLiteral("model"), pump.modelName());
        device.insert(QStringLiteral("sw_version"), pump.firmware());
    }
    return device;
}

void MqttBridge::publishAvailability()
{
    if (!brokerOnline)
        return;
    const QByteArray now =
        pump.connection() == PumpState::Online ? Online.toUtf8() : MqttClient::Offline;
    if (now == lastAvailability)
        return;
    lastAvailability = now;
    publish(topic(QStringLiteral("availability")), now, true);
}

void MqttBridge::publishState()
{
    stateDirty = false;
    if (!brokerOnline)
        return;
    publish(topic(QStringLiteral("state")), compact(pump.toJson()), true);
    stateHoldoff.start();
}

void MqttBridge::publishEvent(const QString& event)
{
    if (!brokerOnline)
        return;
    const QJsonObject state = pump.toJson();
    QJsonObject object{
        {QStringLiteral("event"), event},
        {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
        {QStringLiteral("flags"), state.value(QLatin1String("flags"))},
    };
    if (state.contains(QLatin1String("delivered_ml")))
        object.insert(QStringLiteral("delivered_ml"), state.value(QLatin1String("delivered_ml")));
    publish(topic(QStringLiteral("event")), compact(object), false);
}

void MqttBridge::received(const MqttMessage& message)
{
    if (message.topic == DiscoveryRoot + QStringLiteral("/status")) {
        // Home Assistant came back and forgot what it was told.
        if (message.payload == Online.toUtf8())
            publishDiscovery();
        return;
    }
    if (message.topic == topic(QStringLiteral("cmd")))
        take(message);
}

void MqttBridge::take(const MqttMessage& message)
{
    const QByteArray& correlation = message.correlationData;
    const auto seen =
        std::find_if(remembered.begin(), remembered.end(), [&correlation](const Remembered& r) {
            return !correlation.isEmpty() && r.correlation == correlation;
        });
    // Delivered again: the first delivery's result stands; it runs once.
    if (seen != remembered.end()) {
        if (!seen->result.isEmpty())
            answer(message, seen->result);
        return;
    }
    Request request;
    if (const QJsonObject refusal = judge(message, request); !refusal.isEmpty()) {
        remember(correlation, refusal);
        return answer(message, refusal);
    }
    remember(correlation, {});
    if (request.verb == StopVerb)
        return putStopFirst(request, message);
    if (int(waiting.size()) >= MostWaiting) {
        QJsonObject busy = errorResult(
            QStringLiteral("%1 commands are waiting already; this one is not run").arg(MostWaiting),
            PumpFailure);
        busy.insert(QStringLiteral("verb"), request.verb);
        remember(correlation, busy);
        return answer(message, busy);
    }
    waiting.push_back({std::make_shared<Request>(request), message});
    runNext();
}

QJsonObject MqttBridge::judge(const MqttMessage& message, Request& request) const
{
    // A large payload is not even read.
    const bool small = message.payload.size() <= LongestCommand;
    QString malformed;
    const QJsonObject object = small ? parseRequest(message.payload, &malformed) : QJsonObject();
    const QString verb = object.value(QLatin1String("verb")).toString();
    QString refusal;
    if (message.retained)
        refusal = QStringLiteral("a retained command is not run: it would run again at every "
                                 "connection");
    else if (!settings.commands)
        refusal = QStringLiteral("this bridge takes no commands (it was started without "
                                 "--mqtt-commands)");
    else if (!small)
        refusal = QStringLiteral("command longer than %1 bytes").arg(LongestCommand);
    else if (!malformed.isEmpty())
        refusal = malformed;
    else if (isVerb(verb) && !BrokerVerbs.contains(verb))
        refusal = QStringLiteral("\"%1\" is not taken from the broker; accepted: %2")
                      .arg(verb, BrokerVerbs.join(QStringLiteral(", ")));
    else if (const Checked checked = checkRequest(object, panel.pumpModel()); checked.request)
        request = *checked.request;
    else
        refusal = checked.error;
    if (refusal.isEmpty())
        return {};
    QJsonObject result = errorResult(refusal, UsageError);
    if (!verb.isEmpty())
        result.insert(QStringLiteral("verb"), verb);
    return result;
}

void MqttBridge::putStopFirst(const Request& stop, const MqttMessage& message)
{
    if (session) {
        session->abort();
        session.reset();
        QJsonObject ended =
            errorResult(QStringLiteral("ended by a stop from the broker"), PumpFailure);
        ended.insert(QStringLiteral("verb"), running.request->verb);
        remember(running.message.correlationData, ended);
        answer(running.message, ended);
    }
    for (const Command& command : waiting) {
        QJsonObject dropped =
            errorResult(QStringLiteral("not run: a stop came before its turn"), PumpFailure);
        dropped.insert(QStringLiteral("verb"), command.request->verb);
        remember(command.message.correlationData, dropped);
        answer(command.message, dropped);
    }
    waiting.clear();
    waiting.push_back({std::make_shared<Request>(stop), message});
    runNext();
}

void MqttBridge::runNext()
{
    if (session || waiting.empty())
        return;
    running = std::move(waiting.front());
    waiting.pop_front();
    session = std::make_unique<PumpSession>(&link);
    connect(session.get(), &PumpSession::finished, this, [this](const QJsonObject& result) {
        remember(running.message.correlationData, result);
        answer(running.message, result);
        // Not from inside its own signal.
        session.release()->deleteLater();
        QMetaObject::invokeMethod(this, &MqttBridge::runNext, Qt::QueuedConnection);
    });
    link.setRecorder(panel.runRecorder());
    emit commandNoted(QStringLiteral("MQTT: %1 sent").arg(running.request->verb));
    session->run(*running.request);
}

void MqttBridge::answer(const MqttMessage& message, const QJsonObject& result)
{
    const bool ok = result.value(QLatin1String("ok")).toBool();
    const QString verb = result.value(QLatin1String("verb")).toString();
    if (!ok)
        emit commandNoted(QStringLiteral("MQTT: %1: %2")
                              .arg(verb.isEmpty() ? QStringLiteral("command") : verb,
                                   result.value(QLatin1String("error")).toString()));
    if (!client)
        return;
    // A response topic with wildcards cannot be published to; the usual one is used then.
    const bool ownTopic = message.responseTopic.isEmpty() || message.responseTopic.contains(u'#')
                          || message.responseTopic.contains(u'+');
    publish(ownTopic ? topic(QStringLiteral("result")) : message.responseTopic, compact(result),
            false, message.correlationData);
}

void MqttBridge::remember(const QByteArray& correlation, const QJsonObject& result)
{
    if (correlation.isEmpty())
        return;
    for (Remembered& r : remembered) {
        if (r.correlation == correlation) {
            r.result = result;
            return;
        }
    }
    remembered.push_back({correlation, result});
    if (int(remembered.size()) > RememberedCommands)
        remembered.pop_front();
}

} // namespace Control
