#include "weigheddelivery.h"

#include "balance.h"
#include "pumpsession.h"

namespace Control {

WeighedDelivery::WeighedDelivery(PumpLink* link, Balance* balance, QObject* parent)
    : QObject(parent), link(link), balance(balance)
{}

void WeighedDelivery::run(const Request& dose, Handler then)
{
    request = dose;
    done = std::move(then);
    if (!balance)
        return this->dose();
    balance->ask("Z", BalanceSettleMs, [this](const Balance::Answer& zeroed) {
        if (zeroed.line != "Z A")
            return finish({{}, Failure::Zeroing, Balance::explain(zeroed)});
        this->dose();
    });
}

void WeighedDelivery::abort()
{
    done = {};
    if (session)
        session->abort();
}

void WeighedDelivery::dose()
{
    session = new PumpSession(link, this);
    connect(session, &PumpSession::finished, this, [this](const QJsonObject& result) {
        session->deleteLater();
        if (!result.value(QLatin1String("ok")).toBool())
            return finish({{}, Failure::Dosing, result.value(QLatin1String("error")).toString()});
        if (!balance)
            return finish({});
        weigh();
    });
    session->run(request);
}

void WeighedDelivery::weigh()
{
    balance->ask("S", BalanceSettleMs, [this](const Balance::Answer& weighed) {
        const std::optional<double> grams = Balance::stableGrams(weighed.line);
        if (!grams)
            return finish({{}, Failure::Weighing, Balance::explain(weighed)});
        finish({grams, Failure::None, {}});
    });
}

void WeighedDelivery::finish(const Outcome& outcome)
{
    if (Handler then = std::exchange(done, {}))
        then(outcome);
}

} // namespace Control
