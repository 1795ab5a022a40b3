#include "pumpstate.h"

#include "commandstack.h"
#include "commandtable.h"
#include "communication.h"
#include "framing.h"
#include "readings.h"
#include "request.h"

#include <QJsonArray>
#include <QtGlobal>

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
    if (address ? answer.address != *address : answer.aside)
        return;
    const bool heardPump =
        answer.outcome == Answer::Outcome::Answered || answer.outcome == Answer::Outcome::Refused;
    if (answer.outcome != Answer::Outcome::Local && answer.outcome != Answer::Outcome::Dropped)
        weighGarbled(answer.outcome == Answer::Outcome::Silent && answer.heard);
    if (heardPump) {
        lastAnswer.restart();
        if (answer.acknowledged)
            noteRunKey(::Protocol::Framing::commandBody(answer.sentFrame));
        const int garbled = qPopulationCount(garbledBits & ((1u << AnswersWeighed) - 1));
        setConnection(garbled >= GarbledForConflict ? Conflict : Online);
    } else if (answer.outcome == Answer::Outcome::Silent && link != LineLost
               && lastAnswer.elapsed() > SilenceMs) {
        setConnection(NotAnswering);
    }
    if (answer.outcome == Answer::Outcome::Answered && answer.fromPump && !answer.acknowledged)
        takeValue(answer, QString::fromLatin1(answer.data));
}

// Each answer changes one value at most: only that one is compared, on the window's thread.
void PumpState::takeValue(const Answer& answer, const QString& text)
{
    if (answer.spezifier == Table::getModelVersion.spezifier)
        return takeIdentity(text);
    using Slot = std::optional<qint32> PumpState::*;
    const std::pair<const BusinessLogic::CommandTraits*, Slot> readings[] = {
        {&Table::getRunMode, &PumpState::mode},
        {&Table::getFlowRate, &PumpState::flow},
        {&Table::getVolume, &PumpState::volume},
        {&Table::getDispenseTime, &PumpState::seconds},
        {&Table::getDispenseVolumeNumber, &PumpState::cycles},
        {&Table::getDispenseVolumeBreakTime, &PumpState::pause},
        {&Table::getActualVolume, &PumpState::delivered},
        {&Table::getTimeActual, &PumpState::elapsed},
    };
    std::optional<qint32>* slot = nullptr;
    const BusinessLogic::CommandTraits* reading = &Table::getPumpStatus;
    if (answer.spezifier == Table::getPumpStatus.spezifier) {
        const int page = Engine::statusPageOf(text);
        if (page > 0 && page < StatusPages)
            slot = &words[std::size_t(page)];
    }
    for (const auto& [traits, member] : readings) {
        if (traits->spezifier == answer.spezifier) {
            slot = &(this->*member);
            reading = traits;
        }
    }
    const qint32 value = Engine::readingValue(reading->body, text);
    if (!slot || *slot == value)
        return;
    *slot = value;
    emit changed();
}

void PumpState::takeIdentity(const QString& text)
{
    if (Engine::firmwareText(text) == firmwareText && Engine::modelCodeOf(text) == modelCode)
        return;
    modelCode = Engine::modelCodeOf(text);
    firmwareText = Engine::firmwareText(text);
    emit identified();
}

void PumpState::weighGarbled(bool garbled)
{
    garbledBits = (garbledBits << 1) | (garbled ? 1u : 0u);
}

void PumpState::noteRunKey(const QByteArray& body)
{
    const bool paused = body.endsWith(Table::pause.body);
    if (body.endsWith(Table::start.body) || body.endsWith(Table::stop.body) || paused) {
        pausedByKey = paused;
        emit changed();
    }
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

QString PumpState::runState() const
{
    if (hasError()) {
        const qint32 errorWord = *words[std::size_t(Engine::ErrorWord)];
        return QStringLiteral("error: %1")
            .arg(Engine::errorNames(errorWord).join(QLatin1String(", ")));
    }
    if (isRunning())
        return QStringLiteral("running");
    return pausedByKey ? QStringLiteral("paused") : QStringLiteral("stopped");
}

QString PumpState::modelName() const
{
    return modelCode ? Engine::pumpModelName(modelCode) : QString();
}

} // namespace Control
