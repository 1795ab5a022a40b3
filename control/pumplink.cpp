#include "pumplink.h"

#include "commandstack.h"
#include "communication.h"
#include "framing.h"

#include <QTimer>

namespace Control {

namespace {

// The pump was told to send no acknowledgements and the frame went out on an open line: the
// silence is by request, as the command stack judges it, not a failure.
bool silentByRequest(const Communication& line)
{
    return !line.protocolAnswer && line.open && line.noAnswer;
}

// Delivers a reply from the event loop, so that no handler runs inside a command's execution.
void deliver(QObject* context, ReplyHandler done, const Reply& reply)
{
    if (context)
        QTimer::singleShot(0, context, [done = std::move(done), reply] { done(reply); });
}

// Stands in for a table command on the stack: runs it and reports how the pump answered it.
// It answers to the same number as the command, so the panel logs and shows it as its own.
class Relay : public BusinessLogic::Command
{
  public:
    Relay(BusinessLogic::Command* target, const BusinessLogic::CommandTraits& traits,
          QObject* context, ReplyHandler done)
        : Command(target->link()), target(target), traits(traits), context(context),
          done(std::move(done))
    {}

    QByteArray getAnswer() override { return target->getAnswer(); }
    BusinessLogic::CommandSpezifier getCommandSpezifier() override
    {
        return target->getCommandSpezifier();
    }
    void setParameter(int value) override { target->setParameter(value); }
    void setTextParameter(QByteArray text) override { target->setTextParameter(text); }

    void execute() override
    {
        target->execute();
        deliver(context, std::move(done), judgeReply(*target, traits));
        // The stack still reads this object while it logs the exchange.
        deleteLater();
    }

  private:
    BusinessLogic::Command* target;
    const BusinessLogic::CommandTraits& traits;
    QPointer<QObject> context;
    ReplyHandler done;
};

} // namespace

Reply judgeReply(BusinessLogic::Command& command, const BusinessLogic::CommandTraits& traits)
{
    const Communication& link = *command.link();
    // The link options send nothing and cannot fail.
    if (traits.body[0] == '\0' &&
        traits.spezifier != BusinessLogic::CommandTable::setDiscreteCommand.spezifier)
        return {Reply::Outcome::Answered, {}};
    if (link.nakReceived)
        return {Reply::Outcome::Refused, {}};
    if (link.ackReceived)
        return {Reply::Outcome::Answered, QByteArrayLiteral("ACK")};
    if (traits.wait == BusinessLogic::Wait::Acknowledge && silentByRequest(link))
        return {Reply::Outcome::Answered, {}};
    const bool frame = traits.wait == BusinessLogic::Wait::Frame && link.answerRecognised &&
                       !link.noAnswer && link.lastRawAnswer.contains(Protocol::STX);
    return frame ? Reply{Reply::Outcome::Answered, command.getAnswer()} : Reply{};
}

PumpLink::~PumpLink() = default;

void PumpLink::noteExchange(const Communication& line)
{
    noteTaken(line.lastSentFrame, line.ackReceived || silentByRequest(line));
}

void PumpLink::noteTaken(const QByteArray& frame, bool taken)
{
    if (taken && Protocol::Framing::commandBody(frame) == "KY0")
        ++stops;
}

DirectLink::DirectLink(Communication* communication, std::vector<BusinessLogic::Command*> table)
    : communication(communication), table(std::move(table))
{}

void DirectLink::exchange(const Exchange& exchange, QObject* context, ReplyHandler done)
{
    BusinessLogic::Command* command = table.at(std::size_t(exchange.traits->spezifier));
    if (exchange.hasText)
        command->setTextParameter(exchange.text);
    else
        command->setParameter(exchange.parameter);
    command->execute();
    const QByteArray sent = communication->lastSentFrame;
    Reply reply = judgeReply(*command, *exchange.traits);
    if (reply.outcome == Reply::Outcome::Silent && mayBeSilentByRequest(*exchange.traits) &&
        pumpSendsNoAcknowledgements())
        reply = {Reply::Outcome::Answered, {}};
    noteTaken(sent, reply.outcome == Reply::Outcome::Answered);
    deliver(context, std::move(done), reply);
}

bool DirectLink::mayBeSilentByRequest(const BusinessLogic::CommandTraits& traits) const
{
    // Telling the pump how to answer is no question of what it was told before; the search
    // sends it to every address, most of them empty.
    return traits.wait == BusinessLogic::Wait::Acknowledge && communication->protocolAnswer &&
           communication->open &&
           traits.spezifier != BusinessLogic::CommandTable::setProtocolAnswer.spezifier;
}

bool DirectLink::pumpSendsNoAcknowledgements()
{
    const BusinessLogic::CommandTraits& traits = BusinessLogic::CommandTable::getProtocolAnswer;
    BusinessLogic::Command* ask = table.at(std::size_t(traits.spezifier));
    ask->execute();
    if (judgeReply(*ask, traits).outcome != Reply::Outcome::Answered || ask->getAnswer() != "0")
        return false;
    // From now on the link expects none, as the panel's does with "Protocol Answer" unticked.
    communication->protocolAnswer = false;
    return true;
}

int DirectLink::address() const
{
    return communication->address;
}

StackLink::StackLink(BusinessLogic::CommandStack* stack,
                     std::vector<BusinessLogic::Command*>* table, Communication* communication,
                     QObject* parent)
    : QObject(parent), stack(stack), table(table), communication(communication)
{
    // Every exchange of the panel's stack: a click, a typed frame, another script.
    connect(
        stack, &BusinessLogic::CommandStack::sendAnswer, this,
        [this](const Answer&) { noteExchange(*this->communication); }, Qt::DirectConnection);
}

namespace {

bool isUserCommand(const BusinessLogic::CommandTraits& traits)
{
    return traits.wait == BusinessLogic::Wait::Acknowledge;
}

BusinessLogic::CommandStack::Origin originOf(const BusinessLogic::CommandTraits& traits)
{
    namespace Table = BusinessLogic::CommandTable;
    using Origin = BusinessLogic::CommandStack::Origin;
    if (!isUserCommand(traits))
        return Origin::Polled;
    const bool runKey = traits.spezifier == Table::start.spezifier
                        || traits.spezifier == Table::stop.spezifier
                        || traits.spezifier == Table::pause.spezifier;
    return runKey ? Origin::UrgentUser : Origin::User;
}

} // namespace

void StackLink::exchange(const Exchange& exchange, QObject* context, ReplyHandler done)
{
    BusinessLogic::Command* target = table->at(std::size_t(exchange.traits->spezifier));
    if (!target) {
        deliver(context, std::move(done), Reply{});
        return;
    }
    // Owned here until it has run; one the stack dropped unrun goes with this object.
    auto* relay = new Relay(target, *exchange.traits, context, std::move(done));
    relay->setParent(this);
    if (exchange.hasText)
        stack->addCommand(relay, exchange.text);
    else
        // Readings go unlogged and without a verdict, as the refresh cycle's do: a wait polls
        // several times a second and would bury the user's own commands in the messages panel.
        // What a script sets or runs counts as the user's command, the run keys as urgently as
        // a click on them.
        stack->addCommand(relay, exchange.parameter, isUserCommand(*exchange.traits),
                          originOf(*exchange.traits));
}

int StackLink::address() const
{
    return communication->address;
}

} // namespace Control
