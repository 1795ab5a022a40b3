#include "pumpmodel.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace Simulator {

namespace {

constexpr qint64 scalePerMinute = 60000; // milliseconds per minute
// The calibration % in hundredths that leaves the metered volume as it is, and the unit of the
// volumes.
constexpr double FullCalibration = 10000.0;
constexpr double ThousandthsPerMl = 1000.0;
constexpr qint64 modelFlowLimit = -1;    // maximum is the model's maximum flow rate
constexpr qint64 largestValue = 99999999;
constexpr int maxValueDigits = 9;
constexpr quint8 motorNotAdjustedError = 0x20;
constexpr int masterStopClearBit = 0x08;

// Model codes of the pump models the factory model list offers, by list position.
constexpr int modelCodes[] = {110, 110, 102, 102, 110, 102};

bool isDigits(const QByteArray& text)
{
    return !text.isEmpty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

// One stored value of the pump: its code on the line, default and accepted values, and how it is
// written back when asked for.
struct PumpModel::Setting
{
    QByteArray code;
    qint64 defaultValue;
    qint64 minimum;
    qint64 maximum;                 // modelFlowLimit: the model's maximum flow rate
    std::vector<qint64> allowed;    // when not empty, the only accepted values
    int answerWidth = 1;            // minimum digits of an answer, filled with "0"
    bool readable = true;
    bool keptByDefaults = false;    // survives "IP": link, identity and factory calibration
};

const PumpModel::Setting* PumpModel::findSetting(const QByteArray& code)
{
    static const std::vector<Setting> table = {
        {"MS", 0, 0, 2, {}, 1, true, false},
        {"DV", 10000, 0, largestValue, {}, 1, true, false},
        {"RV", 10000, 0, modelFlowLimit, {}, 1, true, false},
        {"DT", 0, 0, largestValue, {}, 8, true, false},
        {"DB", 0, 0, 99999, {}, 1, true, false},
        {"DN", 0, 0, 99999, {}, 1, true, false},
        {"RA", 9, 0, 9, {0, 1, 2, 3, 9}, 1, true, false},
        {"RB", 0, 0, 9, {}, 1, true, false},
        {"L1", 0, 0, 10, {0, 1, 6}, 1, true, false},
        {"L2", 0, 0, 10, {0, 1, 6, 8, 9, 10}, 1, true, false},
        {"RS", 0, 0, 4, {}, 1, true, false},
        {"LS", 0, 0, 6, {}, 1, true, false},
        {"CF", 10000, 0, largestValue, {}, 1, false, false},
        {"CH", 10000, 8000, 12000, {}, 1, true, false},
        {"SA", 0, 0, 1, {}, 1, true, false},
        {"CC", 0, 0, 3, {}, 1, true, false},
        {"LC", 50, 0, 100, {}, 1, true, false},
        {"MP", 0, 0, 1, {}, 1, true, false},
        {"SP", 1, 0, largestValue, {}, 1, true, true},
        {"AD", 0, 0, 99, {}, 1, true, true},
        {"PF!", 0, 0, 1, {}, 1, true, true},
        {"PM!", 1, 0, 5, {}, 1, true, true},
        {"ZF!", 202, 0, 99999, {}, 1, true, true},
        {"ZR!", 10000, 0, largestValue, {}, 1, false, true},
    };
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&code](const Setting& s) { return s.code == code; });
    return found == table.end() ? nullptr : &*found;
}

PumpModel::PumpModel(int modelCode, int address)
    : model(modelCode)
{
    for (const char* code : {"SP", "AD", "PF!", "PM!", "ZF!", "ZR!"})
        settings.insert(code, findSetting(code)->defaultValue);
    restoreDefaults();
    settings["AD"] = address;
    // The remote-controllable variant of the chosen model.
    settings["PM!"] = modelCode == 102 ? 3 : 1;
    storedBits = {0, 0, 1, 0, 0, 0, 0}; // word 2 bit 0: motor adjusted
}

void PumpModel::restoreDefaults()
{
    for (const char* code : {"MS", "DV", "RV", "DT", "DB", "DN", "RA", "RB", "L1", "L2", "RS",
                             "LS", "CF", "CH", "SA", "CC", "LC", "MP"}) {
        settings[code] = findSetting(code)->defaultValue;
    }
    endRun(true);
    totalVolumeScaled = 0;
    cycleNumber = 0;
}

int PumpModel::address() const
{
    return int(settings.value("AD"));
}

bool PumpModel::protocolAnswer() const
{
    return settings.value("SP") == 1;
}

qint64 PumpModel::maxFlowRate() const
{
    return model == 102 ? 20000 : 100000;
}

Reply PumpModel::handle(const QByteArray& body, qint64 nowMs)
{
    advanceTo(nowMs);
    // A frame with nothing but the address is answered with the address alone.
    if (body.isEmpty())
        return Reply::answer(QByteArray::number(address()).rightJustified(2, '0'));
    if (body.startsWith('?'))
        return handleRead(body.mid(1));
    if (body == "IP") {
        restoreDefaults();
        return Reply::ack();
    }
    if (body.startsWith("KY")) {
        const QByteArray key = body.mid(2);
        if (key.size() != 1 || key[0] < '0' || key[0] > '3')
            return Reply::nak();
        return handleKey(key[0] - '0');
    }
    return handleWrite(body);
}

