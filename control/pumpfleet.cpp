#include "pumpfleet.h"

#include "communication.h"
#include "linereopener.h"
#include "panelsession.h"
#include "reply.h"
#include "runrecorder.h"

#include <QJsonObject>

#include <algorithm>

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

const PumpFleet::RunKey PumpFleet::RunKeys[3] = {
    {&Table::start, "Start"}, {&Table::pause, "Pause"}, {&Table::stop, "Stop"}};

PumpFleet::PumpFleet(GUI::PanelSession& session, QObject* parent)
    : QObject(parent), session(session)
{
    connect(&pumps, &GUI::PumpRoster::added, this, [this](int row) {
        addState(row);
        addRecorder(row);
    });
    connect(&pumps, &GUI::PumpRoster::renamed, this, &PumpFleet::rowChanged);
    connect(&pumps, &GUI::PumpRoster::removed, this, [this](int row) {
        states.erase(states.begin() + row);
        if (!recorders.empty())
            recorders.erase(recorders.begin() + row);
        followLines();
    });
    connect(&round, &QTimer::timeout, this, &PumpFleet::readRound);
    round.start(RoundMs);
}

// The states and records go before the sessions they follow, and the sessions before the
// counts that their dropped readings still report to.
PumpFleet::~PumpFleet()
{
    states.clear();
    recorders.clear();
    otherLines.clear();
}

void PumpFleet::keepRecords(const QString& folder, const QString& copyName)
{
    recordFolder = folder;
    recordCopy = copyName;
    recorders.clear();
    for (int row = 0; row < pumps.count(); ++row)
        addRecorder(row);
}

void PumpFleet::addRecorder(int row)
{
    if (recordFolder.isEmpty())
        return;
    auto recorder = std::make_unique<GUI::RunRecorder>(recordFolder, recordCopy);
    recorder->setAddressFilter(pumps.at(row).address);
    GUI::PanelSession& line = sessionOf(row);
    recorder->follow(&line.stack(), &line.link());
    recorders.insert(recorders.begin() + row, std::move(recorder));
}

