#include "pumpsession.h"

#include "operationitem.h"
#include "pumpsearch.h"
#include "runend.h"
#include "valuelimits.h"

#include <QJsonArray>
#include <QTimer>

#include <cmath>

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

const QString ModeNames[] = {QStringLiteral("flow"), QStringLiteral("volume"),
                             QStringLiteral("time")};
constexpr int StandingReadsForFinished = 2;
constexpr int MotorInMotionBit = 0x01;

// A status flag: a bit of one of the pump's status words, named as scripts read it.
struct Flag
{
    int word;
    int bit;
    bool whenClear; // the flag holds while the bit is 0
    const char* name;
};

const Flag Flags[] = {
    {1, 0, false, "motor_in_motion"},
    {1, 1, false, "pump_error"},
    {1, 2, true, "display_on"},
    {2, 0, false, "motor_adjusted"},
    {2, 1, false, "input1_active"},
    {2, 2, false, "input2_active"},
    {2, 3, false, "motor_at_dead_centre"},
    {3, 0, false, "run_mode_active"},
    {4, 0, false, "dispense_mode_active"},
    {4, 3, true, "master_stop_active"},
    {6, 0, false, "overpressure"},
    {6, 3, false, "signal_4_20ma_too_low"},
    {6, 4, false, "power_supply_failure"},
    {6, 5, false, "motor_not_adjusted"},
    {6, 6, false, "maximum_temperature_exceeded"},
    {6, 7, false, "no_encoder_signal"},
};
constexpr int StatusWords[] = {1, 2, 3, 4, 6};
// The words that tell how a run ended: inputs, master stop, errors.
constexpr int RunEndWords[] = {2, 4, 6};
constexpr int ErrorWord = 6;
constexpr int HundredthsPerSecond = 100;

// The names of the error flags set in the error word.
QStringList errorNames(qint32 bits)
{
    QStringList names;
    for (const Flag& flag : Flags)
        if (flag.word == ErrorWord && ((bits >> flag.bit) & 1))
            names.append(QLatin1String(flag.name));
    return names;
}

qint32 parsed(GUI::ParseRule rule, const Reply& reply)
{
    return GUI::parseAnswer(rule, QString::fromLatin1(reply.data)).value;
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
    // A run begins with these verbs; a stop after it, in a later verb too, ends it by the user.
    if (next.verb == QLatin1String("start") || next.verb == QLatin1String("dose") ||
        next.verb == QLatin1String("prime"))
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
    if (searching)
        link->search().cancel();
    searching = false;
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
    else if (verb == QLatin1String("stop"))
        one(command(Table::stop));
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
    else
        fail(QStringLiteral("unknown verb \"%1\"").arg(verb), UsageError);
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
    for (int word : StatusWords)
        reads.push_back(command(Table::getPumpStatus, word));
    exchangeAll(reads, [this](const Replies& r) {
        using GUI::ParseRule;
        const qint32 mode = parsed(ParseRule::Integer, r[0]);
        QJsonArray flags;
        for (const Flag& flag : Flags) {
            const auto at = std::find(std::begin(StatusWords), std::end(StatusWords), flag.word);
            const bool set =
                (parsed(ParseRule::StatusPage, r[8 + (at - std::begin(StatusWords))]) >> flag.bit) &
                1;
            if (set != flag.whenClear)
                flags.append(QLatin1String(flag.name));
        }
        succeed(
            {{QStringLiteral("mode"),
              mode >= 0 && mode <= 2 ? ModeNames[mode] : QString::number(mode)},
             {QStringLiteral("flow_ml_min"), fromThousandths(parsed(ParseRule::Decimal, r[1]))},
             {QStringLiteral("volume_ml"), fromThousandths(parsed(ParseRule::Decimal, r[2]))},
             {QStringLiteral("time_s"), parsed(ParseRule::DispenseTime, r[3])},
             {QStringLiteral("cycles"), parsed(ParseRule::Integer, r[4])},
             {QStringLiteral("break_s"), parsed(ParseRule::Integer, r[5])},
             {QStringLiteral("delivered_ml"), fromThousandths(parsed(ParseRule::Integer, r[6]))},
             {QStringLiteral("elapsed_s"), parsed(ParseRule::ElapsedTime, r[7]) / 100.0},
             {QStringLiteral("flags"), flags}});
    });
}

void PumpSession::runWait(std::function<void()> then)
{
    auto delivered = [this](const Reply& reply) {
        deliveredThousandths = parsed(GUI::ParseRule::Integer, reply);
        const double ml = fromThousandths(deliveredThousandths);
        lastValues.insert(QStringLiteral("delivered_ml"), ml);
        return ml;
    };
    if (request.word == QLatin1String("seconds")) {
        const quint64 mine = step;
        QTimer::singleShot(std::chrono::milliseconds(qint64(request.number * 1000)), this,
                           [this, mine, then] {
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
                const bool moving = parsed(GUI::ParseRule::StatusPage, r[0]) & MotorInMotionBit;
                standingReads = moving ? 0 : standingReads + 1;
                return standingReads >= StandingReadsForFinished;
            },
            then);
    }
}

