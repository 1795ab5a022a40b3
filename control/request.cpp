#include "request.h"

#include "balance.h"
#include "calibration.h"
#include "protocol.h"
#include "pumpvalues.h"
#include "readings.h"
#include "valuelimits.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <utility>

namespace Control {

const QString ModeNames[3] = {QStringLiteral("flow"), QStringLiteral("volume"),
                              QStringLiteral("time")};

QString modeName(qint32 mode)
{
    return mode >= 0 && mode < int(std::size(ModeNames)) ? ModeNames[mode] : QString::number(mode);
}

namespace {

// What follows a verb on the command line.
enum class Takes { Nothing, Number, Word, WaitKind, Dose, Calibration };

struct Verb
{
    const char* name;
    Takes takes;
    const char* arguments;
    const char* purpose;
    const char* example;
};

const Verb Verbs[] = {
    {"status", Takes::Nothing, "", "read targets, actual values and status flags", "status"},
    {"set-flow", Takes::Number, "ML_PER_MIN", "set the flow rate", "set-flow 2.5"},
    {"set-volume", Takes::Number, "ML", "set the dispense volume", "set-volume 10"},
    {"set-time", Takes::Word, "HH:MM:SS", "set the dispense time", "set-time 00:01:30"},
    {"set-cycles", Takes::Number, "N", "set the number of dispense cycles (INF or 1000: endless)",
     "set-cycles 3"},
    {"set-break", Takes::Number, "SECONDS", "set the pause between dispense cycles",
     "set-break 20"},
    {"mode", Takes::Word, "flow|volume|time", "choose the operating mode", "mode volume"},
    {"start", Takes::Nothing, "", "start the run, or resume it after a pause", "start"},
    {"pause", Takes::Nothing, "", "pause the run", "pause"},
    {"stop", Takes::Nothing, "", "stop the run", "stop"},
    {"prime", Takes::Nothing, "", "prime at full speed until stopped", "prime"},
    {"wait", Takes::WaitKind, "volume ML | finished | seconds S [--timeout S]",
     "wait until so much was delivered, until the motor stands (and say how the run ended), or for "
     "a time",
     "wait volume 1.5 --timeout 60"},
    {"dose", Takes::Dose, "ML [--flow ML_PER_MIN] [--timeout S]",
     "dose once by volume (sets mode, one cycle, volume, no time limit, rate), wait, print what "
     "was delivered and how the run ended; fails when it fell short",
     "dose 1.0 --flow 60"},
    {"get", Takes::Word, "CODE", "read a value by its code (service)", "get TV"},
    {"send", Takes::Word, "RAW", "send a frame body as typed (service)", "send ?DV"},
    {"note", Takes::Word, "TEXT", "write a line into the run record", "note \"bottle 2 in\""},
    {"search", Takes::Nothing, "", "find the pump's address on the bus (0 to 98)", "search"},
    {"pumps", Takes::Nothing, "", "list the panel's pumps and what each last told", "pumps"},
    {"stop-all", Takes::Nothing, "", "stop every pump of the panel, ahead of all readings",
     "stop-all"},
    {"calibrate", Takes::Calibration,
     "--target ML --deliveries N (--balance PATH [--balance-baud B] [--flow ML_PER_MIN] | "
     "--mass G ...) "
     "[--density G_PER_ML | --water-temp C] [--write]",
     "weighed deliveries of the target volume: their volumes, mean, systematic error, CV and the "
     "calibration % that corrects them; --write sets it. With --balance it doses and weighs each "
     "delivery (MT-SICS, 9600 8N1); with --mass (once per delivery) they were made beforehand",
     "calibrate --target 1 --deliveries 3 --mass 0.97 --mass 0.971 --mass 0.969 --write"},
};

const Verb* findVerb(const QString& name)
{
    for (const Verb& verb : Verbs)
        if (name == QLatin1String(verb.name))
            return &verb;
    return nullptr;
}

QString usage(const Verb& verb, const QString& problem)
{
    return QStringLiteral("%1: %2 (usage: %1 %3)")
        .arg(QLatin1String(verb.name), problem, QLatin1String(verb.arguments))
        .replace(QLatin1String(" )"), QLatin1String(")"));
}

// Takes "--flow X" or "--timeout X" after a verb; false when words[i] is no such option.
bool takeOption(const QStringList& words, int& i, QJsonObject& object, const QStringList& names,
                QString* error, const Verb& verb)
{
    const QString word = words.at(i);
    if (!word.startsWith(QLatin1String("--")) || !names.contains(word.mid(2)))
        return false;
    if (i + 1 >= words.size()) {
        *error = usage(verb, QStringLiteral("%1 needs a value").arg(word));
        return true;
    }
    object.insert(word.mid(2), words.at(++i));
    return true;
}

const QStringList CalibrationOptions = {
    QStringLiteral("target"),       QStringLiteral("deliveries"), QStringLiteral("mass"),
    QStringLiteral("density"),      QStringLiteral("water-temp"), QStringLiteral("balance"),
    QStringLiteral("balance-baud"), QStringLiteral("flow")};

// Takes the options of calibrate: --mass once per delivery (a list), --write without a value.
void takeCalibrationOptions(const QStringList& words, int& i, QJsonObject& object, QString* error,
                            const Verb& verb)
{
    QJsonArray masses;
    while (i + 1 < words.size() && error->isEmpty()) {
        if (words.at(i + 1) == QLatin1String("--write")) {
            object.insert(QStringLiteral("write"), true);
            ++i;
            continue;
        }
        int at = i + 1;
        QJsonObject taken;
        if (!takeOption(words, at, taken, CalibrationOptions, error, verb))
            break;
        i = at;
        for (auto it = taken.begin(); it != taken.end(); ++it) {
            if (it.key() == QLatin1String("mass"))
                masses.append(it.value());
            else
                object.insert(QString(it.key()).replace(u'-', u'_'), it.value());
        }
    }
    if (!masses.isEmpty())
        object.insert(QStringLiteral("mass"), masses);
}

QString numberText(double value)
{
    return QString::number(value, 'g', 10);
}

// A number from the object's field, within the range; the message names the range otherwise.
std::optional<double> rangedNumber(const QJsonObject& object, const char* key,
                                   ValueLimits::Range range, const QString& unit, QString* problem)
{
    const QJsonValue value = object.value(QLatin1String(key));
    bool ok = value.isDouble();
    double number = value.toDouble();
    if (value.isString())
        number = value.toString().toDouble(&ok);
    const QString accepted = QStringLiteral("accepted: %1 to %2%3")
                                 .arg(numberText(range.minimum), numberText(range.maximum), unit);
    if (value.isUndefined()) {
        *problem = QStringLiteral("missing value; %1").arg(accepted);
        return std::nullopt;
    }
    if (!ok || !std::isfinite(number)) {
        *problem = QStringLiteral("\"%1\" is not a number; %2")
                       .arg(value.toVariant().toString(), accepted);
        return std::nullopt;
    }
    if (number < range.minimum || number > range.maximum) {
        *problem = QStringLiteral("%1 is out of range; %2").arg(numberText(number), accepted);
        return std::nullopt;
    }
    return number;
}

// The value of the object's field as text, as a user would have typed it: numbers in their
// shortest form, anything else that is no text as its JSON.
QString typedText(const QJsonValue& value)
{
    if (value.isString() || value.isUndefined())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'f', QLocale::FloatingPointShortest);
    const QJsonDocument document = value.isArray()    ? QJsonDocument(value.toArray())
                                   : value.isObject() ? QJsonDocument(value.toObject())
                                                      : QJsonDocument();
    return value.isArray() || value.isObject()
               ? QString::fromUtf8(document.toJson(QJsonDocument::Compact))
               : value.toVariant().toString();
}

// A pump value of the object's field, judged by the pump's rules for the model at hand.
std::optional<qint32> pumpValue(const QJsonObject& object, const char* key,
                                Engine::Quantity quantity, Engine::Model model, QString* problem)
{
    const Engine::Verdict verdict =
        Engine::judge(quantity, typedText(object.value(QLatin1String(key))), model);
    if (!verdict.value)
        *problem = verdict.reason;
    return verdict.value;
}

constexpr ValueLimits::Range WaitSeconds{0, ValueLimits::LongestDispenseSeconds};
constexpr int LongestText = 32;
const QString Seconds = QStringLiteral(" s");

// The verbs whose argument is a word: set-time, mode, get and send.
bool checkWord(const QString& verb, const QString& text, Request& request, QString* problem)
{
    static const QRegularExpression code(QStringLiteral("^[A-Za-z0-9!]{1,4}$"));
    static const QRegularExpression printable(
        QStringLiteral("^[\\x20-\\x7e]{1,%1}$").arg(LongestText));
    request.word = text;
    if (verb == QLatin1String("set-time")) {
        const Engine::Verdict time = Engine::judgeTime(text);
        request.parameter = time.value.value_or(0);
        *problem = time.reason;
        return time.value.has_value();
    }
    if (verb == QLatin1String("mode")) {
        *problem = QStringLiteral("\"%1\" is no mode; accepted: flow, volume, time").arg(text);
        return std::find(std::begin(ModeNames), std::end(ModeNames), text) != std::end(ModeNames);
    }
    if (verb == QLatin1String("get")) {
        *problem =
            QStringLiteral("\"%1\" is no code; accepted: 1 to 4 letters, digits or !").arg(text);
        return code.match(text).hasMatch();
    }
    if (verb == QLatin1String("note")) {
        *problem = QStringLiteral("accepted: 1 to %1 characters on one line").arg(LongestNote);
        return !text.isEmpty() && text.size() <= LongestNote
               && std::none_of(text.begin(), text.end(),
                               [](QChar c) { return c.category() == QChar::Other_Control; });
    }
    *problem = QStringLiteral("accepted: 1 to %1 printable ASCII characters").arg(LongestText);
    return printable.match(text).hasMatch();
}

// The pump value each verb that sets one takes; a volume to wait for counts as one as well.
std::optional<Engine::Quantity> quantityOf(const QString& verb, const QString& word = {})
{
    if (verb == QLatin1String("set-flow"))
        return Engine::Quantity::FlowRate;
    if (verb == QLatin1String("set-volume") || verb == QLatin1String("dose")
        || (verb == QLatin1String("wait") && word == QLatin1String("volume")))
        return Engine::Quantity::DispenseVolume;
    if (verb == QLatin1String("set-cycles"))
        return Engine::Quantity::Cycles;
    if (verb == QLatin1String("set-break"))
        return Engine::Quantity::BreakSeconds;
    return std::nullopt;
}

// The number of the verbs that take one, checked and turned into the pump's parameter.
std::optional<double> checkNumber(const QJsonObject& object, Request& request, Engine::Model model,
                                  QString* problem)
{
    if (const std::optional<Engine::Quantity> quantity = quantityOf(request.verb, request.word)) {
        // A volume waited for is what the pump delivers, whatever its model doses at once.
        const Engine::Model judgedFor =
            request.verb == QLatin1String("wait") ? Engine::Model::Unknown : model;
        const std::optional<qint32> value =
            pumpValue(object, "value", *quantity, judgedFor, problem);
        request.parameter = value.value_or(0);
        const int decimals = Engine::limitsOf(*quantity).decimals;
        return value ? std::optional<double>(*value / std::pow(10.0, decimals)) : std::nullopt;
    }
    if (request.word == QLatin1String("seconds"))
        return rangedNumber(object, "value", WaitSeconds, Seconds, problem);
    if (request.word == QLatin1String("finished"))
        return 0.0;
    *problem = QStringLiteral("\"%1\" is nothing to wait for; accepted: volume, finished, seconds")
                   .arg(request.word);
    return std::nullopt;
}

constexpr ValueLimits::Range Deliveries{Engine::FewestDeliveries, Engine::MostDeliveries};
constexpr ValueLimits::Range WaterCelsius{Engine::ColdestWaterCelsius, Engine::WarmestWaterCelsius};
constexpr ValueLimits::Range Density{Engine::LightestLiquid, Engine::HeaviestLiquid};

// The masses weighed, one per delivery, each more than nothing.
bool checkMasses(const QJsonValue& value, int deliveries, Request& request, QString* problem)
{
    const QJsonArray masses = value.isArray() ? value.toArray() : QJsonArray{value};
    if (value.isUndefined() || masses.size() != deliveries) {
        *problem = QStringLiteral("%1 masses for %2 deliveries; give --mass once per delivery")
                       .arg(value.isUndefined() ? 0 : masses.size())
                       .arg(deliveries);
        return false;
    }
    for (int i = 0; i < masses.size(); ++i) {
        const std::optional<double> mass = Engine::typedMass(typedText(masses.at(i)));
        if (!mass) {
            *problem = QStringLiteral("mass %1: ").arg(i + 1)
                       + Engine::noMassText(typedText(masses.at(i)));
            return false;
        }
        request.massesG.push_back(*mass);
    }
    return true;
}

// The liquid: a density typed, or water at a temperature (20 °C unless given).
bool checkLiquid(const QJsonObject& object, Request& request, QString* problem)
{
    const bool density = object.contains(QLatin1String("density"));
    const bool water = object.contains(QLatin1String("water_temp"));
    if (density && water) {
        *problem = QStringLiteral("--density and --water-temp exclude each other");
        return false;
    }
    const std::optional<double> given =
        density ? rangedNumber(object, "density", Density, QStringLiteral(" g/ml"), problem)
        : water ? rangedNumber(object, "water_temp", WaterCelsius, QStringLiteral(" °C"), problem)
                : std::optional<double>(Engine::DefaultWaterCelsius);
    if (given)
        request.mlPerGram = density ? Engine::mlPerGram(*given) : Engine::waterMlPerGram(*given);
    return given.has_value();
}

// The balance's baud rate: one a balance's line can be set to, and only with a balance.
bool checkBaud(const QJsonObject& object, Request& request, QString* problem)
{
    const QString typed = typedText(object.value(QLatin1String("balance_baud")));
    QStringList rates;
    for (const qint32 rate : Balance::BaudRates)
        rates << QString::number(rate);
    QString why;
    if (request.balance.isEmpty())
        why = QStringLiteral("--balance-baud needs --balance");
    else if (!rates.contains(typed.trimmed()))
        why = QStringLiteral("--balance-baud \"%1\" is no baud rate; accepted: %2")
                  .arg(typed, rates.join(QStringLiteral(", ")));
    if (!why.isEmpty())
        *problem = why;
    request.balanceBaud = typed.trimmed().toInt();
    return why.isEmpty();
}

bool checkCalibration(const QJsonObject& object, Request& request, Engine::Model model,
                      QString* problem)
{
    const std::optional<qint32> target =
        pumpValue(object, "target", Engine::Quantity::DispenseVolume, model, problem);
    if (!target) {
        problem->prepend(QLatin1String("--target "));
        return false;
    }
    request.parameter = *target;
    request.number = *target / ValueLimits::ThousandthsPerUnit;
    std::optional<double> deliveries = double(Engine::DefaultDeliveries);
    if (object.contains(QLatin1String("deliveries")))
        deliveries = rangedNumber(object, "deliveries", Deliveries, {}, problem);
    if (!deliveries || *deliveries != std::floor(*deliveries)) {
        if (deliveries)
            *problem = QStringLiteral("%1 is not a whole number").arg(*deliveries);
        problem->prepend(QLatin1String("--deliveries "));
        return false;
    }
    request.write = object.value(QLatin1String("write")).toBool();
    request.deliveries = int(*deliveries);
    request.balance = object.value(QLatin1String("balance")).toString();
    if (object.contains(QLatin1String("flow"))) {
        request.flow = pumpValue(object, "flow", Engine::Quantity::FlowRate, model, problem);
        if (!request.flow) {
            problem->prepend(QLatin1String("--flow "));
            return false;
        }
    }
    if (!request.balance.isEmpty() && object.contains(QLatin1String("mass"))) {
        *problem = QStringLiteral("--balance and --mass exclude each other");
        return false;
    }
    if (object.contains(QLatin1String("balance_baud")) && !checkBaud(object, request, problem))
        return false;
    return (!request.balance.isEmpty()
            || checkMasses(object.value(QLatin1String("mass")), request.deliveries, request,
                           problem))
           && checkLiquid(object, request, problem);
}

// The pump a request names, when it names one: an address on the bus.
bool checkPump(const QJsonObject& object, Request& request, QString* problem)
{
    if (!object.contains(QLatin1String("pump")))
        return true;
    const QJsonValue pump = object.value(QLatin1String("pump"));
    const double address = pump.toDouble(-1);
    if (!pump.isDouble() || address != std::floor(address) || address < 0
        || address >= Engine::SearchedAddresses) {
        *problem = QStringLiteral("pump: \"%1\" is no pump address; accepted: 0 to %2")
                       .arg(typedText(pump))
                       .arg(Engine::SearchedAddresses - 1);
        return false;
    }
    request.pump = int(address);
    return true;
}

// Checks the arguments of one verb into the request; false with a problem when they do not do.
bool checkArguments(const QJsonObject& object, Request& request, Engine::Model model,
                    QString* problem)
{
    const Verb* verb = findVerb(request.verb);
    if (verb->takes == Takes::Nothing)
        return true;
    if (verb->takes == Takes::Calibration)
        return checkCalibration(object, request, model, problem);
    if (verb->takes == Takes::Word)
        return checkWord(request.verb, object.value(QLatin1String("value")).toString(), request,
                         problem);
    if (verb->takes == Takes::WaitKind)
        request.word = object.value(QLatin1String("for")).toString();
    const std::optional<double> number = checkNumber(object, request, model, problem);
    if (!number)
        return false;
    request.number = *number;
    if (verb->takes == Takes::Dose && object.contains(QLatin1String("flow"))) {
        request.flow = pumpValue(object, "flow", Engine::Quantity::FlowRate, model, problem);
        if (!request.flow) {
            problem->prepend(QLatin1String("--flow "));
            return false;
        }
    }
    if (object.contains(QLatin1String("timeout"))) {
        request.timeout = rangedNumber(object, "timeout", WaitSeconds, Seconds, problem);
        if (!request.timeout)
            problem->prepend(QLatin1String("--timeout "));
        return request.timeout.has_value();
    }
    return true;
}

} // namespace

