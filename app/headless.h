#pragma once

#include "mqttbridge.h"
#include "programoptions.h"

// The broker bridge's settings: the copy's stored ones, each replaced by the command line's.
Control::BridgeSettings bridgeSettings(const ProgramOptions& options, int copyNumber);

// dosedesk --headless: the panel without a window, until a signal ends it. Returns the exit
// status.
int runHeadless(int argc, char* argv[]);
