#include "command.h"

#include "communication.h"

namespace BusinessLogic {

Command::Command(Communication* communication) : communication(communication) {}

Command::~Command() = default;

QByteArray Command::getAnswer()
{
    return communication->lastAnswerData;
}

QByteArray Command::getRawAnswer()
{
    return communication->lastRawAnswer;
}

QByteArray Command::getSentFrame()
{
    return communication->lastSentFrame;
}

CommandSpezifier Command::getCommandSpezifier()
{
    return BaseCommandSpezifier;
}

void Command::execute() {}

void Command::setParameter(int value)
{
    Q_UNUSED(value);
}

void Command::setTextParameter(QByteArray text)
{
    Q_UNUSED(text);
}

void registerMetaTypes()
{
    qRegisterMetaType<Answer>("Answer");
    qRegisterMetaType<CommandSpezifier>("BusinessLogic::CommandSpezifier");
    qRegisterMetaType<InvalidReason>("BusinessLogic::InvalidReason");
    qRegisterMetaType<std::vector<InvalidReason>>("vector<BusinessLogic::InvalidReason>");
}

} // namespace BusinessLogic

QString Answer::describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Answered: return QStringLiteral("answered");
    case Outcome::Refused: return QStringLiteral("refused by the pump");
    case Outcome::Silent: return QStringLiteral("no answer");
    case Outcome::SilentByRequest: return QStringLiteral("sent; the pump answers nothing by request");
    case Outcome::LineLost: return QStringLiteral("the line is not open");
    case Outcome::Local: return QStringLiteral("set on the link");
    case Outcome::Dropped: return QStringLiteral("the command was dropped before it was sent");
    }
    return {};
}
