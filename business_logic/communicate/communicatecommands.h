#pragma once

#include "tablecommand.h"

// Commands that identify the pump, set its address and acknowledge answers, send free text,
// and set or report options of the link itself.
namespace BusinessLogic::Communicate {

// Asks the pump at the current address to answer; "-1" when no pump did.
class ExecuteCommCheck : public FixedCommand<CommandTable::executeCommCheck>
{
public:
    using FixedCommand::FixedCommand;
};

// Reads the model code and firmware version.
class GetModelVersion : public FixedCommand<CommandTable::getModelVersion>
{
public:
    using FixedCommand::FixedCommand;
};

// Switches the pump's ACK/NAK answers; the link follows once the pump has been told.
class SetProtocolAnswer : public ValueCommand<CommandTable::setProtocolAnswer>
{
public:
    using ValueCommand::ValueCommand;

    void execute() override;
};

// Reads whether the pump answers with ACK/NAK.
class GetProtocolAnswer : public FixedCommand<CommandTable::getProtocolAnswer>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the address the pump itself listens to.
class SetPumpAddress : public ValueCommand<CommandTable::setPumpAddress>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the address the pump listens to.
class GetPumpAddress : public FixedCommand<CommandTable::getPumpAddress>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the address the link writes into every later frame; sends nothing.
class SetCommAddress : public ParameterCommand<CommandTable::setCommAddress>
{
public:
    using ParameterCommand::ParameterCommand;

    void execute() override;
};

// Test option: falsifies the check byte of every later frame while its parameter is not 0.
class SetInvalidLRC : public ParameterCommand<CommandTable::setInvalidLrc>
{
public:
    using ParameterCommand::ParameterCommand;

    void execute() override;
};

// Test option: sends "U" in place of the check byte while its parameter is not 0.
class SetUnusedLRC : public ParameterCommand<CommandTable::setUnusedLrc>
{
public:
    using ParameterCommand::ParameterCommand;

    void execute() override;
};

// Sends the text typed by the user between the address and ETX, and awaits an answer frame.
class SetDiscreteCommand : public TableCommand<CommandTable::setDiscreteCommand>
{
public:
    using TableCommand::TableCommand;

    void execute() override;
    // Stores the value's decimal text as the text to send.
    void setParameter(int value) override;
    void setTextParameter(QByteArray text) override;

private:
    QByteArray text;
};

} // namespace BusinessLogic::Communicate

namespace BusinessLogic {

// Reports how the last exchange was answered, as "1"/"0" for ACK, NAK, nothing recognisable and
// address-only answer; sends nothing.
class GetCommRxState : public TableCommand<CommandTable::getCommRxState>
{
public:
    using TableCommand::TableCommand;

    void execute() override;
    QByteArray getAnswer() override;

private:
    QByteArray state;
};

} // namespace BusinessLogic
