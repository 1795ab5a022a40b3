#pragma once

#include "panelsession.h"
#include "pumplink.h"
#include "runrecorder.h"

#include <QString>

#include <memory>

namespace Control {

// A line a tool opens itself rather than sharing the panel's: a panel session without a window
// on the device, the link to the pump on it and a run record that follows it (dosedeskctl with
// --port, a protocol's dry run on the simulated pump).
class OwnLine
{
public:
    // recordName tells this tool's record files apart; eventPrefix marks every row it writes.
    explicit OwnLine(const QString& recordName, const QString& eventPrefix = {});
    OwnLine(const OwnLine&) = delete;
    OwnLine& operator=(const OwnLine&) = delete;

    // Opens the port (a network port once it is reached) for the pump at the address; false
    // with the reason, in the panel's words, when it does not open.
    bool open(const QString& port, int address, QString* error);

    PumpLink& link() { return *pumpLink; }
    GUI::PanelSession& session() { return panel; }
    GUI::RunRecorder& recorder() { return record; }

private:
    bool waitUntilOpen();

    GUI::PanelSession panel;
    GUI::RunRecorder record;
    std::unique_ptr<PumpLink> pumpLink;
};

} // namespace Control
