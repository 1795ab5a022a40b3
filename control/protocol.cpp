#include "protocol.h"

#include "readings.h"
#include "request.h"
#include "valuelimits.h"

#include <QFileInfo>

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <functional>
#include <map>
#include <utility>

namespace Control {

namespace {

// A protocol unrolled beyond this many steps is refused rather than run for days.
constexpr int MostSteps = 10000;
constexpr int MostRepeats = 1000;
constexpr int DeepestRepeat = 8;
constexpr double SecondsPerMinute = 60.0;

QString scalar(const YAML::Node& node)
{
    return QString::fromStdString(node.Scalar());
}

QString keyOf(const YAML::const_iterator& entry)
{
    return QString::fromStdString(entry->first.Scalar());
}

QString duration(double seconds)
{
    const qint64 whole = std::llround(seconds);
    const qint64 hours = whole / 3600;
    const qint64 minutes = whole / 60 % 60;
    QStringList parts;
    if (hours > 0)
        parts << QStringLiteral("%1 h").arg(hours);
    if (hours > 0 || minutes > 0)
        parts << QStringLiteral("%1 min").arg(minutes);
    parts << QStringLiteral("%1 s").arg(whole % 60);
    return parts.join(u' ');
}

// A value of a step and the verb that judges it, in the file's own words.
struct Judged
{
    QString text;
    bool ok = false;
};

class Reader
{
public:
    Reader(const QString& path, Engine::Model model) : path(path), model(model) {}

    Protocol read()
    {
        YAML::Node root;
        try {
            root = YAML::LoadFile(path.toStdString());
        } catch (const YAML::BadFile&) {
            protocol.errors << QStringLiteral("%1: cannot be read").arg(path);
            return protocol;
        } catch (const YAML::ParserException& error) {
            protocol.errors << QStringLiteral("%1:%2:%3: %4")
                                   .arg(path)
                                   .arg(error.mark.line + 1)
                                   .arg(error.mark.column + 1)
                                   .arg(QString::fromStdString(error.msg));
            return protocol;
        }
        readTop(root);
        return protocol;
    }

private:
    void fail(const YAML::Node& at, const QString& what)
    {
        // An empty value has no place of its own: the step it belongs to is named instead.
        const YAML::Mark mark = at.Mark().is_null() ? stepMark : at.Mark();
        protocol.errors << QStringLiteral("%1:%2:%3: %4")
                               .arg(path)
                               .arg(mark.line + 1)
                               .arg(mark.column + 1)
                               .arg(what);
    }

    // The keys of a map, each known; false (and said) for an unknown one or no map.
    bool knownKeys(const YAML::Node& map, const QStringList& accepted, const QString& what)
    {
        if (map.IsNull())
            return true;
        if (!map.IsMap()) {
            fail(map, QStringLiteral("%1 takes keys (%2)").arg(what, accepted.join(u", ")));
            return false;
        }
        bool known = true;
        for (auto entry = map.begin(); entry != map.end(); ++entry) {
            if (!accepted.contains(keyOf(entry))) {
                fail(entry->first, QStringLiteral("unknown key \"%1\" in %2; accepted: %3")
                                       .arg(keyOf(entry), what, accepted.join(u", ")));
                known = false;
            }
        }
        return known;
    }

    void readTop(const YAML::Node& root)
    {
        if (!root.IsMap())
            return fail(root, QStringLiteral("a protocol is a map with dosedesk-protocol, name, "
                                             "pump and steps"));
        knownKeys(root,
                  {QStringLiteral("dosedesk-protocol"), QStringLiteral("name"),
                   QStringLiteral("pump"), QStringLiteral("steps")},
                  QStringLiteral("the protocol"));
        const YAML::Node version = root["dosedesk-protocol"];
        if (!version || scalar(version) != QString::number(ProtocolVersion))
            fail(version ? version : root,
                 QStringLiteral("dosedesk-protocol: %1 is the version this program reads")
                     .arg(ProtocolVersion));
        protocol.name = root["name"] ? scalar(root["name"]) : QFileInfo(path).baseName();
        if (root["pump"])
            protocol.pump = address(root["pump"]);
        const YAML::Node steps = root["steps"];
        if (!steps || !steps.IsSequence() || steps.size() == 0)
            return fail(steps ? steps : root, QStringLiteral("steps: a list of steps is expected"));
        readSteps(steps, 0, {});
    }

