#pragma once

#include "tablecommand.h"

// Reads one of the pump's seven status words; its answer names the word it belongs to.
class GetPumpStatus : public BusinessLogic::ValueCommand<BusinessLogic::CommandTable::getPumpStatus>
{
public:
    using ValueCommand::ValueCommand;

    // The word's value, a blank and the word's number, e.g. "005 3".
    QByteArray getAnswer() override;
};
