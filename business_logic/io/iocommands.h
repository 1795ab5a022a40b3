#pragma once

#include "tablecommand.h"

// Commands that choose the functions of the pump's analog input, digital inputs and output.
namespace BusinessLogic::IO {

// Sets the analog input's range (0 .. 10 V, 0 .. 20 mA, 4 .. 20 mA, 0 .. 5 V, 9 off).
class SetAnalogInput : public ValueCommand<CommandTable::setAnalogInput>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the analog input's range.
class GetAnalogInput : public FixedCommand<CommandTable::getAnalogInput>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the one-digit analog range value.
class SetAnalogRange : public ValueCommand<CommandTable::setAnalogRange>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the one-digit analog range value.
class GetAnalogRange : public FixedCommand<CommandTable::getAnalogRange>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the function of digital input 1.
class SetDigitalIn1 : public ValueCommand<CommandTable::setDigitalIn1>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the function of digital input 1.
class GetDigitalIn1 : public FixedCommand<CommandTable::getDigitalIn1>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the function of digital input 2.
class SetDigitalIn2 : public ValueCommand<CommandTable::setDigitalIn2>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the function of digital input 2.
class GetDigitalIn2 : public FixedCommand<CommandTable::getDigitalIn2>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the function of the digital output.
class SetDigitalOut : public ValueCommand<CommandTable::setDigitalOut>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the function of the digital output.
class GetDigitalOut : public FixedCommand<CommandTable::getDigitalOut>
{
public:
    using FixedCommand::FixedCommand;
};

} // namespace BusinessLogic::IO