    std::optional<int> address(const YAML::Node& node)
    {
        bool ok = false;
        const int number = scalar(node).toInt(&ok);
        if (!node.IsScalar() || !ok || number < 0 || number >= Engine::SearchedAddresses) {
            fail(node, QStringLiteral("pump: \"%1\" is no pump address; accepted: 0 to %2 (pumps "
                                      "by name come with several pumps in the panel)")
                           .arg(scalar(node))
                           .arg(Engine::SearchedAddresses - 1));
            return std::nullopt;
        }
        return number;
    }

    void readSteps(const YAML::Node& steps, int depth, const QString& prefix)
    {
        for (const YAML::Node& step : steps) {
            if (int(protocol.steps.size()) > MostSteps)
                return fail(step,
                            QStringLiteral("the protocol runs more than %1 steps").arg(MostSteps));
            readStep(step, depth, prefix);
        }
    }

    void readStep(const YAML::Node& step, int depth, const QString& prefix)
    {
        if (!step.IsMap() || step.size() == 0)
            return fail(step, QStringLiteral("a step is a map such as \"dose: {volume_ml: 5}\""));
        checkPump(step);
        if (step["repeat"])
            return readRepeat(step, depth, prefix);
        const auto kind = std::find_if(step.begin(), step.end(), [](const auto& entry) {
            return entry.first.Scalar() != "pump";
        });
        if (kind == step.end())
            return fail(step, QStringLiteral("a step needs what to do besides its pump"));
        stepMark = kind->first.Mark();
        const QString name = QString::fromStdString(kind->first.Scalar());
        const auto reader = readers().find(name);
        if (reader == readers().end() || step.size() > 2 || (step.size() == 2 && !step["pump"]))
            return fail(kind->first, QStringLiteral("unknown step \"%1\"; accepted: %2, repeat")
                                         .arg(name, stepNames().join(u", ")));
        const auto before = protocol.errors.size();
        const double secondsBefore = protocol.seconds;
        ProtocolStep built{int(kind->first.Mark().line + 1), {}, {}};
        reader->second(kind->second, built);
        if (protocol.errors.size() == before) {
            built.text.prepend(prefix);
            built.seconds = protocol.seconds - secondsBefore;
            protocol.steps.push_back(built);
        }
    }

    void checkPump(const YAML::Node& step)
    {
        const YAML::Node pump = step["pump"];
        // Said once, at the first such step: the rest would only repeat it.
        if (!pump && !protocol.pump && !std::exchange(toldNoPump, true))
            return fail(step, QStringLiteral("a step without a pump: give pump: for the "
                                             "protocol or for the step"));
        if (!pump)
            return;
        const std::optional<int> given = address(pump);
        if (given && protocol.pump && *given != *protocol.pump)
            fail(pump, QStringLiteral("pump %1: a protocol drives one pump for now, here %2")
                           .arg(*given)
                           .arg(*protocol.pump));
        if (given && !protocol.pump)
            protocol.pump = given;
    }

    void readRepeat(const YAML::Node& step, int depth, const QString& prefix)
    {
        knownKeys(step, {QStringLiteral("repeat"), QStringLiteral("steps"), QStringLiteral("pump")},
                  QStringLiteral("repeat"));
        bool ok = false;
        const int times = scalar(step["repeat"]).toInt(&ok);
        if (!ok || times < 1 || times > MostRepeats)
            return fail(step["repeat"], QStringLiteral("repeat: \"%1\" is no count; accepted: 1 "
                                                       "to %2")
                                            .arg(scalar(step["repeat"]))
                                            .arg(MostRepeats));
        if (depth >= DeepestRepeat)
            return fail(step,
                        QStringLiteral("repeat: nested more than %1 deep").arg(DeepestRepeat));
        if (!step["steps"] || !step["steps"].IsSequence())
            return fail(step, QStringLiteral("repeat: a list of steps is expected under steps"));
        for (int time = 1; time <= times && protocol.errors.isEmpty(); ++time)
            readSteps(step["steps"], depth + 1,
                      prefix + QStringLiteral("(%1 of %2) ").arg(time).arg(times));
    }

