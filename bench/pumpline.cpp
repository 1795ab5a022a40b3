#include "pumpline.h"

#include "benchtools.h"

namespace {

Simulator::PtyPump::Options pacedOptions(int turnaroundMs)
{
    Simulator::PtyPump::Options options;
    options.pacing = true;
    options.turnaroundMs = turnaroundMs;
    return options;
}

} // namespace

PumpLine::PumpLine(int turnaroundMs)
    : turnaround(turnaroundMs)
    , simulated(pacedOptions(turnaroundMs))
{
    program.fillTable();
}

PumpLine::~PumpLine()
{
    simulated.stop();
}

bool PumpLine::start(bool openLink, QString* error)
{
    simulated.setLogSink([this](const QString& line) {
        const qint64 at = Bench::nowUs();
        std::lock_guard lock(arrivalMutex);
        arrivals.push_back({at, line});
    });
    if (!simulated.start()) {
        *error = simulated.errorString();
        return false;
    }
    if (openLink) {
        link().setCommPortPath(simulated.devicePath());
        if (!link().isOpen()) {
            *error = QStringLiteral("the link did not open %1").arg(simulated.devicePath());
            return false;
        }
    }
    return true;
}

BusinessLogic::Command* PumpLine::command(BusinessLogic::CommandSpezifier spezifier) const
{
    return program.table().at(std::size_t(spezifier));
}

std::vector<PumpLine::Arrival> PumpLine::takeArrivals()
{
    std::lock_guard lock(arrivalMutex);
    std::vector<Arrival> taken;
    taken.swap(arrivals);
    return taken;
}

double PumpLine::wireUs(qsizetype bytes)
{
    return double(bytes) * 10.0 * 1e6 / 9600.0;
}
