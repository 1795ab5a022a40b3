#include "commandstack.h"

#include "communication.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <algorithm>

#include <utility>

namespace BusinessLogic {

CommandStack::CommandStack() : timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &CommandStack::ExecuteCommand);
    timer->start(TickMs);
}

CommandStack::~CommandStack() = default;

void CommandStack::addCommand(Command* command, qint32 parameter, bool logFlag, Origin origin)
{
    Entry entry;
    entry.command = command;
    entry.parameter = parameter;
    entry.logFlag = logFlag;
    entry.origin = origin;
    enqueue(std::move(entry));
}

void CommandStack::addCommand(Command* command, const QByteArray& text)
{
    Entry entry;
    entry.command = command;
    entry.text = text;
    entry.hasText = true;
    entry.logFlag = true;
    entry.origin = Origin::User;
    enqueue(std::move(entry));
}

void CommandStack::enqueue(Entry entry)
{
    // The command table holds empty slots; queuing one of them must not bring the line down.
    if (!entry.command)
        return;
    QMutexLocker locker(&lock);
    entry.serial = nextSerial++;
    if (entry.origin != Origin::UrgentUser) {
        queue.push_back(std::move(entry));
        return;
    }
    // Behind the entry on the line and the user's earlier commands, ahead of every reading.
    auto position = queue.begin() + (headRunning && !queue.empty() ? 1 : 0);
    for (auto it = position; it != queue.end(); ++it) {
        if (it->origin != Origin::Polled)
            position = it + 1;
    }
    queue.insert(position, std::move(entry));
    // Not left for the next tick: the line may be free now.
    QMetaObject::invokeMethod(this, &CommandStack::ExecuteCommand, Qt::QueuedConnection);
}

CommandStack::Activity CommandStack::takeActivity()
{
    QMutexLocker locker(&lock);
    return std::exchange(activity, Activity());
}

void CommandStack::record(const Entry& entry, quint64 exchangesBefore)
{
    const Communication* link = entry.command->link();
    if (!link || link->exchangeCount == exchangesBefore)
        return;
    std::optional<Verdict> verdict;
    if (entry.origin == Origin::Polled)
        verdict = std::nullopt;
    else if (link->nakReceived)
        verdict = Verdict::Refused;
    else if (link->ackReceived || link->dataFromPump)
        verdict = Verdict::Accepted;
    else if (link->protocolAnswer || !link->noAnswer)
        // A pump told to send no acknowledgements is silent by request.
        verdict = Verdict::NotAnswered;
    noteExchange(!link->noAnswer, verdict, link->lastAnswerNamedPump);
}

void CommandStack::noteExchange(bool answered, std::optional<Verdict> verdict, bool named)
{
    QMutexLocker locker(&lock);
    ++activity.exchanges;
    if (answered)
        ++activity.answered;
    if (named)
        ++activity.named;
    if (verdict)
        activity.verdicts.push_back(*verdict);
}

void CommandStack::logCommand(Platform::SystemTime* time)
{
    Q_UNUSED(time);
}

void CommandStack::logAnswer(Platform::SystemTime* time)
{
    Q_UNUSED(time);
}

void CommandStack::clear()
{
    {
        QMutexLocker locker(&lock);
        queue.clear();
        headRunning = false;
        lastAnswer.clear();
        lastSpezifier = BaseCommandSpezifier;
    }
    emit cleared();
}

qint32 CommandStack::answerTextOffset()
{
    return 0;
}

qint32 CommandStack::commandTextOffset()
{
    return 0;
}

int CommandStack::queuedCount()
{
    QMutexLocker locker(&lock);
    return int(queue.size());
}

Platform::SystemTime CommandStack::currentTime()
{
    return Platform::systemTimeUtc();
}

void CommandStack::ExecuteCommand()
{
    // A slot that spins an event loop while a line is being reported must not start the next
    // command while this one is still being finished.
    if (executing)
        return;

    Entry entry;
    {
        QMutexLocker locker(&lock);
        if (queue.empty())
            return;
        // The entry stays at the head while it runs, so queuedCount() still counts it.
        entry = queue.front();
        current = entry.command;
        currentParameter = entry.parameter;
        headRunning = true;
    }
    executing = true;
    const Communication* link = current->link();
    const quint64 exchangesBefore = link ? link->exchangeCount : 0;

    if (entry.hasText)
        current->setTextParameter(entry.text);
    else
        current->setParameter(currentParameter);

    // The lock is free during the exchange, so other threads can queue while the line is busy.
    sendTime = currentTime();
    current->execute();
    answerTime = currentTime();
    currentReachedLine = !link || (link->isOpen() && link->exchangeCount != exchangesBefore);

    {
        QMutexLocker locker(&lock);
        if (entry.logFlag)
            logCommand(&sendTime);
    }

    Platform::sleepMs(AnswerPauseMs);
    lastSpezifier = current->getCommandSpezifier();
    lastAnswer = current->getAnswer();
    record(entry, exchangesBefore);
    const bool fromPump = !link || link->exchangeCount == exchangesBefore || link->dataFromPump;

    {
        QMutexLocker locker(&lock);
        if (entry.logFlag)
            logAnswer(&answerTime);
        // A clear() from a slot of the log signals may already have dropped the entry; then the
        // head belongs to a later command and must stay.
        if (!queue.empty() && queue.front().serial == entry.serial) {
            queue.pop_front();
            headRunning = false;
        }
    }
    executing = false;

    emit sendAnswer(Answer{lastSpezifier, lastAnswer, fromPump});
}

} // namespace BusinessLogic
