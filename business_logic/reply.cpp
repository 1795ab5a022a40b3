#include "reply.h"

namespace BusinessLogic {

Reply::Reply(quint64 request, QObject* parent) : QObject(parent), serial(request) {}

Reply::~Reply() = default;

QString Reply::errorString() const
{
    using Outcome = Answer::Outcome;
    if (!done || result.outcome == Outcome::Answered || result.outcome == Outcome::SilentByRequest
        || result.outcome == Outcome::Local)
        return {};
    return Answer::describe(result.outcome);
}

void Reply::finish(const Answer& answer)
{
    if (done)
        return;
    result = answer;
    done = true;
    emit finished();
}

} // namespace BusinessLogic
