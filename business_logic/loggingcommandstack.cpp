#include "loggingcommandstack.h"

#include "communication.h"

#include <cstdio>
#include <cstring>

namespace BusinessLogic {

namespace {

// Printable range of a logged frame; everything else is written as its number.
constexpr unsigned char FirstPlain = '0';
constexpr unsigned char LastPlain = 'z';
constexpr std::size_t TokenLength = 6; // "'/NNN'"

} // namespace

void LoggingCommandStack::Marks::add(int position, InvalidReason reason)
{
    positions.push_back(position);
    reasons.push_back(reason);
}

LoggingCommandStack::LoggingCommandStack() = default;

LoggingCommandStack::~LoggingCommandStack() = default;

std::string LoggingCommandStack::escape(const QByteArray& body)
{
    std::string text;
    text.reserve(std::size_t(body.size()) * TokenLength);
    for (const char c : body) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= FirstPlain && byte <= LastPlain) {
            text.push_back(char(byte));
        } else {
            char token[TokenLength + 1];
            std::snprintf(token, sizeof token, "'/%03u'", unsigned(byte));
            text.append(token, TokenLength);
        }
    }
    return text;
}

std::string LoggingCommandStack::formatLine(const Platform::SystemTime& time, const char* gap,
                                            const QByteArray& body, std::size_t* prefixLength)
{
    // Wide enough for five-digit fields, should the time record ever hold nonsense.
    char stamp[32];
    const int stampLength = std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u:%03u",
                                          unsigned(time.hour), unsigned(time.minute),
                                          unsigned(time.second), unsigned(time.milliseconds));
    std::string line(stamp, std::size_t(stampLength));
    line += gap ? gap : "";
    if (prefixLength)
        *prefixLength = line.size();
    line += escape(body);
    return line;
}

LoggingCommandStack::Marks LoggingCommandStack::sentFrameMarks(const Communication& link)
{
    Marks marks;
    if (!link.sentLrcValid)
        marks.add(int(link.lastSentLength), InvalidLrc);
    return marks;
}

LoggingCommandStack::Marks LoggingCommandStack::answerMarks(const Communication& link)
{
    Marks marks;
    if (link.ackReceived)
        marks.add(0, Acknowledged);
    if (link.nakReceived)
        marks.add(0, NotAcknowledged);
    if (!link.answerRecognised)
        marks.add(int(link.lastAnswerLength), InvalidLrc);
    return marks;
}

void LoggingCommandStack::report(std::string& text, std::atomic<qint32>& offset,
                                 const Platform::SystemTime& time, const char* gap,
                                 const QByteArray& body, const Marks& marks,
                                 void (CommandStack::*positionsSignal)(std::vector<int>),
                                 void (CommandStack::*reasonsSignal)(std::vector<InvalidReason>),
                                 void (CommandStack::*lineSignal)(std::string))
{
    std::size_t prefixLength = 0;
    text = formatLine(time, gap, body, &prefixLength);
    offset = qint32(prefixLength) - 1;
    // The panel stores the marks first and colours the line when it arrives.
    emit(this->*positionsSignal)(marks.positions);
    emit(this->*reasonsSignal)(marks.reasons);
    emit(this->*lineSignal)(text);
}

void LoggingCommandStack::logCommand(Platform::SystemTime* time)
{
    // Nothing went on a closed line: the panes list only what was written and heard.
    if (!currentReachedLine)
        return;
    const Communication* link = current ? current->link() : nullptr;
    report(lastCommandText, commandOffset, *time, CommandGap,
           current ? current->getSentFrame() : QByteArray(),
           link ? sentFrameMarks(*link) : Marks(), &CommandStack::sendLastCommandInvalidPositions,
           &CommandStack::sendLastCommandInvalidReasons, &CommandStack::sendLastCommand);
}

void LoggingCommandStack::logAnswer(Platform::SystemTime* time)
{
    if (!currentReachedLine)
        return;
    const Communication* link = current ? current->link() : nullptr;
    report(lastAnswerText, answerOffset, *time, AnswerGap,
           current ? current->getRawAnswer() : QByteArray(),
           link ? answerMarks(*link) : Marks(), &CommandStack::sendLastAnswerInvalidPositions,
           &CommandStack::sendLastAnswerInvalidReasons, &CommandStack::sendLastAnswer);
}

qint32 LoggingCommandStack::answerTextOffset()
{
    return answerOffset;
}

qint32 LoggingCommandStack::commandTextOffset()
{
    return commandOffset;
}

} // namespace BusinessLogic