Reply PumpModel::handleRead(const QByteArray& code) const
{
    if (code == "TT")
        return Reply::answer(formatTime(runElapsedMs));
    if (code == "SV")
        return Reply::answer(QByteArray::number(model).rightJustified(5, '0')
                             + QByteArray::number(firmwareVersion).rightJustified(5, '0'));
    if (code == "TV")
        return Reply::answer(QByteArray::number(*value(code)));
    // The communication check answers the pump's own address in the two digits of a frame
    // address, which is what tells the panel that a pump sits at the address it calls.
    if (code == "SI")
        return Reply::answer(QByteArray::number(address()).rightJustified(2, '0'));
    if (code.size() == 3 && code.startsWith("SS") && code[2] >= '0' && code[2] <= '6')
        return Reply::answer(QByteArray::number(statusWord(code[2] - '0')).rightJustified(3, '0'));
    const Setting* setting = findSetting(code);
    if (!setting || !setting->readable)
        return Reply::nak();
    return Reply::answer(
        QByteArray::number(settings.value(code)).rightJustified(setting->answerWidth, '0'));
}

Reply PumpModel::handleWrite(const QByteArray& body)
{
    const QByteArray code = body.size() >= 3 && body[2] == '!' ? body.left(3) : body.left(2);
    const Setting* setting = findSetting(code);
    const QByteArray digits = body.mid(code.size());
    if (!setting || !isDigits(digits) || digits.size() > maxValueDigits)
        return Reply::nak();
    const qint64 number = digits.toLongLong();
    if (!accepts(*setting, number))
        return Reply::nak();
    store(code, number);
    return Reply::ack();
}

bool PumpModel::accepts(const Setting& setting, qint64 number) const
{
    if (!setting.allowed.empty())
        return std::find(setting.allowed.begin(), setting.allowed.end(), number)
               != setting.allowed.end();
    const qint64 maximum = setting.maximum == modelFlowLimit ? maxFlowRate() : setting.maximum;
    return number >= setting.minimum && number <= maximum;
}

void PumpModel::store(const QByteArray& code, qint64 number)
{
    if (code == "SP")
        number = number == 1 ? 1 : 0;
    settings[code] = number;
    if (code == "PM!" && number >= 0 && number < qint64(std::size(modelCodes))) {
        model = modelCodes[number];
        settings["RV"] = std::min(settings.value("RV"), maxFlowRate());
    }
}

Reply PumpModel::handleKey(int key)
{
    switch (key) {
    case 0: // Stop
        endRun(true);
        break;
    case 1: // Start, or resume after a pause
        if (masterStopActive)
            return Reply::nak();
        if (runPhase == Phase::Paused)
            runPhase = phaseBeforePause;
        else if (runPhase != Phase::Running && runPhase != Phase::CyclePause)
            startRun();
        break;
    case 2: // Prime: full speed until another key
        if (masterStopActive)
            return Reply::nak();
        endRun(true);
        runPhase = Phase::Priming;
        break;
    default: // Pause
        if (runPhase == Phase::Running || runPhase == Phase::CyclePause) {
            phaseBeforePause = runPhase;
            runPhase = Phase::Paused;
        } else if (runPhase == Phase::Priming) {
            runPhase = Phase::Idle;
        }
        break;
    }
    return Reply::ack();
}

void PumpModel::startRun()
{
    totalVolumeScaled = 0;
    cycleNumber = 0;
    beginCycle();
}

void PumpModel::beginCycle()
{
    ++cycleNumber;
    runElapsedMs = 0;
    cycleVolumeScaled = 0;
    runPhase = Phase::Running;
}

void PumpModel::finishCycle()
{
    const qint64 wanted = cyclesWanted();
    const bool moreCycles = wanted == endlessCycles || cycleNumber < wanted;
    const qint64 pauseMs = settings.value("DB") * 1000;
    // A cycle that ends where it began, with no pause, would repeat without end in no time.
    const bool cycleWasEmpty = runElapsedMs == 0 && pauseMs == 0;
    if (!moreCycles || cycleWasEmpty) {
        endRun(false);
        return;
    }
    pauseLeftMs = pauseMs;
    if (pauseLeftMs == 0)
        beginCycle();
    else
        runPhase = Phase::CyclePause;
}

void PumpModel::endRun(bool resetElapsed)
{
    runPhase = Phase::Idle;
    pauseLeftMs = 0;
    if (resetElapsed)
        runElapsedMs = 0;
}

qint64 PumpModel::cyclesWanted() const
{
    const qint64 count = settings.value("DN");
    return count <= 1 ? 1 : count;
}

bool PumpModel::runInProgress() const
{
    return runPhase == Phase::Running || runPhase == Phase::Paused
           || runPhase == Phase::CyclePause;
}

bool PumpModel::cycleTargetReached() const
{
    const qint64 limitMs = parseTime(settings.value("DT"));
    if (limitMs > 0 && runElapsedMs >= limitMs)
        return true;
    return settings.value("MS") == 1 && cycleVolumeScaled >= settings.value("DV") * scalePerMinute;
}