std::vector<QJsonObject> requestsFromArguments(const QStringList& words, QString* error)
{
    std::vector<QJsonObject> requests;
    for (int i = 0; i < words.size() && error->isEmpty(); ++i) {
        const Verb* verb = findVerb(words.at(i));
        if (!verb) {
            *error = QStringLiteral("unknown verb \"%1\" (options go before the verbs; see --help)")
                         .arg(words.at(i));
            break;
        }
        QJsonObject object{{QStringLiteral("verb"), QLatin1String(verb->name)}};
        auto next = [&](const char* key) {
            if (i + 1 < words.size() && !findVerb(words.at(i + 1)))
                object.insert(QLatin1String(key), words.at(++i));
        };
        if (verb->takes == Takes::Number || verb->takes == Takes::Word ||
            verb->takes == Takes::Dose)
            next("value");
        if (verb->takes == Takes::WaitKind) {
            next("for");
            if (object.value(QLatin1String("for")).toString() != QLatin1String("finished"))
                next("value");
        }
        if (verb->takes == Takes::Calibration)
            takeCalibrationOptions(words, i, object, error, *verb);
        if (verb->takes == Takes::WaitKind || verb->takes == Takes::Dose) {
            const QStringList options =
                verb->takes == Takes::Dose
                    ? QStringList{QStringLiteral("flow"), QStringLiteral("timeout")}
                    : QStringList{QStringLiteral("timeout")};
            while (i + 1 < words.size() && error->isEmpty()) {
                int at = i + 1;
                if (!takeOption(words, at, object, options, error, *verb))
                    break;
                i = at;
            }
        }
        requests.push_back(object);
    }
    if (!error->isEmpty())
        requests.clear();
    return requests;
}

