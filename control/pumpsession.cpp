#include "pumpsession.h"

#include "calibration.h"
#include "calibrationhistory.h"
#include "commandtable.h"
#include "pumpsearch.h"
#include "readings.h"
#include "runend.h"
#include "runrecorder.h"
#include "valuelimits.h"
#include "weigheddelivery.h"

#include <QJsonArray>
#include <QTimer>

namespace Control {

namespace Table = BusinessLogic::CommandTable;

namespace {

Exchange command(const BusinessLogic::CommandTraits& traits, qint32 parameter = 0)
{
    return {&traits, parameter, {}, false};
}

Exchange rawFrame(const QString& text)
{
    return {&Table::setDiscreteCommand, 0, text.toLatin1(), true};
}

constexpr int StandingReadsForFinished = 2;

// The words that tell how a run ended: inputs, master stop, errors.
constexpr int RunEndWords[] = {2, 4, Engine::ErrorWord};
constexpr int HundredthsPerSecond = 100;

// The answer to a reading, parsed by that reading's rule.
qint32 parsed(const BusinessLogic::CommandTraits& reading, const Reply& reply)
{
    return Engine::readingValue(reading.body, QString::fromLatin1(reply.data));
}

double fromThousandths(qint32 value)
{
    return value / ValueLimits::ThousandthsPerUnit;
}

} // namespace

PumpSession::PumpSession(PumpLink* link, QObject* parent)
    : QObject(parent), link(link), stopsBefore(link->stopsAcknowledged())
{}

void PumpSession::run(const Request& next)
{
    request = next;
    done = false;
    standingReads = 0;
    silentSince.invalidate();
    // A request meant for another pump than the one on this line is not sent at all.
    if (next.pump && *next.pump != link->address()) {
        const QString error = QStringLiteral("meant for the pump at address %1; this line's "
                                             "pump is at address %2")
                                  .arg(*next.pump)
                                  .arg(link->address());
        QMetaObject::invokeMethod(
            this, [this, error] { fail(error, UsageError); }, Qt::QueuedConnection);
        return;
    }
    // A run begins with these verbs; a stop after it, in a later verb too, ends it by the user.
    if (next.verb == QLatin1String("start") || next.verb == QLatin1String("dose")
        || (next.verb == QLatin1String("calibrate") && !next.balance.isEmpty())
        || next.verb == QLatin1String("prime"))
        stopsBefore = link->stopsAcknowledged();
    clock.start();
    runVerb();
}

void PumpSession::abort()
{
    done = true;
    ++step;
    // A reading of a wait still queued goes no more; the one on the line runs to its end.
    link->withdraw(lastRequest);
    if (delivery)
        delivery->abort();
    if (searching)
        link->search().cancel();
    stopWatchingSearch();
}

void PumpSession::runVerb()
{
    const QString& verb = request.verb;
    auto one = [this](const Exchange& exchange) {
        exchangeAll({exchange}, [this](const Replies&) { succeed(); });
    };
    if (verb == QLatin1String("status"))
        runStatus();
    else if (verb == QLatin1String("set-flow"))
        one(command(Table::setFlowRate, request.parameter));
    else if (verb == QLatin1String("set-volume"))
        one(command(Table::setVolume, request.parameter));
    else if (verb == QLatin1String("set-time"))
        one(command(Table::setDispenseTime, request.parameter));
    else if (verb == QLatin1String("set-cycles"))
        one(command(Table::setDispenseVolumeNumber, request.parameter));
    else if (verb == QLatin1String("set-break"))
        one(command(Table::setDispenseVolumeBreakTime, request.parameter));
    else if (verb == QLatin1String("mode"))
        one(command(request.word == ModeNames[0]   ? Table::setRunMode
                    : request.word == ModeNames[1] ? Table::setDispenseModeVolume
                                                   : Table::setDispenseModeFlowrate));
    else if (verb == QLatin1String("start"))
        one(command(Table::start));
    else if (verb == QLatin1String("pause"))
        one(command(Table::pause));
    // On a line of its own, the tool's one pump is all there is to stop.
    else if (verb == QLatin1String("stop") || verb == QLatin1String("stop-all"))
        one(command(Table::stop));
    else if (verb == QLatin1String("pumps"))
        QMetaObject::invokeMethod(
            this,
            [this] {
                fail(QStringLiteral("only a running panel keeps a list of pumps"), UsageError);
            },
            Qt::QueuedConnection);
    else if (verb == QLatin1String("prime"))
        one(command(Table::prime));
    else if (verb == QLatin1String("wait"))
        runWait([this] {
            if (request.word == QLatin1String("finished"))
                judgeEnd();
            else
                succeed(lastValues);
        });
    else if (verb == QLatin1String("dose"))
        runDose();
    else if (verb == QLatin1String("get") || verb == QLatin1String("send"))
        exchangeAll(
            {rawFrame(verb == QLatin1String("get") ? u'?' + request.word : request.word)},
            [this](const Replies& replies) {
                succeed({{QStringLiteral("answer"), QString::fromLatin1(replies.front().data)}});
            });
    else if (verb == QLatin1String("search"))
        runSearch();
    else if (verb == QLatin1String("note"))
        runNote();
    else if (verb == QLatin1String("calibrate"))
        runCalibrate();
    else
        fail(QStringLiteral("unknown verb \"%1\"").arg(verb), UsageError);
}

void PumpSession::runNote()
{
    GUI::RunRecorder* recorder = link->recorder();
    QMetaObject::invokeMethod(
        this,
        [this, recorder] {
            if (!recorder)
                return fail(QStringLiteral("no run record is kept here"));
            recorder->noteEvent(request.word);
            succeed();
        },
        Qt::QueuedConnection);
}

void PumpSession::runStatus()
{
    std::vector<Exchange> reads{command(Table::getRunMode),
                                command(Table::getFlowRate),
                                command(Table::getVolume),
                                command(Table::getDispenseTime),
                                command(Table::getDispenseVolumeNumber),
                                command(Table::getDispenseVolumeBreakTime),
                                command(Table::getActualVolume),
                                command(Table::getTimeActual)};
    for (int word : Engine::StatusWords)
        reads.push_back(command(Table::getPumpStatus, word));
    exchangeAll(reads, [this](const Replies& r) {
        const qint32 mode = parsed(Table::getRunMode, r[0]);
        QJsonArray flags;
        for (const Engine::FlagBit& flag : Engine::StatusFlags) {
            const int* words = std::begin(Engine::StatusWords);
            const Reply& word =
                r[8 + (std::find(words, std::end(Engine::StatusWords), flag.word) - words)];
            if (Engine::holds(flag.flag, parsed(Table::getPumpStatus, word)))
                flags.append(QLatin1String(flag.name));
        }
        succeed({{QStringLiteral("mode"), modeName(mode)},
                 {QStringLiteral("flow_ml_min"), fromThousandths(parsed(Table::getFlowRate, r[1]))},
                 {QStringLiteral("volume_ml"), fromThousandths(parsed(Table::getVolume, r[2]))},
                 {QStringLiteral("time_s"), parsed(Table::getDispenseTime, r[3])},
                 {QStringLiteral("cycles"), parsed(Table::getDispenseVolumeNumber, r[4])},
                 {QStringLiteral("break_s"), parsed(Table::getDispenseVolumeBreakTime, r[5])},
                 {QStringLiteral("delivered_ml"),
                  fromThousandths(parsed(Table::getActualVolume, r[6]))},
                 {QStringLiteral("elapsed_s"), parsed(Table::getTimeActual, r[7]) / 100.0},
                 {QStringLiteral("flags"), flags}});
    });
}

void PumpSession::runWait(std::function<void()> then)
{
    auto delivered = [this](const Reply& reply) {
        deliveredThousandths = parsed(Table::getActualVolume, reply);
        const double ml = fromThousandths(deliveredThousandths);
        lastValues.insert(QStringLiteral("delivered_ml"), ml);
        return ml;
    };
    if (request.word == QLatin1String("seconds")) {
        const quint64 mine = step;
        // A coarse timer may end a wait of 30 s half a second early.
        QTimer::singleShot(std::chrono::milliseconds(qint64(request.number * 1000)),
                           Qt::PreciseTimer, this, [this, mine, then] {
                               if (!done && step == mine)
                                   then();
                           });
    } else if (request.word == QLatin1String("volume")) {
        poll(
            {command(Table::getActualVolume)},
            [this, delivered](const Replies& r) { return delivered(r[0]) >= request.number; },
            then);
    } else {
        standingReads = 0;
        poll(
            {command(Table::getPumpStatus, 1), command(Table::getActualVolume)},
            [this, delivered](const Replies& r) {
                delivered(r[1]);
                const bool moving = Engine::holds(Engine::StatusFlag::MotorInMotion,
                                                  parsed(Table::getPumpStatus, r[0]));
                standingReads = moving ? 0 : standingReads + 1;
                return standingReads >= StandingReadsForFinished;
            },
            then);
    }
}

// Every setting that bounds one delivery of the volume (one cycle, no time limit, the rate when
// given), then start.
std::vector<Exchange> PumpSession::deliveryExchanges(qint32 volume) const
{
    std::vector<Exchange> exchanges{
        command(Table::setDispenseModeVolume), command(Table::setDispenseVolumeNumber, 1),
        command(Table::setVolume, volume), command(Table::setDispenseTime, 0)};
    if (request.flow)
        exchanges.push_back(command(Table::setFlowRate, *request.flow));
    exchanges.push_back(command(Table::start));
    return exchanges;
}

void PumpSession::runDose()
{
    exchangeAll(deliveryExchanges(request.parameter), [this](const Replies&) {
        request.word = QStringLiteral("finished");
        runWait([this] { judgeEnd(); });
    });
}

// The masses against the pump's present calibration; the new one is written only when asked
// and when the deliveries allow it. Every outcome goes into the calibration history.
void PumpSession::runCalibrate()
{
    if (request.balance.isEmpty())
        return judgeCalibration();
    balance = std::make_unique<Balance>(this);
    if (balance->open(request.balance,
                      request.balanceBaud ? request.balanceBaud : Balance::DefaultBaud))
        return weighNext();
    // As every result, later than the request: whoever waits for it is listening by then.
    const QString error = QStringLiteral("cannot open the balance %1: %2")
                              .arg(request.balance, balance->errorString());
    QMetaObject::invokeMethod(
        this, [this, error] { fail(error); }, Qt::QueuedConnection);
}

// One delivery after the other, each dosed and weighed on the balance.
void PumpSession::weighNext()
{
    if (int(request.massesG.size()) >= request.deliveries)
        return judgeCalibration();
    Request dose = request;
    dose.verb = QStringLiteral("dose");
    delivery = new WeighedDelivery(link, balance.get(), this);
    delivery->run(dose, [this](const WeighedDelivery::Outcome& outcome) {
        delivery->deleteLater();
        if (!outcome.grams)
            return fail(QStringLiteral("delivery %1: %2")
                            .arg(request.massesG.size() + 1)
                            .arg(outcome.error));
        request.massesG.push_back(*outcome.grams);
        weighNext();
    });
}

void PumpSession::judgeCalibration()
{
    const std::vector<Exchange> reads{command(Table::getCustCalPercent),
                                      command(Table::getModelVersion)};
    exchangeAll(reads, [this](const Replies& replies) {
        GUI::CalibrationRecord record{QDateTime::currentDateTimeUtc(),
                                      GUI::CalibrationHistory::pumpAt(link->address()),
                                      QString::fromLatin1(replies[1].data),
                                      request.number,
                                      request.massesG,
                                      request.mlPerGram,
                                      {},
                                      {}};
        record.result =
            Engine::evaluateCalibration({request.number, request.massesG, request.mlPerGram,
                                         parsed(Table::getCustCalPercent, replies[0])});
        if (!record.result.newHundredths)
            return recordCalibration(record, record.result.refusal);
        if (!request.write)
            return recordCalibration(record, {});
        exchangeOne(command(Table::setCustCalPercent, *record.result.newHundredths),
                    [this, record](const Reply& reply) {
                        if (reply.outcome == Reply::Outcome::Answered)
                            recordCalibration(record, {}, true);
                        else
                            recordCalibration(record, failureText(reply));
                    });
    });
}

void PumpSession::recordCalibration(GUI::CalibrationRecord record, const QString& refusal,
                                    bool written)
{
    QJsonObject values = calibrationValues(record.result);
    values.insert(QStringLiteral("written"), written);
    record.outcome = written             ? QStringLiteral("written")
                     : refusal.isEmpty() ? QStringLiteral("not written")
                                         : QStringLiteral("refused: ") + refusal;
    GUI::CalibrationHistory history;
    if (!history.append(record))
        return fail(QStringLiteral("%1, but not kept in the calibration history: %2")
                        .arg(refusal.isEmpty() ? record.outcome : refusal, history.errorString()),
                    PumpFailure, values);
    if (!refusal.isEmpty())
        return fail(refusal, PumpFailure, values);
    succeed(values);
}

QJsonObject PumpSession::calibrationValues(const Engine::CalibrationResult& result) const
{
    QJsonArray volumes;
    for (const double volume : result.volumesMl)
        volumes.append(volume);
    QJsonObject values{
        {QStringLiteral("target_ml"), request.number},
        {QStringLiteral("volumes_ml"), volumes},
        {QStringLiteral("mean_ml"), result.meanMl},
        {QStringLiteral("systematic_percent"), result.systematicPercent},
        {QStringLiteral("systematic_ul"), result.systematicUl},
        {QStringLiteral("cv_percent"), result.cvPercent},
        {QStringLiteral("calibration_now"), Engine::calibrationText(result.presentHundredths)},
        {QStringLiteral("written"), false}};
    if (result.newHundredths)
        values.insert(QStringLiteral("calibration_new"),
                      Engine::calibrationText(*result.newHundredths));
    return values;
}

void PumpSession::judgeEnd()
{
    std::vector<Exchange> reads{command(Table::getRunMode), command(Table::getVolume),
                                command(Table::getDispenseTime), command(Table::getTimeActual)};
    for (int word : RunEndWords)
        reads.push_back(command(Table::getPumpStatus, word));
    exchangeAll(reads, [this](const Replies& r) {
        Engine::RunEndFacts facts;
        facts.mode = parsed(Table::getRunMode, r[0]);
        facts.targetVolume = parsed(Table::getVolume, r[1]);
        facts.timeLimit = parsed(Table::getDispenseTime, r[2]) * HundredthsPerSecond;
        facts.elapsed = parsed(Table::getTimeActual, r[3]);
        facts.delivered = deliveredThousandths;
        facts.inputWord = parsed(Table::getPumpStatus, r[4]);
        facts.dispenseWord = parsed(Table::getPumpStatus, r[5]);
        facts.errorBits = parsed(Table::getPumpStatus, r[6]);
        facts.stopAsked = link->stopsAcknowledged() != stopsBefore;
        const Engine::RunEnd end = Engine::judgeRunEnd(facts);
        QString ended = Engine::runEndText(end);
        if (end == Engine::RunEnd::PumpError)
            ended += QStringLiteral(" (%1)").arg(Engine::errorNames(facts.errorBits).join(u' '));
        QJsonObject values = lastValues;
        values.insert(QStringLiteral("ended"), ended);
        if (request.verb != QLatin1String("dose") || end == Engine::RunEnd::TargetReached)
            return succeed(values);
        fail(QStringLiteral("delivered %1 of %2 ml: %3")
                 .arg(fromThousandths(facts.delivered), 0, 'f', 3)
                 .arg(fromThousandths(request.parameter), 0, 'f', 3)
                 .arg(ended),
             PumpFailure, values);
    });
}

void PumpSession::runSearch()
{
    GUI::PumpSearch& search = link->search();
    if (!search.start())
        return fail(QStringLiteral("search already running"));
    searching = true;
    auto report = [this](std::optional<int> found) {
        stopWatchingSearch();
        if (!found)
            return fail(QStringLiteral("no pump answered at addresses 0 to %1")
                            .arg(Engine::SearchedAddresses - 1));
        // Where a window shows the pump, the window takes the found address over itself.
        if (!link->keepsFoundAddress())
            return succeed({{QStringLiteral("address"), *found}});
        exchangeOne(command(Table::setCommAddress, *found), [this, found](const Reply&) {
            succeed({{QStringLiteral("address"), *found}});
        });
    };
    searchWatch = {
        connect(&search, &GUI::PumpSearch::found, this, report),
        connect(&search, &GUI::PumpSearch::notFound, this, [report] { report(std::nullopt); }),
        connect(&search, &GUI::PumpSearch::interrupted, this, [this] {
            stopWatchingSearch();
            fail(QStringLiteral("search interrupted: the line was lost or another port chosen"));
        })};
}

void PumpSession::stopWatchingSearch()
{
    searching = false;
    for (const QMetaObject::Connection& watch : searchWatch)
        disconnect(watch);
    searchWatch.clear();
}

void PumpSession::exchangeAll(std::vector<Exchange> exchanges,
                              std::function<void(const Replies&)> then, Replies replies,
                              std::function<void()> again)
{
    if (replies.size() == exchanges.size())
        return then(replies);
    const Exchange next = exchanges[replies.size()];
    exchangeOne(next, [=](const Reply& reply) mutable {
        // A wait reads again after a reading went unanswered, as the panel's display bears a
        // few silent ticks: one late answer on a busy line is no lost line.
        if (reply.outcome == Reply::Outcome::Silent && again) {
            if (!silentSince.isValid())
                silentSince.start();
            if (silentSince.elapsed() <= SilenceToleratedMs)
                return again();
        }
        if (reply.outcome != Reply::Outcome::Answered)
            return failOn(reply);
        replies.push_back(reply);
        exchangeAll(exchanges, then, replies, again);
    });
}

void PumpSession::poll(std::vector<Exchange> reads, std::function<bool(const Replies&)> finished,
                       std::function<void()> then)
{
    const auto again = [=] {
        const quint64 mine = step;
        QTimer::singleShot(PollIntervalMs, this, [=] {
            if (!done && step == mine)
                poll(reads, finished, then);
        });
    };
    exchangeAll(
        reads,
        [=](const Replies& replies) {
            silentSince.invalidate();
            if (finished(replies))
                return then();
            if (request.timeout && clock.elapsed() > *request.timeout * 1000)
                return fail(QStringLiteral("wait: gave up after %1 s").arg(*request.timeout));
            again();
        },
        {}, again);
}

void PumpSession::exchangeOne(const Exchange& exchange, std::function<void(const Reply&)> then)
{
    if (done)
        return;
    const quint64 mine = ++step;
    lastRequest = link->exchange(exchange, this, [this, mine, then](const Reply& reply) {
        if (done || step != mine)
            return;
        // The panel dropped its queue (its port changed) before this one's turn.
        if (reply.outcome == Reply::Outcome::Dropped)
            return fail(QStringLiteral("the command was dropped before it was sent"), PumpFailure,
                        {{QStringLiteral("silent"), true}});
        then(reply);
    });
}

void PumpSession::succeed(QJsonObject values)
{
    if (done)
        return;
    done = true;
    values.insert(QStringLiteral("verb"), request.verb);
    values.insert(QStringLiteral("ok"), true);
    emit finished(values);
}

void PumpSession::fail(const QString& error, ExitStatus status, QJsonObject values)
{
    if (done)
        return;
    done = true;
    values.insert(QStringLiteral("verb"), request.verb);
    values.insert(QStringLiteral("ok"), false);
    values.insert(QStringLiteral("error"), error);
    values.insert(QStringLiteral("exit"), int(status));
    emit finished(values);
}

QString PumpSession::failureText(const Reply& reply) const
{
    // A reading the pump refuses is one of a code it does not know.
    if (reply.outcome == Reply::Outcome::Refused && request.verb == QLatin1String("get"))
        return QStringLiteral("refused by the pump: it does not know the code \"%1\"")
            .arg(request.word);
    if (reply.outcome == Reply::Outcome::Refused)
        return QStringLiteral("refused by the pump (range)");
    return QStringLiteral("no answer from the pump at address %1").arg(link->address());
}

void PumpSession::failOn(const Reply& reply)
{
    // A run waited for and no longer heard ended with the line, as far as anyone can tell.
    const bool runUnheard =
        reply.outcome != Reply::Outcome::Refused
        && (request.verb == QLatin1String("dose") || request.word == QLatin1String("finished"));
    QJsonObject values;
    if (runUnheard)
        values.insert(QStringLiteral("ended"), Engine::runEndText(Engine::RunEnd::LineLost));
    // Nothing came back: the line or the pump is gone, which a protocol waits out.
    if (reply.outcome != Reply::Outcome::Refused)
        values.insert(QStringLiteral("silent"), true);
    fail(failureText(reply), PumpFailure, values);
}

} // namespace Control
