#include "commandstack.h"

#include <QMutexLocker>

#include <utility>

namespace BusinessLogic {

CommandStack::CommandStack() : timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &CommandStack::ExecuteCommand);
    timer->start(TickMs);
}

CommandStack::~CommandStack() = default;

void CommandStack::addCommand(Command* command, qint32 parameter, bool logFlag)
{
    Entry entry;
    entry.command = command;
    entry.parameter = parameter;
    entry.logFlag = logFlag;
    enqueue(std::move(entry));
}

void CommandStack::addCommand(Command* command, const QByteArray& text)
{
    Entry entry;
    entry.command = command;
    entry.text = text;
    entry.hasText = true;
    entry.logFlag = true;
    enqueue(std::move(entry));
}

void CommandStack::enqueue(Entry entry)
{
    // The command table holds empty slots; queuing one of them must not bring the line down.
    if (!entry.command)
        return;
    QMutexLocker locker(&lock);
    entry.serial = nextSerial++;
    queue.push_back(std::move(entry));
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
    QMutexLocker locker(&lock);
    queue.clear();
    lastAnswer.clear();
    lastSpezifier = BaseCommandSpezifier;
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
    }
    executing = true;

    if (entry.hasText)
        current->setTextParameter(entry.text);
    else
        current->setParameter(currentParameter);

    // The lock is free during the exchange, so other threads can queue while the line is busy.
    sendTime = currentTime();
    current->execute();
    answerTime = currentTime();

    {
        QMutexLocker locker(&lock);
        if (entry.logFlag)
            logCommand(&sendTime);
    }

    Platform::sleepMs(AnswerPauseMs);
    lastSpezifier = current->getCommandSpezifier();
    lastAnswer = current->getAnswer();

    {
        QMutexLocker locker(&lock);
        if (entry.logFlag)
            logAnswer(&answerTime);
        // A clear() from a slot of the log signals may already have dropped the entry; then the
        // head belongs to a later command and must stay.
        if (!queue.empty() && queue.front().serial == entry.serial)
            queue.pop_front();
    }
    executing = false;

    emit sendAnswer(Answer{lastSpezifier, lastAnswer});
}

} // namespace BusinessLogic
