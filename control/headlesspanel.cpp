#include "headlesspanel.h"

#include "commandstack.h"
#include "commandtable.h"
#include "communication.h"
#include "refreshtimer.h"

namespace Control {

namespace Table = BusinessLogic::CommandTable;

HeadlessPanel::HeadlessPanel(int copyNumber, QObject* parent)
    : QObject(parent), record(GUI::RunRecorder::standardFolder(),
                              QStringLiteral("headless") + QString::number(copyNumber)),
      fleet(session), controlServer(session), copy(copyNumber)
{
    session.fillTable();
    for (const auto& [item, list] : items.pollingPlan())
        session.refresher().attach(item, list);
    record.follow(&session.stack(), &session.link());
    session.setRunRecorder(&record);
    state.follow(&session.stack(), &session.link());
    connect(&state, &PumpState::identified, this, [this] {
        session.setPumpModel(state.model());
        emit logged(
            QStringLiteral("pump: %1, firmware %2").arg(state.modelName(), state.firmware()));
    });
    connect(&state, &PumpState::changed, this, [this] {
        if (state.connection() != lastConnection)
            emit logged(QStringLiteral("pump: %1").arg(lastConnection = state.connection()));
    });
    connect(&record, &GUI::RunRecorder::eventNoted, this,
            [this](const QString& event) { emit logged(QStringLiteral("run: %1").arg(event)); });
    connect(&record, &GUI::RunRecorder::recordFailed, this, [this](const QString& reason) {
        emit logged(QStringLiteral("run record not written: %1").arg(reason));
    });
    silenceWatch.setInterval(GUI::RefreshTimer::IntervalMs);
    connect(&silenceWatch, &QTimer::timeout, this, &HeadlessPanel::watchSilence);
}

HeadlessPanel::~HeadlessPanel()
{
    // "offline" goes out before the line and the queue are torn down.
    bridge.reset();
}

bool HeadlessPanel::start(const QString& port, int address, const BridgeSettings& settings,
                          QString* error)
{
    if (!settings.broker.isEmpty()) {
        bridge = std::make_unique<MqttBridge>(session, settings);
        connect(bridge.get(), &MqttBridge::stateChanged, this, [this](const QString& text) {
            emit logged(QStringLiteral("broker: %1").arg(text));
        });
        connect(bridge.get(), &MqttBridge::commandNoted, this, &HeadlessPanel::logged);
        if (!bridge->start(address, error))
            return false;
    }
    if (!controlServer.listen(ControlServer::socketPath(copy)))
        emit logged(
            QStringLiteral("no control socket for scripts: %1").arg(controlServer.errorString()));
    session.startLineThread();
    Communication* line = &session.link();
    QMetaObject::invokeMethod(line, [line, port] { line->setCommPortPath(port); });
    record.setPumpAddress(address);
    fleet.setLine(port);
    fleet.setPanelAddress(address);
    controlServer.setFleet(&fleet);
    session.stack().addCommand(session.table().at(std::size_t(Table::setCommAddress.spezifier)),
                               address, false);
    silenceWatch.start();
    emit logged(QStringLiteral("polling the pump at address %1 on %2").arg(address).arg(port));
    return true;
}

// The window drops its queue while the pump is silent, lest readings that each wait out their
// time pile up behind one another; so does this, once a tick.
void HeadlessPanel::watchSilence()
{
    if (state.connection() == PumpState::NotAnswering || state.connection() == PumpState::LineLost)
        session.stack().clear();
}

} // namespace Control
