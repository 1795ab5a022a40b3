#pragma once

#include "pumpvalues.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The verbs a script gives the pump, the same on the command line and on the panel's socket.
namespace Control {

// The operating modes by their numbers, as the verbs take and report them.
extern const QString ModeNames[3];
// A mode's name; the number itself for one the pump should not have.
QString modeName(qint32 mode);

// Exit statuses of dosedeskctl; an error answer on the socket carries one of them as "exit".
enum ExitStatus { Success = 0, PumpFailure = 1, UsageError = 2 };

// One verb with its arguments checked and turned into what the pump is sent.
struct Request
{
    QString verb;
    QString word;         // mode name, what to wait for, the code to read, the raw text to send
    double number = 0;    // ml, ml/min, seconds or a count, in the user's units
    qint32 parameter = 0; // the number as the pump takes it
    std::optional<qint32> flow;    // dose: flow rate as the pump takes it
    std::optional<double> timeout; // wait, dose: give up after this many seconds
    // calibrate: the target in number, the deliveries and the masses weighed (or the balance
    // that weighs them), the liquid's ml per gram weighed, and whether the new percentage is
    // to be written
    int deliveries = 0;
    std::vector<double> massesG;
    QString balance;
    qint32 balanceBaud = 0; // 0: the balance's usual rate
    double mlPerGram = 0;
    bool write = false;
    // The address of the pump the request is meant for; none: whichever the line goes to.
    std::optional<int> pump;
};

// A checked request, or the message of a usage error (it names the verb and what it accepts).
struct Checked
{
    std::optional<Request> request;
    QString error;
    QString problem; // the error without the verb's usage: what is wrong with the value
};

// The request objects of the verbs on a command line, in order; on a usage error the list is
// empty and error says why. Numbers stay text here: checkRequest judges them.
std::vector<QJsonObject> requestsFromArguments(const QStringList& words, QString* error);
// Checks one request object as read from the socket or built from the command line; values are
// judged by the limits of the pump model at hand (both models' when it is not known).
Checked checkRequest(const QJsonObject& object, Engine::Model model = Engine::Model::Unknown);
// Whether the word is one of the verbs.
bool isVerb(const QString& word);
// A request object from its JSON text; an empty one, with error saying why ("malformed
// request: ..."), when the text is no JSON object.
QJsonObject parseRequest(const QByteArray& text, QString* error);
// The result object of a request that failed: {"ok":false,"error","exit"}.
QJsonObject errorResult(const QString& error, ExitStatus status);
// The verbs, one per line with what they take and an example, for --help.
QString verbHelp();
// A result object as a script reads it without --json; empty for verbs that report nothing.
QString describe(const QJsonObject& result);

} // namespace Control
