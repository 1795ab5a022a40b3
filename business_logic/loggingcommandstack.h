#pragma once

#include "commandstack.h"
#include "invalidreason.h"

#include <QByteArray>

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

class Communication;

namespace BusinessLogic {

// The command stack that reports every logged frame as a time-stamped line with its marks.
class LoggingCommandStack : public CommandStack
{
    Q_OBJECT

public:
    // Gaps between the time stamp and the frame: two blanks for a sent frame, one for an answer.
    static constexpr const char* CommandGap = "  ";
    static constexpr const char* AnswerGap = " ";

    // Characters of the logged frame to highlight, and why; both lists have the same length.
    struct Marks
    {
        std::vector<int> positions;
        std::vector<InvalidReason> reasons;

        void add(int position, InvalidReason reason);
    };

    LoggingCommandStack();
    ~LoggingCommandStack() override;

    void logCommand(Platform::SystemTime* time) override;
    void logAnswer(Platform::SystemTime* time) override;
    qint32 answerTextOffset() override;
    qint32 commandTextOffset() override;

    // "hh:mm:ss:mmm", the gap, then the escaped body. prefixLength, when given, receives the
    // length of the time stamp and the gap.
    static std::string formatLine(const Platform::SystemTime& time, const char* gap,
                                  const QByteArray& body, std::size_t* prefixLength = nullptr);
    // Every byte outside "0".."z" becomes "'/NNN'" (its value in three decimal digits).
    static std::string escape(const QByteArray& body);

    static Marks sentFrameMarks(const Communication& link);
    static Marks answerMarks(const Communication& link);

private:
    // Builds one line into text, stores its offset and emits the marks, then the line.
    void report(std::string& text, std::atomic<qint32>& offset, const Platform::SystemTime& time,
                const char* gap, const QByteArray& body, const Marks& marks,
                void (CommandStack::*positionsSignal)(std::vector<int>),
                void (CommandStack::*reasonsSignal)(std::vector<InvalidReason>),
                void (CommandStack::*lineSignal)(std::string));

    // Written on the line's thread, read by the window's.
    std::atomic<qint32> answerOffset = 0;
    std::atomic<qint32> commandOffset = 0;
};

} // namespace BusinessLogic
