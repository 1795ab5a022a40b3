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

Reply* CommandStack::submit(Request request, QObject* owner)
{
    Entry entry;
    static_cast<Request&>(entry) = std::move(request);
    entry.hasReply = true;
    {
        QMutexLocker locker(&lock);
        entry.serial = nextSerial++;
    }
    auto* reply = new Reply(entry.serial, owner);
    // Connected before the entry is queued, so that no result can pass it by; each connection
    // lets go of the reply once its result is in.
    const quint64 serial = entry.serial;
    auto take = [reply, serial](const Answer& answer) {
        if (answer.request == serial)
            reply->finish(answer);
    };
    connect(this, &CommandStack::sendAnswer, reply, take);
    connect(this, &CommandStack::requestDropped, reply, take);
    if (!entry.command) {
        // An empty slot of the table: dropped, reported later like any result.
        Answer dropped;
        dropped.request = serial;
        dropped.outcome = Answer::Outcome::Dropped;
        dropped.fromPump = false;
        QMetaObject::invokeMethod(reply, [reply, dropped] { reply->finish(dropped); },
                                  Qt::QueuedConnection);
        return reply;
    }
    enqueue(std::move(entry));
    return reply;
}

void CommandStack::enqueue(Entry entry)
{
    // The command table holds empty slots; queuing one of them must not bring the line down.
    if (!entry.command)
        return;
    QMutexLocker locker(&lock);
    if (!entry.hasReply)
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

void CommandStack::withdraw(const std::vector<quint64>& requests)
{
    QMutexLocker locker(&lock);
    const auto first = queue.begin() + (headRunning && !queue.empty() ? 1 : 0);
    queue.erase(std::remove_if(first, queue.end(),
                               [&requests](const Entry& entry) {
                                   return std::find(requests.begin(), requests.end(),
                                                    entry.serial) != requests.end();
                               }),
                queue.end());
}

CommandStack::Activity CommandStack::takeActivity()
{
    QMutexLocker locker(&lock);
    return std::exchange(activity, Activity());
}

void CommandStack::record(const Entry& entry, const Answer& answer)
{
    using Outcome = Answer::Outcome;
    if (answer.outcome == Outcome::Local || !entry.command->link())
        return;
    // What the other pumps on the bus make of their readings says nothing about the link's own;
    // a probe that finds a pump does.
    if (answer.aside && !answer.named)
        return;
    std::optional<Verdict> verdict;
    // A pump told to acknowledge nothing gives no verdict, whatever became of the frame.
    const bool silentByRequest = answer.outcome == Outcome::SilentByRequest
                                 || (!entry.command->link()->protocolAnswer && !answer.heard);
    if (entry.origin == Origin::Polled || silentByRequest)
        verdict = std::nullopt;
    else if (answer.outcome == Outcome::Refused)
        verdict = Verdict::Refused;
    else if (answer.outcome == Outcome::Answered)
        verdict = Verdict::Accepted;
    else
        verdict = Verdict::NotAnswered;
    noteExchange(answer.heard, verdict, answer.named);
}

Answer CommandStack::resultOf(const Entry& entry, quint64 exchangesBefore) const
{
    using Outcome = Answer::Outcome;
    Answer answer;
    answer.request = entry.serial;
    answer.spezifier = lastSpezifier;
    answer.data = lastAnswer;
    const Communication* link = current->link();
    // A command that sent nothing (an option of the link) leaves the data as it is.
    if (!link || link->exchangeCount == exchangesBefore) {
        answer.outcome = Outcome::Local;
        return answer;
    }
    answer.address = entry.address.value_or(link->address);
    answer.aside = answer.address != link->address;
    answer.fromPump = link->dataFromPump;
    if (!currentReachedLine) {
        answer.outcome = Outcome::LineLost;
        return answer;
    }
    answer.sentFrame = link->lastSentFrame;
    answer.rawAnswer = link->lastRawAnswer;
    answer.acknowledged = link->ackReceived;
    answer.heard = !link->noAnswer;
    answer.named = link->lastAnswerNamedPump;
    if (link->nakReceived)
        answer.outcome = Outcome::Refused;
    else if (link->ackReceived || link->dataFromPump)
        answer.outcome = Outcome::Answered;
    else if (!link->protocolAnswer && link->noAnswer && !answer.aside)
        answer.outcome = Outcome::SilentByRequest;
    else
        answer.outcome = Outcome::Silent;
    return answer;
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
    std::vector<Answer> dropped;
    {
        QMutexLocker locker(&lock);
        // The entry on the line runs to its end and gets its own result.
        for (auto it = queue.begin() + (headRunning && !queue.empty() ? 1 : 0); it != queue.end();
             ++it) {
            if (!it->hasReply)
                continue;
            Answer answer;
            answer.request = it->serial;
            answer.spezifier = it->command->getCommandSpezifier();
            answer.outcome = Answer::Outcome::Dropped;
            answer.fromPump = false;
            dropped.push_back(answer);
        }
        queue.clear();
        headRunning = false;
        lastAnswer.clear();
        lastSpezifier = BaseCommandSpezifier;
    }
    for (const Answer& answer : dropped)
        emit requestDropped(answer);
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

void CommandStack::run(const Entry& entry)
{
    Communication* link = entry.command->link();
    // The link's own pump keeps the link's options, whoever named it.
    if (!entry.address || !link || *entry.address == link->address) {
        current->execute();
        return;
    }
    const bool answers = link->protocolAnswer;
    link->probedAddress = entry.address;
    link->protocolAnswer = true;
    current->execute();
    link->probedAddress.reset();
    link->protocolAnswer = answers;
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
    run(entry);
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
    const Answer answer = resultOf(entry, exchangesBefore);
    record(entry, answer);

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

    emit sendAnswer(answer);
}

} // namespace BusinessLogic
