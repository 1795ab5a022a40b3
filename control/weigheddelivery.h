#pragma once

#include "request.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

namespace Control {

class Balance;
class PumpLink;
class PumpSession;

// Where a weighed delivery failed: nothing was dosed after a failed zeroing.
enum class WeighedDeliveryFailure { None, Zeroing, Dosing, Weighing };

// One delivery of a calibration: the balance zeroed (when there is one), the target dosed as the
// dose verb doses it (a delivery that falls short or ends in an error fails), and the weight
// taken once it has settled.
class WeighedDelivery : public QObject
{
    Q_OBJECT

public:
    // How long a balance may take to settle, to zero or to weigh.
    static constexpr int BalanceSettleMs = 15000;

    using Failure = WeighedDeliveryFailure;
    struct Outcome
    {
        std::optional<double> grams; // none without a balance, or when it failed
        Failure failure = Failure::None;
        QString error;
    };
    using Handler = std::function<void(const Outcome&)>;

    // balance may be null: the delivery is dosed and the mass is weighed by hand.
    WeighedDelivery(PumpLink* link, Balance* balance, QObject* parent = nullptr);

    // dose: a checked dose request. then is called once, later.
    void run(const Request& dose, Handler then);
    // Sends nothing more; then is not called.
    void abort();

private:
    void dose();
    void weigh();
    void finish(const Outcome& outcome);

    PumpLink* link;
    Balance* balance;
    Request request;
    Handler done;
    QPointer<PumpSession> session;
};

} // namespace Control
