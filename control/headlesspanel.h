#pragma once

#include "controlserver.h"
#include "mqttbridge.h"
#include "operationitems.h"
#include "panelsession.h"
#include "pumpfleet.h"
#include "pumpstate.h"
#include "runrecorder.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace Control {

// The panel without its window, for a box without a display: the pump's line on its own
// thread, polled as the window polls it, its run record, the control socket for dosedeskctl
// and, when told where, the bridge to the lab's broker. It says what happens in lines of text
// (a service manager puts them in its journal).
class HeadlessPanel : public QObject
{
    Q_OBJECT

public:
    HeadlessPanel(int copyNumber, QObject* parent = nullptr);
    ~HeadlessPanel() override;

    // Opens the port for the pump at the address and starts polling, the socket and the bridge
    // (none when settings name no broker); false with the reason when it cannot begin.
    bool start(const QString& port, int address, const BridgeSettings& settings, QString* error);
    // The pumps of the line beside the one polled above, for dosedeskctl --pump and stop-all.
    PumpFleet& pumps() { return fleet; }

signals:
    // A line for the log: the pump's connection, its runs' events, the bridge's state.
    void logged(const QString& line);

private:
    void watchSilence();

    GUI::PanelSession session;
    OperationItems items;
    GUI::RunRecorder record;
    PumpState state;
    PumpFleet fleet;
    ControlServer controlServer;
    std::unique_ptr<MqttBridge> bridge;
    QTimer silenceWatch;
    int copy;
    QString lastConnection;
};

} // namespace Control
