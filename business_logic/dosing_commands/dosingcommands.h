#pragma once

#include "tablecommand.h"

// Commands of the dosing cycle: dispense time, pause between cycles, number of cycles.
namespace BusinessLogic::DosingCommands {

// Sets the dispense time as hhmmsscc.
class SetDispenseTime : public ValueCommand<CommandTable::setDispenseTime>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the dispense time as hhmmsscc.
class GetDispenseTime : public FixedCommand<CommandTable::getDispenseTime>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the pause between dispense cycles in seconds.
class SetDispenseVolumeBreakTime : public ValueCommand<CommandTable::setDispenseVolumeBreakTime>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the pause between dispense cycles in seconds.
class GetDispenseVolumeBreakTime : public FixedCommand<CommandTable::getDispenseVolumeBreakTime>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the number of dispense cycles.
class SetDispenseVolumeNumber : public ValueCommand<CommandTable::setDispenseVolumeNumber>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the number of dispense cycles.
class GetDispenseVolumeNumber : public FixedCommand<CommandTable::getDispenseVolumeNumber>
{
public:
    using FixedCommand::FixedCommand;
};

} // namespace BusinessLogic::DosingCommands
