#include "pumplink.h"

#include "commandstack.h"
#include "communication.h"
#include "framing.h"
#include "reply.h"

#include <QTimer>

namespace Control {

namespace {

namespace Table = BusinessLogic::CommandTable;
using Origin = BusinessLogic::CommandStack::Origin;

bool isUserCommand(const BusinessLogic::CommandTraits& traits)
{
    return traits.wait == BusinessLogic::Wait::Acknowledge;
}

Origin originOf(const BusinessLogic::CommandTraits& traits)
{
    if (!isUserCommand(traits))
        return Origin::Polled;
    const bool runKey = traits.spezifier == Table::start.spezifier
                        || traits.spezifier == Table::stop.spezifier
                        || traits.spezifier == Table::pause.spezifier;
    return runKey ? Origin::UrgentUser : Origin::User;
}

} // namespace

Reply judgeReply(const Answer& answer, const BusinessLogic::CommandTraits& traits)
{
    using Outcome = Answer::Outcome;
    switch (answer.outcome) {
    case Outcome::Local:
        return {Reply::Outcome::Answered, {}};
    case Outcome::Refused:
        return {Reply::Outcome::Refused, {}};
    case Outcome::Dropped:
        return {Reply::Outcome::Dropped, {}};
    // A pump told to acknowledge nothing took a setting or a run key without a word; a reading
    // it still has to answer.
    case Outcome::SilentByRequest:
        return isUserCommand(traits) ? Reply{Reply::Outcome::Answered, {}} : Reply{};
    case Outcome::Answered:
        if (answer.acknowledged)
            return {Reply::Outcome::Answered, QByteArrayLiteral("ACK")};
        if (traits.wait == BusinessLogic::Wait::Frame && answer.rawAnswer.contains(::Protocol::STX))
            return {Reply::Outcome::Answered, answer.data};
        return {};
    case Outcome::Silent:
    case Outcome::LineLost:
        return {};
    }
    return {};
}

PumpLink::PumpLink(BusinessLogic::CommandStack* stack, std::vector<BusinessLogic::Command*>* table,
                   Communication* communication, GUI::PumpSearch* search, bool ownLine,
                   QObject* parent)
    : QObject(parent), stack(stack), table(table), communication(communication), pumpSearch(search),
      ownLine(ownLine)
{
    // Every exchange on the line: a click, a typed frame, another script.
    connect(stack, &BusinessLogic::CommandStack::sendAnswer, this, [this](const Answer& answer) {
        const bool taken =
            answer.acknowledged || answer.outcome == Answer::Outcome::SilentByRequest;
        if (taken && answer.address == address()
            && ::Protocol::Framing::commandBody(answer.sentFrame) == "KY0")
            ++stops;
    });
}

BusinessLogic::Reply* PumpLink::submit(const BusinessLogic::CommandTraits& traits, qint32 parameter,
                                       QObject* context)
{
    BusinessLogic::CommandStack::Request request;
    request.command = table->at(std::size_t(traits.spezifier));
    request.parameter = parameter;
    request.logFlag = isUserCommand(traits);
    request.origin = originOf(traits);
    request.address = target;
    return stack->submit(request, context);
}

void PumpLink::askWhetherSilentByRequest(QObject* context, ReplyHandler done)
{
    BusinessLogic::Reply* ask = submit(Table::getProtocolAnswer, 0, context);
    connect(ask, &BusinessLogic::Reply::finished, context, [=] {
        ask->deleteLater();
        const Reply told = judgeReply(ask->answer(), Table::getProtocolAnswer);
        if (told.outcome != Reply::Outcome::Answered || told.data != "0")
            return done(Reply{});
        // The pump keeps what it was told; the link hears it and waits for no acknowledgement.
        BusinessLogic::Reply* expectNone = submit(Table::setProtocolAnswer, 0, context);
        connect(expectNone, &BusinessLogic::Reply::finished, context, [expectNone, done] {
            expectNone->deleteLater();
            done({Reply::Outcome::Answered, {}});
        });
    });
}

quint64 PumpLink::exchange(const Exchange& exchange, QObject* context, ReplyHandler done)
{
    BusinessLogic::CommandStack::Request request;
    request.command = table->at(std::size_t(exchange.traits->spezifier));
    request.text = exchange.text;
    request.hasText = exchange.hasText;
    // Readings go unlogged and without a verdict, as the refresh cycle's do: a wait polls
    // several times a second and would bury the user's own commands in the messages panel.
    // What a script sets or runs counts as the user's command, the run keys as urgently as a
    // click on them.
    request.parameter = exchange.parameter;
    request.logFlag = exchange.hasText || isUserCommand(*exchange.traits);
    request.origin = exchange.hasText ? Origin::User : originOf(*exchange.traits);
    request.address = target;
    BusinessLogic::Reply* reply = stack->submit(request, context);
    const BusinessLogic::CommandTraits& traits = *exchange.traits;
    const bool mayAsk = ownLine && isUserCommand(traits) && communication->protocolAnswer
                        && traits.spezifier != Table::setProtocolAnswer.spezifier;
    connect(reply, &BusinessLogic::Reply::finished, context,
            [this, reply, &traits, mayAsk, context, done = std::move(done)] {
                reply->deleteLater();
                if (mayAsk && reply->outcome() == Answer::Outcome::Silent)
                    return askWhetherSilentByRequest(context, done);
                done(judgeReply(reply->answer(), traits));
            });
    return reply->request();
}

void PumpLink::withdraw(quint64 request)
{
    stack->withdraw({request});
}

int PumpLink::address() const
{
    return target.value_or(communication->address);
}

} // namespace Control
