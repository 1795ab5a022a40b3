#pragma once

#include "tablecommand.h"

// The pump's stored settings: language, calibration, autostart, fluid type, display contrast.

// Sets the display language.
class SetLanguage : public BusinessLogic::ValueCommand<BusinessLogic::CommandTable::setLanguage>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the display language.
class GetLanguage : public BusinessLogic::FixedCommand<BusinessLogic::CommandTable::getLanguage>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the custom calibration volume (thousandths of a millilitre).
class SetCustCalVol : public BusinessLogic::ValueCommand<BusinessLogic::CommandTable::setCustCalVol>
{
public:
    using ValueCommand::ValueCommand;
};

// Sets the custom calibration percentage (hundredths of a percent).
class SetCustCalPercent : public BusinessLogic::ValueCommand<BusinessLogic::CommandTable::setCustCalPercent>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the custom calibration percentage (hundredths of a percent).
class GetCustCalPercent : public BusinessLogic::FixedCommand<BusinessLogic::CommandTable::getCustCalPercent>
{
public:
    using FixedCommand::FixedCommand;
};

namespace BusinessLogic::AdvancedSettings {

// Switches autostart on (1) or off (0).
class SetAutostart : public ValueCommand<CommandTable::setAutostart>
{
public:
    using ValueCommand::ValueCommand;
};

} // namespace BusinessLogic::AdvancedSettings

// Reads whether autostart is on.
class GetAutostart : public BusinessLogic::FixedCommand<BusinessLogic::CommandTable::getAutostart>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the fluid type the pump's stroke profile is tuned for.
class SetPumpProfileCharacteristic
    : public BusinessLogic::ValueCommand<BusinessLogic::CommandTable::setPumpProfileCharacteristic>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the fluid type the pump's stroke profile is tuned for.
class GetPumpProfileCharactristic
    : public BusinessLogic::FixedCommand<BusinessLogic::CommandTable::getPumpProfileCharactristic>
{
public:
    using FixedCommand::FixedCommand;
};

// Sets the display contrast in percent.
class SetDisplayContrast : public BusinessLogic::ValueCommand<BusinessLogic::CommandTable::setDisplayContrast>
{
public:
    using ValueCommand::ValueCommand;
};

// Reads the display contrast in percent.
class GetDisplayContrast : public BusinessLogic::FixedCommand<BusinessLogic::CommandTable::getDisplayContrast>
{
public:
    using FixedCommand::FixedCommand;
};
