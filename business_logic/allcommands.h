#pragma once

#include "command.h"
#include "communicate/communicatecommands.h"
#include "dosing_commands/dosingcommands.h"
#include "factory_defaults_reset/factorydefaultsreset.h"
#include "io/iocommands.h"
#include "run_control/runcontrol.h"
#include "settings/getpumpstatus.h"
#include "settings/settingscommands.h"

#include <memory>
#include <vector>

namespace BusinessLogic {

// Number of pump command classes (CommandSpezifier 0 to 63 without 44 and 64).
constexpr int CommandCount = 63;

// One object of every pump command class, all talking through the given link, in
// CommandSpezifier order; the caller owns them.
std::vector<std::unique_ptr<Command>> createAllCommands(Communication* communication);

} // namespace BusinessLogic
