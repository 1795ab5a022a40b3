#pragma once

#include "mqttbridge.h"
#include "programoptions.h"

#include <functional>

// The broker bridge's settings: the copy's stored ones, each replaced by the command line's.
Control::BridgeSettings bridgeSettings(const ProgramOptions& options, int copyNumber);

// Adds the pumps the command line lists to the panel's list through add, which returns the
// reason for a refusal; each refusal goes to standard error.
void addListedPumps(const ProgramOptions& options, const QString& simulatedLine,
                    const std::function<QString(const QString& port, int address)>& add);

// dosedesk --headless: the panel without a window, until a signal ends it. Returns the exit
// status.
int runHeadless(int argc, char* argv[]);