    using StepReader = std::function<void(const YAML::Node&, ProtocolStep&)>;

    const std::map<QString, StepReader>& readers()
    {
        if (stepReaders.empty())
            stepReaders = {
                {QStringLiteral("set"), [this](auto& body, auto& step) { readSet(body, step); }},
                {QStringLiteral("dose"), [this](auto& body, auto& step) { readDose(body, step); }},
                {QStringLiteral("prime"),
                 [this](auto& body, auto& step) { readPrime(body, step); }},
                {QStringLiteral("wait"), [this](auto& body, auto& step) { readWait(body, step); }},
                {QStringLiteral("start"), key("start", "start")},
                {QStringLiteral("pause"), key("pause", "pause")},
                {QStringLiteral("resume"), key("resume", "start")},
                {QStringLiteral("stop"), key("stop", "stop")},
                {QStringLiteral("ask"), words("ask")},
                {QStringLiteral("note"), words("note")},
            };
        return stepReaders;
    }

    QStringList stepNames()
    {
        QStringList names;
        for (const auto& [name, reader] : readers())
            names << name;
        return names;
    }

    // A value checked as the verb checks it; the error names the file's key.
    Judged judged(const YAML::Node& node, const QString& key, const QJsonObject& request)
    {
        if (!node.IsScalar()) {
            fail(node, QStringLiteral("%1: a single value is expected").arg(key));
            return {};
        }
        const Checked checked = checkRequest(request, model);
        if (!checked.request)
            fail(node, QStringLiteral("%1: %2").arg(key, checked.problem));
        return {scalar(node), checked.request.has_value()};
    }

    static QJsonObject verb(const QString& name, const QString& value = {})
    {
        QJsonObject request{{QStringLiteral("verb"), name}};
        if (!value.isNull())
            request.insert(QStringLiteral("value"), value);
        return request;
    }

    void readSet(const YAML::Node& body, ProtocolStep& step)
    {
        static const std::pair<const char*, const char*> settings[] = {
            {"mode", "mode"},     {"flow_ml_min", "set-flow"}, {"volume_ml", "set-volume"},
            {"time", "set-time"}, {"cycles", "set-cycles"},    {"break_s", "set-break"}};
        QStringList keys;
        for (const auto& [key, name] : settings)
            keys << QLatin1String(key);
        if (!knownKeys(body, keys, QStringLiteral("set")) || body.size() == 0)
            return fail(body, QStringLiteral("set: give at least one of %1").arg(keys.join(u", ")));
        QStringList said;
        for (const auto& [key, name] : settings) {
            const YAML::Node value = body[key];
            if (!value)
                continue;
            const QJsonObject request = verb(QLatin1String(name), scalar(value));
            if (judged(value, QLatin1String(key), request).ok)
                step.requests.push_back(request);
            said << QStringLiteral("%1 %2").arg(QLatin1String(key), scalar(value));
            track(QLatin1String(key), scalar(value));
        }
        step.text = QStringLiteral("set ") + said.join(QStringLiteral(", "));
    }

    void readDose(const YAML::Node& body, ProtocolStep& step)
    {
        if (!knownKeys(body, {QStringLiteral("volume_ml"), QStringLiteral("flow_ml_min")},
                       QStringLiteral("dose")))
            return;
        if (!body["volume_ml"])
            return fail(body, QStringLiteral("dose: volume_ml is missing"));
        QJsonObject request = verb(QStringLiteral("dose"), scalar(body["volume_ml"]));
        judged(body["volume_ml"], QStringLiteral("volume_ml"),
               verb(QStringLiteral("set-volume"), scalar(body["volume_ml"])));
        step.text = QStringLiteral("dose %1 ml").arg(scalar(body["volume_ml"]));
        std::optional<double> rate = flow;
        if (const YAML::Node given = body["flow_ml_min"]) {
            judged(given, QStringLiteral("flow_ml_min"),
                   verb(QStringLiteral("set-flow"), scalar(given)));
            request.insert(QStringLiteral("flow"), scalar(given));
            step.text += QStringLiteral(" at %1 ml/min").arg(scalar(given));
            rate = Engine::typedNumber(scalar(given));
            flow = rate;
        }
        step.requests.push_back(request);
        const double ml = Engine::typedNumber(scalar(body["volume_ml"])).value_or(0);
        protocol.volumeMl += ml;
        addRun(rate, ml);
    }

