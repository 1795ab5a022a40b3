#pragma once

#include "balance.h"
#include "calibration.h"
#include "calibrationhistory.h"
#include "pumplink.h"
#include "request.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Control {

class WeighedDelivery;

// Runs one request against the pump through a link, exchange by exchange, without blocking the
// event loop, and reports one result object: {"verb", "ok", values...} or {"ok":false, "error",
// "exit"}.
class PumpSession : public QObject
{
    Q_OBJECT

  public:
    // Between two readings while waiting for the pump.
    static constexpr int PollIntervalMs = 200;
    // How long a wait's readings may go unanswered before the wait fails: longer than a busy
    // line or a network bridge holds an answer back, short against a run.
    static constexpr int SilenceToleratedMs = 3000;

    explicit PumpSession(PumpLink* link, QObject* parent = nullptr);

    // Starts the request; finished() follows once, later.
    void run(const Request& request);
    // Sends nothing more: its command still queued is taken back; one on the line runs to its
    // end.
    void abort();

  signals:
    void finished(const QJsonObject& result);

  private:
    using Replies = std::vector<Reply>;

    void runVerb();
    void runStatus();
    void runNote();
    void runWait(std::function<void()> then);
    void runDose();
    void runCalibrate();
    void weighNext();
    void judgeCalibration();
    std::vector<Exchange> deliveryExchanges(qint32 volume) const;
    void recordCalibration(GUI::CalibrationRecord record, const QString& refusal,
                           bool written = false);
    QJsonObject calibrationValues(const Engine::CalibrationResult& result) const;
    // Once the motor stands: reads how the run ended and reports it; a dose that fell short
    // fails.
    void judgeEnd();
    void runSearch();
    void stopWatchingSearch();

    // Runs the exchanges in order; the first one the pump refuses or leaves unanswered ends the
    // request with its error.
    // again, when given, is called instead of failing when a reading goes unanswered, up to
    // for up to SilenceToleratedMs since the first in a row (a wait's polling).
    void exchangeAll(std::vector<Exchange> exchanges, std::function<void(const Replies&)> then,
                     Replies replies = {}, std::function<void()> again = {});
    // Reads again every PollIntervalMs until done() says so or the request's time-out passes.
    void poll(std::vector<Exchange> reads, std::function<bool(const Replies&)> done,
              std::function<void()> then);
    void exchangeOne(const Exchange& exchange, std::function<void(const Reply&)> then);

    void succeed(QJsonObject values = {});
    void fail(const QString& error, ExitStatus status = PumpFailure, QJsonObject values = {});
    void failOn(const Reply& reply);
    QString failureText(const Reply& reply) const;

    PumpLink* link;
    Request request;
    std::unique_ptr<Balance> balance;
    QPointer<WeighedDelivery> delivery;
    QJsonObject lastValues;
    qint32 deliveredThousandths = 0;
    // Stops the link had seen acknowledged when the last run began here.
    int stopsBefore = 0;
    QElapsedTimer clock;
    quint64 step = 0;
    int standingReads = 0;
    QElapsedTimer silentSince; // the first of the unanswered readings in a row; invalid: none
    // The exchange asked for last.
    quint64 lastRequest = 0;
    // The session's search runs for this request; what it listens to meanwhile.
    bool searching = false;
    std::vector<QMetaObject::Connection> searchWatch;
    bool done = true;
};

} // namespace Control