void PumpSession::runDose()
{
    // Every setting that bounds the run: one cycle of the volume, no time limit.
    std::vector<Exchange> exchanges{
        command(Table::setDispenseModeVolume), command(Table::setDispenseVolumeNumber, 1),
        command(Table::setVolume, request.parameter), command(Table::setDispenseTime, 0)};
    if (request.flow)
        exchanges.push_back(
            command(Table::setFlowRate,
                    qint32(std::llround(*request.flow * ValueLimits::ThousandthsPerUnit))));
    exchanges.push_back(command(Table::start));
    exchangeAll(exchanges, [this](const Replies&) {
        request.word = QStringLiteral("finished");
        runWait([this] { judgeEnd(); });
    });
}

void PumpSession::judgeEnd()
{
    using GUI::ParseRule;
    std::vector<Exchange> reads{command(Table::getRunMode), command(Table::getVolume),
                                command(Table::getDispenseTime), command(Table::getTimeActual)};
    for (int word : RunEndWords)
        reads.push_back(command(Table::getPumpStatus, word));
    exchangeAll(reads, [this](const Replies& r) {
        GUI::RunEndFacts facts;
        facts.mode = parsed(ParseRule::Integer, r[0]);
        facts.targetVolume = parsed(ParseRule::Decimal, r[1]);
        facts.timeLimit = parsed(ParseRule::DispenseTime, r[2]) * HundredthsPerSecond;
        facts.elapsed = parsed(ParseRule::ElapsedTime, r[3]);
        facts.delivered = deliveredThousandths;
        facts.inputWord = parsed(ParseRule::StatusPage, r[4]);
        facts.dispenseWord = parsed(ParseRule::StatusPage, r[5]);
        facts.errorBits = parsed(ParseRule::StatusPage, r[6]);
        facts.stopAsked = link->stopsAcknowledged() != stopsBefore;
        const GUI::RunEnd end = GUI::judgeRunEnd(facts);
        QString ended = GUI::runEndText(end);
        if (end == GUI::RunEnd::PumpError)
            ended += QStringLiteral(" (%1)").arg(errorNames(facts.errorBits).join(u' '));
        QJsonObject values = lastValues;
        values.insert(QStringLiteral("ended"), ended);
        if (request.verb != QLatin1String("dose") || end == GUI::RunEnd::TargetReached)
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
        searching = false;
        if (!found)
            return fail(QStringLiteral("no pump answered at addresses 0 to %1")
                            .arg(GUI::PumpSearch::SearchedAddresses - 1));
        // Where a window shows the pump, the window takes the found address over itself.
        if (!link->keepsFoundAddress())
            return succeed({{QStringLiteral("address"), *found}});
        exchangeOne(command(Table::setCommAddress, *found), [this, found](const Reply&) {
            succeed({{QStringLiteral("address"), *found}});
        });
    };
    connect(&search, &GUI::PumpSearch::found, this, report, Qt::SingleShotConnection);
    connect(&search, &GUI::PumpSearch::notFound, this, [report] { report(std::nullopt); },
            Qt::SingleShotConnection);
    connect(&search, &GUI::PumpSearch::interrupted, this, [this] {
        searching = false;
        fail(QStringLiteral("search interrupted: the probes were dropped"));
    }, Qt::SingleShotConnection);
}

void PumpSession::exchangeAll(std::vector<Exchange> exchanges,
                              std::function<void(const Replies&)> then, Replies replies)
{
    if (replies.size() == exchanges.size())
        return then(replies);
    const Exchange next = exchanges[replies.size()];
    exchangeOne(next, [=](const Reply& reply) mutable {
        if (reply.outcome != Reply::Outcome::Answered)
            return failOn(reply);
        replies.push_back(reply);
        exchangeAll(exchanges, then, replies);
    });
}

void PumpSession::poll(std::vector<Exchange> reads, std::function<bool(const Replies&)> finished,
                       std::function<void()> then)
{
    exchangeAll(reads, [=](const Replies& replies) {
        if (finished(replies))
            return then();
        if (request.timeout && clock.elapsed() > *request.timeout * 1000)
            return fail(QStringLiteral("wait: gave up after %1 s").arg(*request.timeout));
        const quint64 mine = step;
        QTimer::singleShot(PollIntervalMs, this, [=] {
            if (!done && step == mine)
                poll(reads, finished, then);
        });
    });
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
            return fail(QStringLiteral("the command was dropped before it was sent"));
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

void PumpSession::failOn(const Reply& reply)
{
    // A reading the pump refuses is one of a code it does not know.
    if (reply.outcome == Reply::Outcome::Refused && request.verb == QLatin1String("get"))
        fail(QStringLiteral("refused by the pump: it does not know the code \"%1\"")
                 .arg(request.word));
    else if (reply.outcome == Reply::Outcome::Refused)
        fail(QStringLiteral("refused by the pump (range)"));
    else if (request.verb != QLatin1String("dose") && request.word != QLatin1String("finished"))
        fail(QStringLiteral("no answer from the pump at address %1").arg(link->address()));
    else
        fail(QStringLiteral("no answer from the pump at address %1").arg(link->address()),
             PumpFailure, {{QStringLiteral("ended"), GUI::runEndText(GUI::RunEnd::LineLost)}});
}

} // namespace Control
