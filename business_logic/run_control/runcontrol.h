#pragma once

#include "tablecommand.h"

// Commands that run the pump and set or read its two targets.
namespace BusinessLogic {

// Switches the pump to run mode: continuous running at the set flow rate.
class SetRunMode : public FixedCommand<CommandTable::setRunMode>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

// Reads the operating mode digit.
class GetRunMode : public FixedCommand<CommandTable::getRunMode>
{
public:
    using FixedCommand::FixedCommand;
};

// Reads the volume dispensed so far.
class GetActualVolume : public FixedCommand<CommandTable::getActualVolume>
{
public:
    using FixedCommand::FixedCommand;
};

// Reads the elapsed time as hhmmsscc.
class GetTimeActual : public FixedCommand<CommandTable::getTimeActual>
{
public:
    using FixedCommand::FixedCommand;
};

// Starts the pump.
class Start : public FixedCommand<CommandTable::start>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

// Stops the pump.
class Stop : public FixedCommand<CommandTable::stop>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

// Primes the pump.
class Prime : public FixedCommand<CommandTable::prime>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

// Pauses the running pump.
class Pause : public FixedCommand<CommandTable::pause>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
};

// Reads the dispense volume target (thousandths of a millilitre).
class GetVolume : public FixedCommand<CommandTable::getVolume>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

// Sets the dispense volume target (thousandths of a millilitre).
class SetVolume : public ValueCommand<CommandTable::setVolume>
{
    Q_OBJECT
public:
    using ValueCommand::ValueCommand;
public slots:
    void execute() override;
    void setParameter(int value) override;
};

// Sets the flow rate (thousandths of a millilitre per minute).
class SetFlowRate : public ValueCommand<CommandTable::setFlowRate>
{
    Q_OBJECT
public:
    using ValueCommand::ValueCommand;
public slots:
    void execute() override;
    void setParameter(int value) override;
};

// Reads the flow rate (thousandths of a millilitre per minute).
class GetFlowRate : public FixedCommand<CommandTable::getFlowRate>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

// Switches the pump to dispense mode by volume.
class SetDispenseModeVolume : public FixedCommand<CommandTable::setDispenseModeVolume>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

// Switches the pump to dispense mode by flow rate.
class SetDispenseModeFlowrate : public FixedCommand<CommandTable::setDispenseModeFlowrate>
{
    Q_OBJECT
public:
    using FixedCommand::FixedCommand;
public slots:
    void execute() override;
};

} // namespace BusinessLogic
