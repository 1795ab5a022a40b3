#include "pumpcontrol.h"

#include "ptypump.h"

#include <QRegularExpression>

#include <functional>

namespace Simulator {

namespace {

using Result = PumpControl::Result;

Result failure(const QString& message)
{
    return {false, message, false};
}

Result success(const QString& message = {})
{
    return {true, message, false};
}

// "on"/"off" as a switch; anything else is no switch.
std::optional<bool> readSwitch(const QStringList& words)
{
    if (words.size() != 2)
        return std::nullopt;
    if (words[1] == QLatin1String("on"))
        return true;
    if (words[1] == QLatin1String("off"))
        return false;
    return std::nullopt;
}

std::optional<qint64> readNumber(const QString& word, qint64 minimum, qint64 maximum)
{
    bool ok = false;
    const qint64 number = word.toLongLong(&ok);
    if (!ok || number < minimum || number > maximum)
        return std::nullopt;
    return number;
}

// Faults and pump states that are simply on or off: a fault flag, or else a pump setter.
struct Switch
{
    const char* name;
    bool Faults::*flag;
    void (PtyPump::*set)(bool);
};

const Switch switches[] = {
    {"silent", &Faults::silent, nullptr},
    {"nak-all", &Faults::nakAll, nullptr},
    {"bad-lrc", &Faults::badCheckByte, nullptr},
    {"zero-lrc", &Faults::zeroCheckByte, nullptr},
    {"cut-at-etx", &Faults::cutAtEtx, nullptr},
    {"master-stop", nullptr, &PtyPump::setMasterStop},
    {"pacing", nullptr, &PtyPump::setPacing},
};

// Pump settings that take one whole number.
struct PumpNumber
{
    const char* name;
    qint64 minimum;
    qint64 maximum;
    void (*apply)(PtyPump&, qint64);
};

const PumpNumber pumpNumbers[] = {
    {"error-bits", 0, 255, [](PtyPump& pump, qint64 bits) { pump.setErrorBits(quint8(bits)); }},
    {"turnaround", 0, 60000, [](PtyPump& pump, qint64 ms) { pump.setTurnaroundMs(int(ms)); }},
};

constexpr int lowestAddress = 0;
constexpr int highestAddress = 99;
constexpr int defaultModel = 110;

} // namespace

PumpControl::PumpControl(PtyPump& controlled)
    : pump(controlled)
{
}

QString PumpControl::replyLine(const Result& result)
{
    const QString head = result.ok ? QStringLiteral("ok") : QStringLiteral("error");
    return result.message.isEmpty() ? head : head + QLatin1Char(' ') + result.message;
}

PumpControl::Result PumpControl::apply(const QString& line)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = line.trimmed().split(blanks, Qt::SkipEmptyParts);
    if (words.isEmpty())
        return failure(QStringLiteral("empty command"));
    if (words[0] != QLatin1String("pump"))
        return applyWords(words);
    const auto address =
        words.size() >= 3 ? readNumber(words[1], lowestAddress, highestAddress) : std::nullopt;
    if (!address)
        return failure(QStringLiteral("usage: pump N COMMAND (N: address %1 to %2)")
                           .arg(lowestAddress)
                           .arg(highestAddress));
    if (!pump.addresses().contains(int(*address)))
        return failure(QStringLiteral("no pump at address %1").arg(*address));
    return applyToPump(int(*address), words.mid(2));
}

