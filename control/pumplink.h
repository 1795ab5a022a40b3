#pragma once

#include "command.h"
#include "commandtable.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <optional>
#include <vector>

class Communication;

namespace BusinessLogic {
class CommandStack;
class Reply;
} // namespace BusinessLogic

namespace GUI {
class PumpSearch;
class RunRecorder;
} // namespace GUI

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
    enum class Outcome { Answered, Refused, Silent, Dropped };
    Outcome outcome = Outcome::Silent;
    QByteArray data; // the answer's data text; "ACK" for an acknowledge of a raw frame
};

using ReplyHandler = std::function<void(const Reply&)>;

// What a verb makes of the result of one exchange of the command in the table row.
Reply judgeReply(const Answer& answer, const BusinessLogic::CommandTraits& traits);

// The way to the pump: the command stack of a panel session (the panel's own, or one of the
// tool's for a line it opened itself). Exchanges are queued beside whatever else the stack runs,
// logged and judged like a click, and each reports its reply later, never from inside the call,
// and only while the context object lives.
class PumpLink : public QObject
{
    Q_OBJECT

public:
    // ownLine: the tool opened the line itself, rather than sharing the panel's. A found address
    // then stays set on the link (in the panel the window takes it over itself), and when an
    // acknowledgement does not come the pump is asked whether it was told to send none (the
    // panel's window says so with its "Protocol Answer" box).
    PumpLink(BusinessLogic::CommandStack* stack, std::vector<BusinessLogic::Command*>* table,
             Communication* communication, GUI::PumpSearch* search, bool ownLine,
             QObject* parent = nullptr);

    // Returns the request's number, for withdraw().
    quint64 exchange(const Exchange& exchange, QObject* context, ReplyHandler done);
    // Takes a request back that is still waiting for its turn; its handler is not called.
    void withdraw(quint64 request);
    // The address the frames go to now: the pump picked for this link, else the line's own.
    int address() const;
    // Sends to this pump of the bus rather than to the one the line is set to; the line keeps
    // its address for everyone else.
    void setTarget(std::optional<int> address) { target = address; }
    bool keepsFoundAddress() const { return ownLine; }
    GUI::PumpSearch& search() const { return *pumpSearch; }
    // The run record notes go to; none where no record is kept.
    GUI::RunRecorder* recorder() const { return runRecorder; }
    void setRecorder(GUI::RunRecorder* recorder) { runRecorder = recorder; }
    // Stops the pump acknowledged on this line so far, whoever sent them.
    int stopsAcknowledged() const { return stops; }

private:
    BusinessLogic::Reply* submit(const BusinessLogic::CommandTraits& traits, qint32 parameter,
                                 QObject* context);
    // After an acknowledgement that did not come: asks the pump (?SP) whether it sends none;
    // when it says so, the link expects none from then on and the command counts as taken.
    void askWhetherSilentByRequest(QObject* context, ReplyHandler done);

    BusinessLogic::CommandStack* stack;
    std::vector<BusinessLogic::Command*>* table;
    Communication* communication;
    GUI::PumpSearch* pumpSearch;
    bool ownLine;
    GUI::RunRecorder* runRecorder = nullptr;
    int stops = 0;
    std::optional<int> target;
};

} // namespace Control
