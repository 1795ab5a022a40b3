#pragma once

#include "command.h"
#include "commandtable.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class Communication;

namespace BusinessLogic {
class CommandStack;
}

namespace Control {

// One command to run: its table row and what it is given.
struct Exchange
{
    const BusinessLogic::CommandTraits* traits = nullptr;
    qint32 parameter = 0;
    QByteArray text;
    bool hasText = false;
};

// How the pump answered one exchange.
struct Reply
{
    enum class Outcome { Answered, Refused, Silent };
    Outcome outcome = Outcome::Silent;
    QByteArray data; // the answer's data text; "ACK" for an acknowledge of a raw frame
};

using ReplyHandler = std::function<void(const Reply&)>;

// Reads the link's flags right after a command ran on it. A command the pump would acknowledge
// counts as answered when the link expects no acknowledgements (silent by request).
Reply judgeReply(BusinessLogic::Command& command, const BusinessLogic::CommandTraits& traits);

// The way to the pump: runs one exchange and reports the reply later, never from inside the
// call, and only while the context object lives.
class PumpLink
{
  public:
    virtual ~PumpLink();
    virtual void exchange(const Exchange& exchange, QObject* context, ReplyHandler done) = 0;
    // The address the frames go to now.
    virtual int address() const = 0;
    // Whether a found address may stay set on the link (it may not where a window shows it).
    virtual bool keepsFoundAddress() const = 0;
    // Stops the pump acknowledged on this line so far, whoever sent them.
    int stopsAcknowledged() const { return stops; }

  protected:
    // Counts a stop when the exchange just run on the line was one the pump took: acknowledged,
    // or sent while the pump was told to send no acknowledgements.
    void noteExchange(const Communication& line);
    void noteTaken(const QByteArray& frame, bool taken);

  private:
    int stops = 0;
};

// Runs the commands on a link of its own, one after the other, at once.
class DirectLink : public PumpLink
{
  public:
    DirectLink(Communication* communication, std::vector<BusinessLogic::Command*> table);

    void exchange(const Exchange& exchange, QObject* context, ReplyHandler done) override;
    int address() const override;
    bool keepsFoundAddress() const override { return true; }

  private:
    // A command the pump would acknowledge, sent on an open line that expects acknowledgements.
    bool mayBeSilentByRequest(const BusinessLogic::CommandTraits& traits) const;
    // Asks the pump, after an acknowledgement that did not come, whether it was told to send
    // none (from a panel, or at the pump); it still answers readings. When it was, the link
    // expects none from then on.
    bool pumpSendsNoAcknowledgements();

    Communication* communication;
    std::vector<BusinessLogic::Command*> table;
};

// Queues the commands on the panel's command stack beside the user's clicks, so that they are
// logged and judged like them.
class StackLink : public QObject, public PumpLink
{
    Q_OBJECT

  public:
    StackLink(BusinessLogic::CommandStack* stack, std::vector<BusinessLogic::Command*>* table,
              Communication* communication, QObject* parent = nullptr);

    void exchange(const Exchange& exchange, QObject* context, ReplyHandler done) override;
    int address() const override;
    bool keepsFoundAddress() const override { return false; }

  private:
    BusinessLogic::CommandStack* stack;
    std::vector<BusinessLogic::Command*>* table;
    Communication* communication;
};

} // namespace Control
