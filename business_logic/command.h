#pragma once

#include "invalidreason.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>

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

// Result of one command, as the command stack reports it.
struct Answer
{
    BusinessLogic::CommandSpezifier spezifier = BusinessLogic::BaseCommandSpezifier;
    QByteArray data;
    // False when data only stands in for an answer the pump did not give (silent, refused,
    // garbled): a reading must then keep what it showed.
    bool fromPump = true;
};

Q_DECLARE_METATYPE(Answer)
