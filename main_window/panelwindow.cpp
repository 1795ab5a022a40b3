#include "panelwindow.h"

#include "panelsession.h"

std::unique_ptr<mainForm> openPanelWindow(GUI::PanelSession& session, QApplication* application,
                                          const ProgramOptions& options)
{
    auto window = std::make_unique<mainForm>(session, application, options);
    for (const auto& command : session.commands())
        window->attachCommand(command.get());
    return window;
}
