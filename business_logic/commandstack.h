#pragma once

#include "command.h"

#include "platform.h"

#include <QByteArray>
#include <QObject>
#include <QRecursiveMutex>
#include <QTimer>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace BusinessLogic {

// The one queue through which every pump command runs, one command per 10 ms tick, in order.
class CommandStack : public QObject
{
    Q_OBJECT

public:
    static constexpr int TickMs = 10;
    // Pause between the exchange and taking its answer: 0 ms, which only yields the processor
    // (Platform::sleepMs(0)); it does not wait.
    static constexpr quint32 AnswerPauseMs = 0;

    // Who queued a command: the refresh cycle's readings, or the user; run commands the user
    // gives (Start, Stop, Pause) go before every reading still waiting, but after the user's
    // earlier commands, so that a target typed before Start still goes first.
    enum class Origin { Polled, User, UrgentUser };

    // What the pump made of one command the user gave, from the least to the most important to
    // show: a refusal is never hidden behind a command left unanswered in the same moment.
    enum class Verdict { Accepted, NotAnswered, Refused };

    // What happened on the line since the last takeActivity().
    struct Activity
    {
        int exchanges = 0; // frames sent (or attempted on a closed line)
        int answered = 0;  // of these, the ones that got any answer at all
        int named = 0;     // of these, answers that were the pump's address alone
        std::vector<Verdict> verdicts; // one per user command that went on the line, in order
    };

    CommandStack();
    ~CommandStack() override;

    // Queue a command with its parameter; logFlag asks for its frames in the messages panel.
    void addCommand(Command* command, qint32 parameter, bool logFlag,
                    Origin origin = Origin::Polled);
    // Queue the raw-frame command with the text typed by the user (always logged).
    void addCommand(Command* command, const QByteArray& text);

    // Hands over the activity gathered so far and starts gathering afresh.
    Activity takeActivity();
    // Adds one exchange to the activity; a verdict when it was a user command's. named: the
    // answer was the pump's address alone, which names the pump at this address.
    void noteExchange(bool answered, std::optional<Verdict> verdict, bool named = false);

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
    // The queue was dropped: readings waiting for their answers will not get them.
    void cleared();
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
    // Whether the command that ran put a frame on an open line; false for a command that only
    // sets an option of the link, and for one that met a closed line: nothing was written.
    bool currentReachedLine = true;
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
        Origin origin = Origin::Polled;
    };

    void enqueue(Entry entry);
    // Adds the outcome of a command that has just run to the activity.
    void record(const Entry& entry, quint64 exchangesBefore);

    std::deque<Entry> queue;
    quint64 nextSerial = 0;
    bool executing = false;
    bool headRunning = false; // the head entry has been taken for execution
    Activity activity;
    QTimer* timer = nullptr;
    QRecursiveMutex lock;
    Platform::SystemTime sendTime;
    Platform::SystemTime answerTime;
};

} // namespace BusinessLogic
