#pragma once

#include "command.h"
#include "commandtable.h"
#include "framing.h"

#include <QByteArray>

namespace BusinessLogic {

// One exchange with the pump: STX, address, body, ETX; wait as the traits say; read the answer
// and put the command's default answer in its place when the pump sent no data.
void exchange(Communication* link, const QByteArray& body, const CommandTraits& traits);

// A command described by one row of the command table.
template <const CommandTraits& Traits>
class TableCommand : public Command
{
public:
    using Command::Command;

    CommandSpezifier getCommandSpezifier() override { return Traits.spezifier; }
};

// A command whose whole frame body is fixed: actions and reading commands.
template <const CommandTraits& Traits>
class FixedCommand : public TableCommand<Traits>
{
public:
    using TableCommand<Traits>::TableCommand;

    void execute() override { exchange(this->communication, Traits.body, Traits); }
};

// A command that keeps the value given before each execution.
template <const CommandTraits& Traits>
class ParameterCommand : public TableCommand<Traits>
{
public:
    using TableCommand<Traits>::TableCommand;

    void setParameter(int value) override { parameter = value; }

protected:
    qint32 parameter = 0;
};

// A command that sends its code followed by its value in the table's width.
template <const CommandTraits& Traits>
class ValueCommand : public ParameterCommand<Traits>
{
public:
    using ParameterCommand<Traits>::ParameterCommand;

    void execute() override
    {
        exchange(this->communication,
                 QByteArray(Traits.body) + Protocol::Framing::field(this->parameter, Traits.width),
                 Traits);
    }
};

} // namespace BusinessLogic
