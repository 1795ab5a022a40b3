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