qint64 PumpModel::millisecondsToCycleEnd() const
{
    qint64 left = std::numeric_limits<qint64>::max();
    const qint64 limitMs = parseTime(settings.value("DT"));
    if (limitMs > 0)
        left = limitMs - runElapsedMs;
    const qint64 flow = settings.value("RV");
    if (settings.value("MS") == 1 && flow > 0) {
        const qint64 missing = settings.value("DV") * scalePerMinute - cycleVolumeScaled;
        left = std::min(left, (missing + flow - 1) / flow);
    }
    return std::max<qint64>(left, 1);
}

double PumpModel::outflowMl() const
{
    return outflowScaled / double(scalePerMinute) / ThousandthsPerMl;
}

void PumpModel::advanceTo(qint64 nowMs)
{
    if (nowMs <= lastAdvanceMs)
        return;
    qint64 left = nowMs - lastAdvanceMs;
    lastAdvanceMs = nowMs;
    while (left > 0) {
        if (runPhase == Phase::Running) {
            if (cycleTargetReached()) {
                finishCycle();
                continue;
            }
            const qint64 step = std::min(left, millisecondsToCycleEnd());
            runElapsedMs += step;
            cycleVolumeScaled += settings.value("RV") * step;
            totalVolumeScaled += settings.value("RV") * step;
            outflowScaled += double(settings.value("RV") * step) * trueFactor
                             * double(settings.value("CH")) / FullCalibration;
            left -= step;
            if (cycleTargetReached())
                finishCycle();
        } else if (runPhase == Phase::CyclePause) {
            const qint64 step = std::min(left, pauseLeftMs);
            pauseLeftMs -= step;
            left -= step;
            if (pauseLeftMs == 0)
                beginCycle();
        } else {
            break;
        }
    }
}

int PumpModel::statusWord(int number) const
{
    if (number < 0 || number >= int(storedBits.size()))
        return 0;
    const bool motorMoving = runPhase == Phase::Running || runPhase == Phase::Priming;
    const bool runMode = settings.value("MS") == 0;
    int word = storedBits[number];
    switch (number) {
    case 1:
        word |= (motorMoving ? 0x01 : 0) | (errorBits() != 0 ? 0x02 : 0);
        break;
    case 2:
        if (errorBits() & motorNotAdjustedError)
            word &= ~0x01;
        break;
    case 3:
        word |= runMode && runInProgress() ? 0x01 : 0;
        break;
    case 4:
        word = (word & ~masterStopClearBit) | (!runMode && runInProgress() ? 0x01 : 0)
               | (masterStopActive ? 0 : masterStopClearBit);
        break;
    default:
        break;
    }
    return word;
}

void PumpModel::raiseErrorBits(quint8 bits)
{
    storedBits[6] |= bits;
}

void PumpModel::clearErrorBits(quint8 bits)
{
    storedBits[6] &= ~int(bits);
}

void PumpModel::setMasterStop(bool active)
{
    masterStopActive = active;
    if (active && (runInProgress() || runPhase == Phase::Priming))
        endRun(true);
}

bool PumpModel::setValue(const QByteArray& code, qint64 number)
{
    if (code == "TV") {
        totalVolumeScaled = number * scalePerMinute;
    } else if (code == "TT") {
        runElapsedMs = parseTime(number);
    } else if (code == "SV") {
        model = int(number);
    } else if (code == "SI") {
        settings["AD"] = number;
    } else if (code.size() == 3 && code.startsWith("SS") && code[2] >= '0' && code[2] <= '6') {
        storedBits[code[2] - '0'] = int(number) & 0xFF;
    } else if (findSetting(code)) {
        store(code, number);
    } else {
        return false;
    }
    return true;
}

std::optional<qint64> PumpModel::value(const QByteArray& code) const
{
    if (code == "TV")
        return totalVolumeScaled / scalePerMinute;
    if (code == "TT")
        return formatTime(runElapsedMs).toLongLong();
    if (code == "SV")
        return model;
    if (code == "SI")
        return address();
    if (code.size() == 3 && code.startsWith("SS") && code[2] >= '0' && code[2] <= '6')
        return statusWord(code[2] - '0');
    if (findSetting(code))
        return settings.value(code);
    return std::nullopt;
}

QByteArray PumpModel::formatTime(qint64 milliseconds)
{
    const qint64 hundredths = milliseconds / 10;
    const qint64 seconds = hundredths / 100;
    const qint64 text = (seconds / 3600) * 1000000 + (seconds / 60 % 60) * 10000
                        + (seconds % 60) * 100 + hundredths % 100;
    return QByteArray::number(text).rightJustified(8, '0');
}

qint64 PumpModel::parseTime(qint64 hhmmsscc)
{
    const qint64 hours = hhmmsscc / 1000000;
    const qint64 minutes = hhmmsscc / 10000 % 100;
    const qint64 seconds = hhmmsscc / 100 % 100;
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + hhmmsscc % 100 * 10;
}

} // namespace Simulator