    void readPrime(const YAML::Node& body, ProtocolStep& step)
    {
        if (!knownKeys(body, {QStringLiteral("seconds")}, QStringLiteral("prime")))
            return;
        if (!body["seconds"])
            return fail(body, QStringLiteral("prime: seconds is missing"));
        const QJsonObject wait{{QStringLiteral("verb"), QStringLiteral("wait")},
                               {QStringLiteral("for"), QStringLiteral("seconds")},
                               {QStringLiteral("value"), scalar(body["seconds"])}};
        if (!judged(body["seconds"], QStringLiteral("seconds"), wait).ok)
            return;
        step.requests = {verb(QStringLiteral("prime")), wait, verb(QStringLiteral("stop"))};
        step.text = QStringLiteral("prime %1 s").arg(scalar(body["seconds"]));
        protocol.seconds += Engine::typedNumber(scalar(body["seconds"])).value_or(0);
    }

    void readWait(const YAML::Node& body, ProtocolStep& step)
    {
        const QStringList kinds{QStringLiteral("seconds"), QStringLiteral("volume_ml"),
                                QStringLiteral("finished")};
        if (!knownKeys(body, kinds, QStringLiteral("wait")))
            return;
        if (!body.IsMap() || body.size() != 1)
            return fail(body, QStringLiteral("wait: give one of %1").arg(kinds.join(u", ")));
        const QString kind = keyOf(body.begin());
        const YAML::Node value = body.begin()->second;
        if (kind == QLatin1String("finished")) {
            if (scalar(value) != QLatin1String("true"))
                return fail(value, QStringLiteral("finished: true is expected"));
            step.text = QStringLiteral("wait until the run has finished");
            step.requests = {{{QStringLiteral("verb"), QStringLiteral("wait")},
                              {QStringLiteral("for"), QStringLiteral("finished")}}};
            return addFinishedRun();
        }
        const bool seconds = kind == QLatin1String("seconds");
        const QJsonObject request{
            {QStringLiteral("verb"), QStringLiteral("wait")},
            {QStringLiteral("for"), seconds ? QStringLiteral("seconds") : QStringLiteral("volume")},
            {QStringLiteral("value"), scalar(value)}};
        if (!judged(value, kind, request).ok)
            return;
        step.requests = {request};
        const double number = Engine::typedNumber(scalar(value)).value_or(0);
        step.text = seconds ? QStringLiteral("wait %1 s").arg(scalar(value))
                            : QStringLiteral("wait until %1 ml delivered").arg(scalar(value));
        if (seconds) {
            protocol.seconds += number;
            return;
        }
        addRun(flow, number);
        protocol.volumeMl += number;
    }

    StepReader key(const char* name, const char* verbName)
    {
        return [this, name, verbName](const YAML::Node& body, ProtocolStep& step) {
            if (!body.IsNull() && !(body.IsMap() && body.size() == 0))
                return fail(body,
                            QStringLiteral("%1 takes nothing: %1: {}").arg(QLatin1String(name)));
            step.requests = {verb(QLatin1String(verbName))};
            step.text = QLatin1String(name);
        };
    }

    StepReader words(const char* name)
    {
        return [this, name](const YAML::Node& body, ProtocolStep& step) {
            if (!body.IsScalar() || scalar(body).trimmed().isEmpty())
                return fail(body,
                            QStringLiteral("%1: a text is expected").arg(QLatin1String(name)));
            step.requests = {verb(QLatin1String(name), scalar(body))};
            step.text = QStringLiteral("%1: %2").arg(QLatin1String(name), scalar(body));
            if (QLatin1String(name) == QLatin1String("ask"))
                protocol.openEnded = true;
        };
    }

