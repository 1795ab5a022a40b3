#pragma once

#include "tablecommand.h"

// Commands that reach the pump's factory settings.
namespace BusinessLogic::FactoryDefaultsReset {

// Resets the pump's settings to their default values.
class SetFactoryDefaults : public FixedCommand<CommandTable::setFactoryDefaults>
{
public:
    using FixedCommand::FixedCommand;
};

// Switches the pump's factory mode on (1) or off (0).
class SetFactoryMode : public ValueCommand<CommandTable::setFactoryMode>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads whether the pump is in factory mode.
class GetFactoryMode : public FixedCommand<CommandTable::getFactoryMode>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the factory measured calibration volume (thousandths of a millilitre).
class SetFactoryMeasuredCalVolume : public ValueCommand<CommandTable::setFactoryMeasuredCalVolume>
{
public:
    using ValueCommand::ValueCommand;
};

// Moves the pump into its maintenance position.
class SetMaintenancePos : public ValueCommand<CommandTable::setMaintenancePos>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads whether the pump is in its maintenance position.
class GetMaintenancePos : public FixedCommand<CommandTable::getMaintenancePos>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the pump model by its position in the model list.
class SetPumpModel : public ValueCommand<CommandTable::setPumpModel>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the pump model's position in the model list.
class GetPumpModel : public FixedCommand<CommandTable::getPumpModel>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the factory pump stroke volume (tenths of a microlitre).
class SetFactoryPumpStrokeVolume : public ValueCommand<CommandTable::setFactoryPumpStrokeVolume>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the factory pump stroke volume (tenths of a microlitre).
class GetFactoryPumpStrokeVolume : public FixedCommand<CommandTable::getFactoryPumpStrokeVolume>
{
public:
    using FixedCommand::FixedCommand;
};

} // namespace BusinessLogic::FactoryDefaultsReset