Checked checkRequest(const QJsonObject& object, Engine::Model model)
{
    Checked checked;
    const Verb* verb = findVerb(object.value(QLatin1String("verb")).toString());
    if (!verb) {
        checked.error = QStringLiteral("unknown verb \"%1\"")
                            .arg(object.value(QLatin1String("verb")).toString());
        return checked;
    }
    Request request;
    request.verb = QLatin1String(verb->name);
    QString problem;
    if (checkPump(object, request, &problem) && checkArguments(object, request, model, &problem))
        checked.request = request;
    else
        checked.error = usage(*verb, problem);
    checked.problem = problem;
    return checked;
}

bool isVerb(const QString& word)
{
    return findVerb(word) != nullptr;
}

QJsonObject parseRequest(const QByteArray& text, QString* error)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (document.isObject())
        return document.object();
    *error =
        QStringLiteral("malformed request: %1")
            .arg(document.isNull() ? parseError.errorString() : QStringLiteral("not an object"));
    return {};
}

QJsonObject errorResult(const QString& error, ExitStatus status)
{
    return {{QStringLiteral("ok"), false},
            {QStringLiteral("error"), error},
            {QStringLiteral("exit"), int(status)}};
}

QString verbHelp()
{
    QString text = QStringLiteral("Verbs (several may follow each other; they run in order and "
                                  "the first failure stops the rest):\n");
    for (const Verb& verb : Verbs)
        text += QStringLiteral("  %1 %2\n      %3\n      e.g. dosedeskctl %4\n")
                    .arg(QLatin1String(verb.name), QLatin1String(verb.arguments),
                         QLatin1String(verb.purpose), QLatin1String(verb.example));
    text += QStringLiteral(
        "  run FILE [--check] [--no-input] [--dry-run [--speed N]]\n      check a dosing protocol "
        "(YAML) whole, print its volume and expected duration, and run its steps; --check only "
        "checks; --no-input fails a step that asks a person; --dry-run runs it on a simulated "
        "pump whose clock runs N times as fast (run stands alone, without other verbs)\n      "
        "e.g. dosedeskctl run feed.yaml --dry-run --speed 60\n");
    text += QStringLiteral(
        "Values (what either pump model takes; through a running panel that knows its pump's "
        "model, that model's range, as the panel's fields judge them):\n");
    for (const Verb& verb : Verbs)
        if (const std::optional<Engine::Quantity> quantity = quantityOf(QLatin1String(verb.name)))
            text += QStringLiteral("  %1: %2\n")
                        .arg(QLatin1String(verb.name), Engine::acceptedText(*quantity));
    return text + Engine::valueRulesText();
}