PumpControl::Result PumpControl::applyToPump(int address, const QStringList& words)
{
    const QString& command = words[0];
    const int arguments = int(words.size()) - 1;
    // The pump may have taken another address since it was looked up.
    const Result gone = failure(QStringLiteral("no pump at address %1").arg(address));

    if (command == QLatin1String("on") || command == QLatin1String("off")) {
        if (arguments != 0)
            return failure(QStringLiteral("usage: pump N on|off"));
        return pump.setPowered(address, command == QLatin1String("on")) ? success() : gone;
    }
    if (command == QLatin1String("set")) {
        const auto number = arguments == 2 ? readNumber(words[2], 0, 999999999) : std::nullopt;
        if (!number)
            return failure(QStringLiteral("usage: pump N set CODE VALUE"));
        if (!pump.setValue(address, words[1].toLatin1(), *number))
            return failure(QStringLiteral("unknown code %1").arg(words[1]));
        return success();
    }
    if (command == QLatin1String("get")) {
        const auto number =
            arguments == 1 ? pump.value(address, words[1].toLatin1()) : std::nullopt;
        if (!number)
            return failure(QStringLiteral("usage: pump N get CODE (a known code)"));
        return success(QString::number(*number));
    }
    if (command == QLatin1String("error-bits")) {
        const auto bits = arguments == 1 ? readNumber(words[1], 0, 255) : std::nullopt;
        if (!bits)
            return failure(QStringLiteral("usage: pump N error-bits N (0 to 255)"));
        return pump.setErrorBits(address, quint8(*bits)) ? success() : gone;
    }
    if (command == QLatin1String("master-stop")) {
        const auto on = readSwitch(words);
        if (!on)
            return failure(QStringLiteral("usage: pump N master-stop on|off"));
        return pump.setMasterStop(address, *on) ? success() : gone;
    }
    return failure(QStringLiteral("only set, get, error-bits, master-stop, on and off act on one "
                                  "pump"));
}

PumpControl::Result PumpControl::applyWords(const QStringList& words)
{
    const QString& command = words[0];
    const int arguments = int(words.size()) - 1;

    for (const Switch& setting : switches) {
        if (command != QLatin1String(setting.name))
            continue;
        const auto on = readSwitch(words);
        if (!on)
            return failure(QStringLiteral("usage: %1 on|off").arg(command));
        if (setting.flag)
            pump.modifyFaults([&](Faults& faults) { faults.*setting.flag = *on; });
        else
            (pump.*setting.set)(*on);
        return success();
    }

    for (const PumpNumber& setting : pumpNumbers) {
        if (command != QLatin1String(setting.name))
            continue;
        const auto number = arguments == 1
                                ? readNumber(words[1], setting.minimum, setting.maximum)
                                : std::nullopt;
        if (!number)
            return failure(QStringLiteral("usage: %1 N (%2 to %3)")
                               .arg(command).arg(setting.minimum).arg(setting.maximum));
        setting.apply(pump, *number);
        return success();
    }

    using Handler = std::function<Result()>;
    const std::pair<const char*, Handler> handlers[] = {
        {"late-lrc", [&] {
             const auto on = readSwitch(words);
             const auto ms = arguments == 1 ? readNumber(words[1], 1, 60000) : std::nullopt;
             if (!on && !ms)
                 return failure(QStringLiteral("usage: late-lrc on|off|MS"));
             const int delay = ms ? int(*ms) : *on ? Faults::defaultLateCheckByteMs : 0;
             pump.modifyFaults([delay](Faults& faults) { faults.lateCheckByteMs = delay; });
             return success();
         }},
        {"chunked", [&] {
             const auto on = readSwitch(words);
             const auto size = arguments == 2 ? readNumber(words[1], 1, 1000) : std::nullopt;
             const auto gap = arguments == 2 ? readNumber(words[2], 0, 60000) : std::nullopt;
             if (!on && !(size && gap))
                 return failure(QStringLiteral("usage: chunked on|off|SIZE GAP_MS"));
             const bool chunked = size || *on;
             const int chunkSize = size ? int(*size) : chunked ? Faults::defaultChunkSize : 0;
             const int chunkGap = gap ? int(*gap) : chunked ? Faults::defaultChunkGapMs : 0;
             pump.modifyFaults([&](Faults& faults) {
                 faults.chunkSize = chunkSize;
                 faults.chunkGapMs = chunkGap;
             });
             return success();
         }},
        {"corrupt", [&] {
             bool ok = false;
             const double fraction = arguments == 1 ? words[1].toDouble(&ok) : 0.0;
             if (!ok || fraction < 0.0 || fraction > 1.0)
                 return failure(QStringLiteral("usage: corrupt FRACTION (0 to 1)"));
             pump.modifyFaults([fraction](Faults& faults) { faults.corruptFraction = fraction; });
             return success();
         }},
        {"garbage", [&] {
             const auto count = arguments >= 1 ? readNumber(words[1], 1, 100000) : std::nullopt;
             const bool next = arguments == 2 && words[2] == QLatin1String("next");
             if (!count || (arguments == 2 && !next) || arguments > 2)
                 return failure(QStringLiteral("usage: garbage N [next]"));
             pump.injectGarbage(int(*count), next);
             return success();
         }},
        {"set", [&] {
             const auto number = arguments == 2 ? readNumber(words[2], 0, 999999999) : std::nullopt;
             if (!number)
                 return failure(QStringLiteral("usage: set CODE VALUE"));
             if (!pump.setValue(words[1].toLatin1(), *number))
                 return failure(QStringLiteral("unknown code %1").arg(words[1]));
             return success();
         }},
        {"get", [&] {
             const auto number = arguments == 1 ? pump.value(words[1].toLatin1()) : std::nullopt;
             if (!number)
                 return failure(QStringLiteral("usage: get CODE (a known code)"));
             return success(QString::number(*number));
         }},
        {"unplug", [&] {
             pump.unplug();
             return success();
         }},
        {"replug", [&] {
             if (!pump.replug())
                 return failure(pump.errorString());
             return success(pump.devicePath());
         }},
        {"frames", [&] { return success(QString::number(pump.frameCount())); }},
        {"quit", [&] { return Result{true, {}, true}; }},
        {"help", [&] { return success(help().trimmed().replace(QLatin1Char('\n'), QLatin1String(" | "))); }},
    };
    for (const auto& [name, handler] : handlers) {
        if (command == QLatin1String(name))
            return handler();
    }
    return failure(QStringLiteral("unknown command %1").arg(command));
}

