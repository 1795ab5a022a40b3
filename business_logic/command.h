#pragma once

#include "invalidreason.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <utility>

class Communication;

namespace BusinessLogic {

// Number of a command class; indexes the command table and travels in every Answer.
using CommandSpezifier = qint32;

// The base class answers this number, which lies outside the 65-entry command table.
constexpr CommandSpezifier BaseCommandSpezifier = 65;
constexpr int CommandTableSize = 65;

// One pump instruction; concrete commands build their frame and judge the pump's answer.
class Command : public QObject
{
    Q_OBJECT

public:
    explicit Command(Communication* communication);
    ~Command() override;

    virtual QByteArray getAnswer();
    virtual QByteArray getRawAnswer();
    virtual QByteArray getSentFrame();
    virtual CommandSpezifier getCommandSpezifier();
    virtual void execute();
    virtual void setParameter(int value);
    virtual void setTextParameter(QByteArray text);

    // The link this command talks through; the logging stack reads the last exchange's flags.
    Communication* link() const { return communication; }

protected:
    Communication* communication;
};

// Registers the protocol types under the names the queued signals use.
void registerMetaTypes();

} // namespace BusinessLogic

// Result of one command, as the command stack reports it. It carries everything the exchange
// told, so that nobody has to read the link afterwards (the link may have moved on to the next
// exchange by the time the result is read).
struct Answer
{
    // What became of the request.
    enum class Outcome {
        Answered,        // acknowledged, or an answer frame whose check byte holds
        Refused,         // NAK
        Silent,          // no answer, or one that could not be read
        SilentByRequest, // sent; the pump was told to acknowledge nothing
        LineLost,        // the line was closed or went away: nothing was exchanged
        Local,           // an option of the link: nothing is sent
        Dropped          // the queue was cleared before its turn came
    };

    Answer() = default;
    Answer(BusinessLogic::CommandSpezifier spezifier, QByteArray data, bool fromPump = true)
        : spezifier(spezifier), data(std::move(data)), fromPump(fromPump)
    {}

    BusinessLogic::CommandSpezifier spezifier = BusinessLogic::BaseCommandSpezifier;
    QByteArray data;
    // False when data only stands in for an answer the pump did not give (silent, refused,
    // garbled): a reading must then keep what it showed.
    bool fromPump = true;
    Outcome outcome = Outcome::Answered;
    // Number of the request in its command stack, in the order they were queued.
    quint64 request = 0;
    bool acknowledged = false;
    // Anything came back, readable or not.
    bool heard = false;
    // The answer was the address alone: the pump at this address named itself.
    bool named = false;
    qint32 address = 0;
    // The frame went to another pump than the link's own (a search's probe, a reading of another
    // pump on the bus): whoever follows the link's own pump leaves it alone.
    bool aside = false;
    QByteArray sentFrame;
    QByteArray rawAnswer;

    // Words for an outcome that is no success, for a script or a log.
    static QString describe(Outcome outcome);
};

Q_DECLARE_METATYPE(Answer)