namespace {

// One line per pump of a panel's list: "Media: 0 on /dev/ttyUSB0, VP110 V1.100, online,
// running, 2.500 ml/min, 1.250 ml delivered"; what it has not told yet is left out.
QString describePump(const QJsonObject& pump)
{
    QStringList parts{QStringLiteral("%1 on %2")
                          .arg(pump.value(QLatin1String("address")).toInt())
                          .arg(pump.value(QLatin1String("port")).toString())};
    const QString model =
        QStringLiteral("%1 %2").arg(pump.value(QLatin1String("model")).toString(),
                                    pump.value(QLatin1String("firmware")).toString());
    if (!model.trimmed().isEmpty())
        parts.append(model.trimmed());
    parts.append(pump.value(QLatin1String("connection")).toString());
    parts.append(pump.value(QLatin1String("state")).toString());
    for (const auto& [key, unit] :
         {std::pair{"flow_ml_min", "ml/min"}, {"delivered_ml", "ml delivered"}}) {
        if (pump.contains(QLatin1String(key)))
            parts.append(QStringLiteral("%1 %2")
                             .arg(pump.value(QLatin1String(key)).toDouble(), 0, 'f', 3)
                             .arg(QLatin1String(unit)));
    }
    const QString shown =
        pump.value(QLatin1String("selected")).toBool() ? QStringLiteral(" (shown)") : QString();
    return QStringLiteral("%1%2: %3\n")
        .arg(pump.value(QLatin1String("name")).toString(), shown, parts.join(QStringLiteral(", ")));
}

} // namespace

