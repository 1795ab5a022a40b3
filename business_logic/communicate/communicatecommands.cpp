#include "communicatecommands.h"

#include "communication.h"

namespace {

// The sent check byte is valid only while neither test option falsifies it.
void switchTestOption(Communication* link, bool& option, qint32 parameter)
{
    option = parameter != 0;
    link->sentLrcValid = !link->invalidLrc && !link->unusedLrc;
}

char flagDigit(bool flag)
{
    return flag ? '1' : '0';
}

} // namespace

namespace BusinessLogic::Communicate {

void SetProtocolAnswer::execute()
{
    // The pump is told with the link still expecting its old kind of answer.
    ValueCommand::execute();
    communication->protocolAnswer = parameter == 1;
}

void SetCommAddress::execute()
{
    communication->address = parameter;
}

void SetInvalidLRC::execute()
{
    switchTestOption(communication, communication->invalidLrc, parameter);
}

void SetUnusedLRC::execute()
{
    switchTestOption(communication, communication->unusedLrc, parameter);
}

void SetDiscreteCommand::execute()
{
    exchange(communication, text, CommandTable::setDiscreteCommand);
}

void SetDiscreteCommand::setParameter(int value)
{
    text = QByteArray::number(value);
}

void SetDiscreteCommand::setTextParameter(QByteArray text)
{
    this->text = std::move(text);
}

} // namespace BusinessLogic::Communicate

namespace BusinessLogic {

void GetCommRxState::execute()
{
    state.clear();
    for (const bool flag : {communication->ackReceived, communication->nakReceived, communication->noAnswer,
                            communication->addressOnlyAnswer})
        state.append(flagDigit(flag));
}

QByteArray GetCommRxState::getAnswer()
{
    return state;
}

} // namespace BusinessLogic
