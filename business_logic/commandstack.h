#pragma once

#include "command.h"

#include "platform.h"

#include <QByteArray>
#include <QObject>
#include <QRecursiveMutex>
#include <QTimer>

#include <deque>
#include <string>
#include <vector>

namespace BusinessLogic {

// The one queue through which every pump command runs, one command per 10 ms tick, in order.
class CommandStack : public QObject
{
    Q_OBJECT

public:
    static constexpr int TickMs = 10;
    // Pause between the exchange and taking its answer (500 µs; a whole-millisecond sleep yields).
    static constexpr quint32 AnswerPauseMs = 0;
    // Raw-frame command: the only one queued with a text instead of a number.
    static constexpr CommandSpezifier TextCommandSpezifier = 53;

    CommandStack();
    ~CommandStack() override;

    // Queue a command with its parameter; logFlag asks for its frames in the messages panel.
    void addCommand(Command* command, qint32 parameter, bool logFlag);
    // Queue the raw-frame command with the text typed by the user (always logged).
    void addCommand(Command* command, const QByteArray& text);

    virtual void logCommand(Platform::SystemTime* time);
    virtual void logAnswer(Platform::SystemTime* time);
    virtual void clear();
    virtual qint32 answerTextOffset();
    virtual qint32 commandTextOffset();

    // Number of entries waiting (the one being executed included).
    int queuedCount();

public slots:
    void ExecuteCommand();

signals:
    void sendAnswer(Answer answer);
    void sendLastCommand(std::string* text);
    void sendLastAnswer(std::string* text);
    void sendLastAnswerInvalidPositions(std::vector<int> positions);
    void sendLastAnswerInvalidReasons(std::vector<BusinessLogic::InvalidReason> reasons);
    void sendLastCommandInvalidPositions(std::vector<int> positions);
    void sendLastCommandInvalidReasons(std::vector<BusinessLogic::InvalidReason> reasons);

protected:
    // UTC time for the logged lines; tests replace it to get exact time stamps.
    virtual Platform::SystemTime currentTime();

    std::string lastCommandText;
    std::string lastAnswerText;
    Command* current = nullptr;
    qint32 currentParameter = 0;
    CommandSpezifier lastSpezifier = BaseCommandSpezifier;
    QByteArray lastAnswer;

private:
    // One queued command with what it is to be given when its turn comes. Each raw-frame entry
    // carries its own text, so two frames typed in quick succession are both sent as typed.
    struct Entry
    {
        quint64 serial = 0;
        Command* command = nullptr;
        qint32 parameter = 0;
        QByteArray text;
        bool hasText = false;
        bool logFlag = false;
    };

    void enqueue(Entry entry);

    std::deque<Entry> queue;
    quint64 nextSerial = 0;
    bool executing = false;
    QTimer* timer = nullptr;
    QRecursiveMutex lock;
    Platform::SystemTime sendTime;
    Platform::SystemTime answerTime;
};

} // namespace BusinessLogic