QString describe(const QJsonObject& result)
{
    QString text;
    // Fixed order, so that a script can cut the lines it wants; each with its decimals.
    static const std::pair<const char*, int> keys[] = {{"mode", 0},
                                                       {"flow_ml_min", 3},
                                                       {"volume_ml", 3},
                                                       {"time_s", 0},
                                                       {"cycles", 0},
                                                       {"break_s", 0},
                                                       {"delivered_ml", 3},
                                                       {"elapsed_s", 2},
                                                       {"address", 0},
                                                       {"answer", 0},
                                                       {"ended", 0},
                                                       {"target_ml", 3},
                                                       {"mean_ml", 4},
                                                       {"systematic_percent", 2},
                                                       {"systematic_ul", 1},
                                                       {"cv_percent", 2},
                                                       {"calibration_now", 0},
                                                       {"calibration_new", 0},
                                                       {"written", 0},
                                                       {"stopped", 0}};
    for (const auto& [key, decimals] : keys) {
        const QJsonValue value = result.value(QLatin1String(key));
        if (value.isUndefined())
            continue;
        const QString shown = value.isDouble() ? QString::number(value.toDouble(), 'f', decimals)
                                               : value.toVariant().toString();
        text += QStringLiteral("%1: %2\n").arg(QLatin1String(key), shown);
    }
    for (const QJsonValue& listed : result.value(QLatin1String("pumps")).toArray())
        text += describePump(listed.toObject());
    if (result.contains(QLatin1String("volumes_ml"))) {
        QStringList volumes;
        for (const QJsonValue& volume : result.value(QLatin1String("volumes_ml")).toArray())
            volumes.append(QString::number(volume.toDouble(), 'f', 4));
        text += QStringLiteral("volumes_ml: %1\n").arg(volumes.join(QLatin1Char(' ')));
    }
    if (result.contains(QLatin1String("flags"))) {
        QStringList flags;
        for (const QJsonValue& flag : result.value(QLatin1String("flags")).toArray())
            flags.append(flag.toString());
        text += QStringLiteral("flags: %1\n").arg(flags.join(QLatin1Char(' ')));
    }
    return text;
}

} // namespace Control
