#include "pumpstate.h"

#include "commandstack.h"
#include "commandtable.h"
#include "communication.h"
#include "readings.h"
#include "request.h"

#include <QJsonArray>

namespace Control {

namespace Table = BusinessLogic::CommandTable;

namespace {

void insertKnown(QJsonObject& object, const char* key, const std::optional<qint32>& value,
                 double scale = 1)
{
    if (value)
        object.insert(QLatin1String(key), *value / scale);
}

constexpr double Thousandths = 1000;
constexpr double Hundredths = 100;

} // namespace

PumpState::PumpState(QObject* parent) : QObject(parent)
{
    lastAnswer.start();
}

void PumpState::follow(BusinessLogic::CommandStack* stack, Communication* communication)
{
    connect(stack, &BusinessLogic::CommandStack::sendAnswer, this, &PumpState::take);
    connect(communication, &Communication::lineLost, this, &PumpState::noteLineLost);
}

void PumpState::take(const Answer& answer)
{
    const bool heardPump =
        answer.outcome == Answer::Outcome::Answered || answer.outcome == Answer::Outcome::Refused;
    if (heardPump) {
        lastAnswer.restart();
        setConnection(Online);
    } else if (answer.outcome == Answer::Outcome::Silent && link != LineLost
               && lastAnswer.elapsed() > SilenceMs) {
        setConnection(NotAnswering);
    }
    if (answer.outcome == Answer::Outcome::Answered && answer.fromPump && !answer.acknowledged)
        takeValue(answer, QString::fromLatin1(answer.data));
}

void PumpState::takeValue(const Answer& answer, const QString& text)
{
    const auto value = [&text](const BusinessLogic::CommandTraits& reading) {
        return std::optional<qint32>(Engine::readingValue(reading.body, text));
    };
    const QJsonObject before = toJson();
    switch (answer.spezifier) {
    case Table::getRunMode.spezifier:
        mode = value(Table::getRunMode);
        break;
    case Table::getFlowRate.spezifier:
        flow = value(Table::getFlowRate);
        break;
    case Table::getVolume.spezifier:
        volume = value(Table::getVolume);
        break;
    case Table::getDispenseTime.spezifier:
        seconds = value(Table::getDispenseTime);
        break;
    case Table::getDispenseVolumeNumber.spezifier:
        cycles = value(Table::getDispenseVolumeNumber);
        break;
    case Table::getDispenseVolumeBreakTime.spezifier:
        pause = value(Table::getDispenseVolumeBreakTime);
        break;
    case Table::getActualVolume.spezifier:
        delivered = value(Table::getActualVolume);
        break;
    case Table::getTimeActual.spezifier:
        elapsed = value(Table::getTimeActual);
        break;
    case Table::getPumpStatus.spezifier:
        if (const int page = Engine::statusPageOf(text); page > 0 && page < StatusPages)
            words[std::size_t(page)] = value(Table::getPumpStatus);
        break;
    case Table::getModelVersion.spezifier:
        if (Engine::firmwareText(text) != firmwareText || Engine::modelCodeOf(text) != modelCode) {
            modelCode = Engine::modelCodeOf(text);
            firmwareText = Engine::firmwareText(text);
            emit identified();
        }
        break;
    default:
        break;
    }
    if (toJson() != before)
        emit changed();
}

void PumpState::noteLineLost()
{
    setConnection(LineLost);
}

void PumpState::setConnection(const QString& state)
{
    if (state == link)
        return;
    link = state;
    emit changed();
}

QJsonObject PumpState::toJson() const
{
    QJsonObject object;
    if (mode)
        object.insert(QStringLiteral("mode"), modeName(*mode));
    insertKnown(object, "flow_ml_min", flow, Thousandths);
    insertKnown(object, "volume_ml", volume, Thousandths);
    insertKnown(object, "time_s", seconds);
    insertKnown(object, "cycles", cycles);
    insertKnown(object, "break_s", pause);
    insertKnown(object, "delivered_ml", delivered, Thousandths);
    insertKnown(object, "elapsed_s", elapsed, Hundredths);
    QJsonArray flags;
    for (const Engine::FlagBit& flag : Engine::StatusFlags) {
        if (const auto& word = words[std::size_t(flag.word)];
            word && Engine::holds(flag.flag, *word))
            flags.append(QLatin1String(flag.name));
    }
    object.insert(QStringLiteral("flags"), flags);
    object.insert(QStringLiteral("running"), isRunning());
    object.insert(QStringLiteral("error"), hasError());
    object.insert(QStringLiteral("connection"), link);
    return object;
}

bool PumpState::isRunning() const
{
    const auto& word = words[std::size_t(Engine::flagBit(Engine::StatusFlag::MotorInMotion).word)];
    return word && Engine::holds(Engine::StatusFlag::MotorInMotion, *word);
}

bool PumpState::hasError() const
{
    const auto& word = words[std::size_t(Engine::ErrorWord)];
    return word && (*word & Engine::ErrorBits) != 0;
}

QString PumpState::modelName() const
{
    return modelCode ? Engine::pumpModelName(modelCode) : QString();
}

} // namespace Control