QString PumpControl::help()
{
    return QStringLiteral(
        "silent on|off          send nothing at all (commands still act)\n"
        "nak-all on|off         refuse every frame with NAK\n"
        "bad-lrc on|off         answer frames carry a wrong check byte\n"
        "late-lrc on|off|MS     check byte follows ETX 200 ms (or MS) later\n"
        "chunked on|off|N MS    answers in 3-byte chunks 30 ms apart (or N bytes, MS apart)\n"
        "zero-lrc on|off        plain-number answers padded so that their check byte is 0\n"
        "cut-at-etx on|off      answer frames end at ETX, no check byte\n"
        "corrupt FRACTION       change this share of the sent bytes (0 = off)\n"
        "garbage N [next]       send N noise bytes now (or before the next answer)\n"
        "error-bits N           error word (status word 6): 1 overpressure, 8 4-20 mA too low,\n"
        "                       16 power supply, 32 motor not adjusted, 64 over-temperature,\n"
        "                       128 no encoder signal\n"
        "master-stop on|off     master stop active (stops the motor, Start refused)\n"
        "pacing on|off          pace answer bytes at 9600 baud\n"
        "turnaround MS          silence before each answer\n"
        "set CODE VALUE         set a pump value, e.g. set DV 12500, set SS2 3, set SV 102\n"
        "get CODE               read a pump value, e.g. get TV\n"
        "unplug | replug        close the pseudo-terminal | open a new one (prints its path)\n"
        "frames                 number of frames received\n"
        "quit                   stop the simulator\n"
        "pump N COMMAND         set, get, error-bits or master-stop for the pumps at address N\n"
        "                       (without it they act on the first pump; the rest on the line)\n"
        "pump N off|on          switch the pumps at address N off (deaf and silent) or on again\n"
        "                       (they keep their state)\n"
        "Every line is answered on standard output with \"ok [value]\" or \"error <reason>\".\n");
}

bool PumpControl::choosePumps(const QStringList& addresses, const QStringList& models,
                              PtyPump::Options& options)
{
    if (addresses.isEmpty() || models.size() > addresses.size())
        return false;
    QList<PtyPump::BusPump> pumps;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        const auto address = readNumber(addresses[i], lowestAddress, highestAddress);
        const auto model =
            i < models.size() ? readNumber(models[i], 0, 999) : std::optional<qint64>(defaultModel);
        if (!address || !model || (*model != 102 && *model != 110))
            return false;
        pumps.append({int(*address), int(*model)});
    }
    options.address = pumps.first().address;
    options.modelCode = pumps.first().modelCode;
    options.furtherPumps = pumps.mid(1);
    return true;
}

} // namespace Simulator