void PumpFleet::addState(int row)
{
    auto state = std::make_unique<PumpState>();
    state->setAddress(pumps.at(row).address);
    GUI::PanelSession& line = sessionOf(row);
    state->follow(&line.stack(), &line.link());
    if (!line.link().isOpen() && &line != &session)
        state->noteLineLost();
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

void PumpFleet::followLines()
{
    // The panel's line is the panel's alone; a line none of the pumps is on any more is let go.
    for (auto line = otherLines.begin(); line != otherLines.end();) {
        const bool used =
            std::any_of(pumps.pumps().begin(), pumps.pumps().end(),
                        [&line](const GUI::PumpEntry& pump) { return pump.port == line->first; });
        if (used && line->first != linePath()) {
            ++line;
            continue;
        }
        // Readings queued there are dropped with it; the one on the line is never answered.
        const QString path = line->first;
        line = otherLines.erase(line);
        for (auto& [key, count] : waiting) {
            if (key.first == path)
                count = 0;
        }
    }
    for (int row = 0; row < pumps.count(); ++row) {
        states.erase(states.begin() + row);
        addState(row);
        emit rowChanged(row);
    }
    // A record goes on with its run, on whichever session its pump is reached now.
    for (std::size_t row = 0; row < recorders.size(); ++row) {
        GUI::PanelSession& line = sessionOf(int(row));
        recorders[row]->follow(&line.stack(), &line.link());
    }
}

QString PumpFleet::linePath() const
{
    return line.isEmpty() ? session.link().chosenPath() : line;
}

void PumpFleet::setLine(const QString& path)
{
    if (path == line)
        return;
    line = path;
    followLines();
}

QString PumpFleet::add(const QString& port, int address, const QString& name)
{
    const QString where = port.isEmpty() ? linePath() : port;
    if (where != linePath() && !otherLines.count(where)) {
        GUI::PanelSession& line = lineSession(where);
        if (!line.link().isOpen()) {
            const QString why = line.link().portStatus().text();
            otherLines.erase(where); // nothing was queued there yet
            return why;
        }
    }
    return pumps.add({name, where, address});
}

GUI::PanelSession& PumpFleet::lineSession(const QString& path)
{
    std::unique_ptr<GUI::PanelSession>& line = otherLines[path];
    if (line)
        return *line;
    line = std::make_unique<GUI::PanelSession>();
    line->fillTable();
    // Opened here, before it has a thread: whether it opened is known at once.
    line->link().setCommPortPath(path);
    Communication* link = &line->link();
    LineReopener* reopener = &line->reopener();
    connect(link, &Communication::lineLost, reopener, &LineReopener::lookOut);
    reopener->followChoice();
    line->startLineThread();
    return *line;
}

std::optional<int> PumpFleet::panelPump() const
{
    for (int row = 0; panelAddress && row < pumps.count(); ++row) {
        if (onPanelLine(row) && pumps.at(row).address == *panelAddress)
            return row;
    }
    return std::nullopt;
}

bool PumpFleet::onPanelLine(int row) const
{
    return pumps.at(row).port == linePath();
}

GUI::PanelSession& PumpFleet::sessionOf(int row)
{
    return onPanelLine(row) ? session : lineSession(pumps.at(row).port);
}

void PumpFleet::readRound()
{
    for (int row = 0; polling && row < pumps.count(); ++row) {
        const GUI::PumpEntry& pump = pumps.at(row);
        const PumpKey key{pump.port, pump.address};
        GUI::PanelSession& line = sessionOf(row);
        // The panel reads its own pump; one whose last readings are still queued waits.
        if (!line.link().isOpen() || (onPanelLine(row) && pump.address == panelAddress)
            || waiting[key] > 0)
            continue;
        if (silent[key]) {
            read(line, key, Table::getPumpStatus, RunPage);
            continue;
        }
        for (const auto& [reading, parameter] : EveryRound)
            read(line, key, *reading, parameter);
        const auto& [reading, parameter] = InTurn[std::size_t(turn[key]++) % std::size(InTurn)];
        read(line, key, *reading, parameter);
    }
}

void PumpFleet::read(GUI::PanelSession& line, const PumpKey& key,
                     const BusinessLogic::CommandTraits& reading, qint32 parameter)
{
    BusinessLogic::CommandStack::Request request;
    request.command = line.table().at(std::size_t(reading.spezifier));
    request.parameter = parameter;
    request.address = key.second;
    BusinessLogic::Reply* reply = line.stack().submit(request, this);
    ++waiting[key];
    connect(reply, &BusinessLogic::Reply::finished, this, [this, reply, key] {
        reply->deleteLater();
        --waiting[key];
        // An answer that came garbled still shows a pump there (or two: a conflict).
        silent[key] = !reply->answer().heard;
    });
}

void PumpFleet::send(GUI::PanelSession& line, const PumpKey& pump,
                     const BusinessLogic::CommandTraits& key)
{
    BusinessLogic::CommandStack::Request request;
    request.command = line.table().at(std::size_t(key.spezifier));
    request.address = pump.second;
    request.logFlag = true;
    request.origin = Origin::UrgentUser;
    BusinessLogic::Reply* reply = line.stack().submit(request, this);
    connect(reply, &BusinessLogic::Reply::finished, this, [this, reply, pump, &key] {
        reply->deleteLater();
        // Said of the row the pump has now: rows above it may have gone meanwhile.
        if (const std::optional<int> row = pumps.indexOf(pump.first, pump.second))
            emit verdict(*row, verdictText(pumps.at(*row).name, key, reply->outcome()));
    });
}

QString PumpFleet::verdictText(const QString& pump, const BusinessLogic::CommandTraits& key,
                               Answer::Outcome outcome)
{
    QString name = QLatin1String(key.body);
    for (const auto& [traits, word] : RunKeys) {
        if (traits == &key)
            name = QLatin1String(word);
    }
    const QString result =
        outcome == Answer::Outcome::Answered ? QStringLiteral("taken") : Answer::describe(outcome);
    return QStringLiteral("%1: %2 %3").arg(pump, name, result);
}

int PumpFleet::stopAll(bool panelPump)
{
    int stops = 0;
    for (int row = 0; row < pumps.count(); ++row) {
        const int address = pumps.at(row).address;
        if (panelPump || !onPanelLine(row) || address != panelAddress) {
            send(sessionOf(row), {pumps.at(row).port, address}, Table::stop);
            ++stops;
        }
    }
    if (panelPump && pumps.count() == 0 && panelAddress) {
        send(session, {linePath(), *panelAddress}, Table::stop);
        ++stops;
    }
    return stops;
}

void PumpFleet::runKey(int row, const BusinessLogic::CommandTraits& key)
{
    send(sessionOf(row), {pumps.at(row).port, pumps.at(row).address}, key);
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
