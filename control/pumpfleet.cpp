#include "pumpfleet.h"

#include "panelsession.h"
#include "reply.h"

#include <QJsonObject>

namespace Control {

namespace Table = BusinessLogic::CommandTable;
using Origin = BusinessLogic::CommandStack::Origin;

namespace {

// Read every round: what was delivered, and whether the motor runs and what is wrong.
constexpr int RunPage = 1;
constexpr std::pair<const BusinessLogic::CommandTraits*, qint32> EveryRound[] = {
    {&Table::getActualVolume, 0},
    {&Table::getPumpStatus, RunPage},
    {&Table::getPumpStatus, Engine::ErrorWord},
};
// One of these a round, in turn.
constexpr std::pair<const BusinessLogic::CommandTraits*, qint32> InTurn[] = {
    {&Table::getFlowRate, 0},
    {&Table::getModelVersion, 0},
    {&Table::getRunMode, 0},
};

} // namespace

PumpFleet::PumpFleet(GUI::PanelSession& session, QObject* parent)
    : QObject(parent), session(session)
{
    connect(&pumps, &GUI::PumpRoster::added, this, &PumpFleet::addState);
    connect(&pumps, &GUI::PumpRoster::renamed, this, &PumpFleet::rowChanged);
    connect(&pumps, &GUI::PumpRoster::removed, this,
            [this](int row) { states.erase(states.begin() + row); });
    connect(&round, &QTimer::timeout, this, &PumpFleet::readRound);
    round.start(RoundMs);
}

PumpFleet::~PumpFleet() = default;

void PumpFleet::addState(int row)
{
    auto state = std::make_unique<PumpState>();
    state->setAddress(pumps.at(row).address);
    state->follow(&session.stack(), &session.link());
    PumpState* watched = state.get();
    connect(watched, &PumpState::changed, this, [this, watched] {
        for (std::size_t row = 0; row < states.size(); ++row) {
            if (states[row].get() == watched)
                emit rowChanged(int(row));
        }
    });
    connect(watched, &PumpState::identified, watched, &PumpState::changed);
    states.insert(states.begin() + row, std::move(state));
}

QString PumpFleet::linePath() const
{
    return line.isEmpty() ? session.link().chosenPath() : line;
}

QString PumpFleet::add(const QString& port, int address, const QString& name)
{
    const QString own = linePath();
    if (!port.isEmpty() && port != own)
        return QStringLiteral("%1 is another line than this panel's (%2): a second copy of "
                              "the panel can work with it")
            .arg(port, own);
    return pumps.add({name, own, address});
}

std::optional<int> PumpFleet::panelPump() const
{
    for (int row = 0; panelAddress && row < pumps.count(); ++row) {
        if (onLine(row) && pumps.at(row).address == *panelAddress)
            return row;
    }
    return std::nullopt;
}

bool PumpFleet::onLine(int row) const
{
    return pumps.at(row).port == linePath();
}

QString PumpFleet::connection(int row) const
{
    return onLine(row) ? state(row).connection() : OtherLine;
}

void PumpFleet::readRound()
{
    if (!polling || !session.link().isOpen())
        return;
    for (int row = 0; row < pumps.count(); ++row) {
        const int address = pumps.at(row).address;
        // The panel reads its own pump; one whose last readings are still queued waits.
        if (!onLine(row) || address == panelAddress || waiting[address] > 0)
            continue;
        if (silent[address]) {
            read(address, Table::getPumpStatus, RunPage);
            continue;
        }
        for (const auto& [reading, parameter] : EveryRound)
            read(address, *reading, parameter);
        const auto& [reading, parameter] = InTurn[std::size_t(turn[address]++) % std::size(InTurn)];
        read(address, *reading, parameter);
    }
}

void PumpFleet::read(int address, const BusinessLogic::CommandTraits& reading, qint32 parameter)
{
    BusinessLogic::CommandStack::Request request;
    request.command = session.table().at(std::size_t(reading.spezifier));
    request.parameter = parameter;
    request.address = address;
    BusinessLogic::Reply* reply = session.stack().submit(request, this);
    ++waiting[address];
    connect(reply, &BusinessLogic::Reply::finished, this, [this, reply, address] {
        reply->deleteLater();
        --waiting[address];
        // An answer that came garbled still shows a pump there (or two: a conflict).
        silent[address] = !reply->answer().heard;
    });
}

void PumpFleet::send(int address, const BusinessLogic::CommandTraits& key)
{
    BusinessLogic::CommandStack::Request request;
    request.command = session.table().at(std::size_t(key.spezifier));
    request.address = address;
    request.logFlag = true;
    request.origin = Origin::UrgentUser;
    BusinessLogic::Reply* reply = session.stack().submit(request, this);
    connect(reply, &BusinessLogic::Reply::finished, reply, &QObject::deleteLater);
}

int PumpFleet::stopAll(bool panelPump)
{
    int stops = 0;
    for (int row = 0; row < pumps.count(); ++row) {
        const int address = pumps.at(row).address;
        if (onLine(row) && (panelPump || address != panelAddress)) {
            send(address, Table::stop);
            ++stops;
        }
    }
    if (panelPump && pumps.count() == 0 && panelAddress) {
        send(*panelAddress, Table::stop);
        ++stops;
    }
    return stops;
}

void PumpFleet::runKey(int row, const BusinessLogic::CommandTraits& key)
{
    if (onLine(row))
        send(pumps.at(row).address, key);
}

QJsonArray PumpFleet::toJson() const
{
    QJsonArray list;
    const std::optional<int> shown = panelPump();
    for (int row = 0; row < pumps.count(); ++row) {
        const PumpState& pump = state(row);
        const QJsonObject values = pump.toJson();
        QJsonObject object{
            {QStringLiteral("name"), pumps.at(row).name},
            {QStringLiteral("port"), pumps.at(row).port},
            {QStringLiteral("address"), pumps.at(row).address},
            {QStringLiteral("model"), pump.modelName()},
            {QStringLiteral("firmware"), pump.firmware()},
            {QStringLiteral("connection"), connection(row)},
            {QStringLiteral("state"), pump.runState()},
            {QStringLiteral("selected"), shown == row},
        };
        for (const char* key : {"flow_ml_min", "delivered_ml"}) {
            if (values.contains(QLatin1String(key)))
                object.insert(QLatin1String(key), values.value(QLatin1String(key)));
        }
        list.append(object);
    }
    return list;
}

} // namespace Control