    // What the pump is set to, for the expected duration of later steps.
    void track(const QString& key, const QString& value)
    {
        const std::optional<double> number = Engine::typedNumber(value);
        if (key == QLatin1String("mode"))
            mode = value;
        else if (key == QLatin1String("flow_ml_min"))
            flow = number;
        else if (key == QLatin1String("volume_ml"))
            volume = number;
        else if (key == QLatin1String("cycles"))
            cycles =
                value.trimmed().toUpper() == QLatin1String("INF") ? 0 : int(number.value_or(1));
        else if (key == QLatin1String("break_s"))
            breakSeconds = number.value_or(0);
    }

    void addRun(const std::optional<double>& rate, double ml)
    {
        if (rate && *rate > 0)
            protocol.seconds += ml / *rate * SecondsPerMinute;
        else
            protocol.openEnded = true;
    }

    // A run started before, in volume mode, ends after its cycles; in other modes its end is
    // not counted here.
    void addFinishedRun()
    {
        if (mode != QLatin1String("volume") || !volume || cycles < 1) {
            protocol.openEnded = true;
            return;
        }
        protocol.volumeMl += *volume * cycles;
        addRun(flow, *volume * cycles);
        protocol.seconds += breakSeconds * (cycles - 1);
    }

    QString path;
    Engine::Model model;
    Protocol protocol;
    YAML::Mark stepMark;
    bool toldNoPump = false;
    std::map<QString, StepReader> stepReaders;
    QString mode = QStringLiteral("flow");
    std::optional<double> flow;
    std::optional<double> volume;
    int cycles = 1;
    double breakSeconds = 0;
};

} // namespace

QString Protocol::summary() const
{
    return QStringLiteral("%1: %2 steps for the pump at address %3\nvolume: %4 ml\nexpected "
                          "duration: %5%6%7\n")
        .arg(name)
        .arg(steps.size())
        .arg(pump.value_or(0))
        .arg(volumeMl, 0, 'f', 3)
        .arg(openEnded ? QStringLiteral("at least ") : QString(), duration(seconds))
        .arg(openEnded ? QStringLiteral(" (waits for a person or for a run without a known end "
                                        "not counted)")
                       : QString());
}

QString stepPlace(const Protocol& protocol, int index)
{
    if (index < 0 || index >= int(protocol.steps.size()))
        return {};
    const ProtocolStep& step = protocol.steps[size_t(index)];
    return QStringLiteral("step %1 of %2 (line %3: %4)")
        .arg(index + 1)
        .arg(protocol.steps.size())
        .arg(step.line)
        .arg(step.text);
}

QString recordLine(const QString& text)
{
    QString line = text.simplified();
    line.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return line.left(LongestNote);
}

QString verbOf(const QJsonObject& request)
{
    return request.value(QStringLiteral("verb")).toString();
}

namespace {

QJsonObject forPump(QJsonObject request, std::optional<int> pump)
{
    if (pump)
        request.insert(QStringLiteral("pump"), *pump);
    return request;
}

} // namespace

QJsonObject stopRequest(std::optional<int> pump)
{
    return forPump({{QStringLiteral("verb"), QStringLiteral("stop")}}, pump);
}

QJsonObject standingRequest(std::optional<int> pump)
{
    return forPump({{QStringLiteral("verb"), QStringLiteral("wait")},
                    {QStringLiteral("for"), QStringLiteral("finished")},
                    {QStringLiteral("timeout"), StopCheckSeconds}},
                   pump);
}

bool startsPump(const QJsonObject& request)
{
    const QString verb = verbOf(request);
    return verb == QLatin1String("start") || verb == QLatin1String("prime")
           || verb == QLatin1String("dose")
           || (verb == QLatin1String("calibrate") && request.contains(QLatin1String("balance")));
}

QJsonObject fasterBy(QJsonObject request, double speed)
{
    if (request.value(QStringLiteral("for")).toString() == QLatin1String("seconds"))
        request.insert(
            QStringLiteral("value"),
            QString::number(request.value(QStringLiteral("value")).toString().toDouble() / speed));
    return request;
}

Protocol readProtocol(const QString& path, Engine::Model model)
{
    return Reader(path, model).read();
}

} // namespace Control
