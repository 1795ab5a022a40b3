#pragma once

#include "command.h"
#include "commandstack.h"
#include "communication.h"
#include "platform.h"

#include <QByteArray>
#include <QList>

// A pump command for the stack tests: makes a real exchange on the link and records what the
// stack handed it before each run.
class ProbeCommand : public BusinessLogic::Command
{
public:
    enum Kind { Writing, Reading, RawFrame };

    ProbeCommand(Communication* link, BusinessLogic::CommandSpezifier spezifier, QByteArray code,
                 Kind kind, int valueWidth = 0, QByteArray defaultAnswer = {})
        : Command(link), spezifier(spezifier), code(std::move(code)), kind(kind),
          valueWidth(valueWidth), defaultAnswer(std::move(defaultAnswer))
    {
    }

    BusinessLogic::CommandSpezifier getCommandSpezifier() override { return spezifier; }
    void setParameter(int value) override
    {
        parameter = value;
        given.append(QByteArray::number(value));
    }
    void setTextParameter(QByteArray value) override
    {
        text = value;
        given.append("text:" + value);
    }

    void execute() override
    {
        QByteArray frame = Protocol::STX + communication->addressText();
        if (kind == RawFrame)
            frame += text;
        else
            frame += code;
        if (valueWidth > 0)
            frame += QByteArray::number(parameter).rightJustified(valueWidth, '0');
        frame += Protocol::ETX;
        communication->sendFrame(frame);
        if (kind == Writing)
            communication->waitForAcknowledge();
        else
            communication->waitForFrame();
        if (communication->readAnswer().isEmpty())
            communication->lastAnswerData = defaultAnswer;
    }

    // What the stack handed over, in order: decimal parameters, or "text:" plus the text.
    QList<QByteArray> given;

private:
    BusinessLogic::CommandSpezifier spezifier;
    QByteArray code;
    Kind kind;
    int valueWidth;
    QByteArray defaultAnswer;
    qint32 parameter = 0;
    QByteArray text;
};

// A stack whose clock is scripted: each run takes the next two prepared times (before and after
// the exchange), then falls back to the system clock.
template <typename Stack>
class ProbeStack : public Stack
{
public:
    QList<Platform::SystemTime> times;

    BusinessLogic::CommandSpezifier lastRunSpezifier() const { return this->lastSpezifier; }
    QByteArray lastRunAnswer() const { return this->lastAnswer; }

protected:
    Platform::SystemTime currentTime() override
    {
        return times.isEmpty() ? Stack::currentTime() : times.takeFirst();
    }
};

inline Platform::SystemTime clockAt(int hour, int minute, int second, int milliseconds)
{
    Platform::SystemTime time;
    time.hour = quint16(hour);
    time.minute = quint16(minute);
    time.second = quint16(second);
    time.milliseconds = quint16(milliseconds);
    return time;
}

// Reverses the escaping of a logged line: every "'/NNN'" token back to its byte.
inline QByteArray unescape(const QByteArray& text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size();) {
        if (text.mid(i, 2) == "'/" && i + 5 < text.size() && text.at(i + 5) == '\'') {
            bytes.append(char(text.mid(i + 2, 3).toInt()));
            i += 6;
        } else {
            bytes.append(text.at(i++));
        }
    }
    return bytes;
}
