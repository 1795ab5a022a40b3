#pragma once

#include "mainform.h"

#include <memory>

class QApplication;
struct ProgramOptions;

namespace GUI {
class PanelSession;
} // namespace GUI

// The window on a session's objects, every command of the session attached to its controls.
// options.portPaths are the ports listed beside the system's, the first of them chosen at start.
std::unique_ptr<mainForm> openPanelWindow(GUI::PanelSession& session, QApplication* application,
                                          const ProgramOptions& options);
