#include "protocolrunner.h"

#include "pumpsession.h"
#include "request.h"

#include <algorithm>

namespace Control {

ProtocolRunner::ProtocolRunner(PumpLink* link, QObject* parent) : QObject(parent), link(link) {}

ProtocolRunner::~ProtocolRunner()
{
    if (session)
        session->abort();
}

void ProtocolRunner::dropSession()
{
    if (!session)
        return;
    session->abort();
    session->deleteLater();
}

void ProtocolRunner::start(const Protocol& checked)
{
    if (isActive() || !checked.isValid() || checked.steps.empty())
        return;
    protocol = checked;
    stepIndex = -1;
    started = false;
    now = State::Running;
    write(QStringLiteral("protocol \"%1\" begins: %2 steps").arg(protocol.name).arg(steps()));
    stepDone();
}

bool ProtocolRunner::isActive() const
{
    return now == State::Running || now == State::Asking || now == State::Held
           || now == State::Stopping;
}

int ProtocolRunner::steps() const
{
    return int(protocol.steps.size());
}

QString ProtocolRunner::where() const
{
    return stepPlace(protocol, stepIndex);
}

double ProtocolRunner::secondsLeft() const
{
    if (!isActive() || stepIndex < 0)
        return 0;
    double left = 0;
    for (int index = stepIndex + 1; index < steps(); ++index)
        left += protocol.steps[size_t(index)].seconds;
    const double running =
        protocol.steps[size_t(stepIndex)].seconds / speed - double(stepClock.elapsed()) / 1000.0;
    return left / speed + std::max(0.0, running);
}

void ProtocolRunner::answer(Answer choice)
{
    if (now != State::Asking && now != State::Held)
        return;
    if (choice == Answer::Abort)
        return abort();
    const bool wasHeld = now == State::Held;
    now = State::Running;
    if (!wasHeld)
        return runRequest();
    if (choice == Answer::Next) {
        write(QStringLiteral("%1 left after the hold").arg(where()));
        return stepDone();
    }
    // What the step had sent is not known to have arrived: it runs whole again.
    write(QStringLiteral("%1 repeated after the hold").arg(where()));
    runStep();
}

void ProtocolRunner::hold()
{
    if (now != State::Running)
        return;
    dropSession();
    now = State::Held;
    const QString why = QStringLiteral("held by the user");
    write(QStringLiteral("%1 held: %2").arg(where(), why));
    emit held(stepIndex, why, false);
    // Queued behind nothing of the protocol's: whatever the person answers goes after it.
    if (started)
        send({{QStringLiteral("verb"), QStringLiteral("pause")},
              {QStringLiteral("pump"), protocol.pump.value_or(0)}},
             [](const QJsonObject&) {});
}

void ProtocolRunner::abort()
{
    if (!isActive() || now == State::Stopping)
        return;
    dropSession();
    fail(QStringLiteral("aborted at %1").arg(where()), State::Aborted);
}

void ProtocolRunner::runStep()
{
    requestIndex = 0;
    stepClock.start();
    write(QStringLiteral("%1 begins").arg(where()));
    emit stepStarted(stepIndex);
    runRequest();
}

void ProtocolRunner::runRequest()
{
    const ProtocolStep& step = protocol.steps[size_t(stepIndex)];
    if (requestIndex >= int(step.requests.size())) {
        write(QStringLiteral("%1 done").arg(where()));
        return stepDone();
    }
    const QJsonObject& request = step.requests[size_t(requestIndex)];
    const QString verb = verbOf(request);
    const QString text = request.value(QStringLiteral("value")).toString();
    ++requestIndex;
    if (verb == QLatin1String("note")) {
        write(QStringLiteral("note: %1").arg(text));
        return runRequest();
    }
    if (verb == QLatin1String("ask")) {
        now = State::Asking;
        write(QStringLiteral("asks: %1").arg(text));
        // The answer comes later, through answer().
        emit asking(text);
        return;
    }
    QJsonObject forPump = fasterBy(request, speed);
    forPump.insert(QStringLiteral("pump"), protocol.pump.value_or(0));
    const bool moves = startsPump(request);
    send(forPump, [this, moves, verb](const QJsonObject& result) {
        // A verb refused before anything was sent started nothing.
        const bool sent = result.value(QStringLiteral("exit")).toInt() != UsageError;
        started = (started || (moves && sent)) && verb != QLatin1String("stop");
        requestDone(result);
    });
}

void ProtocolRunner::requestDone(const QJsonObject& result)
{
    if (now != State::Running)
        return;
    const QString error = result.value(QStringLiteral("error")).toString();
    if (result.value(QStringLiteral("ok")).toBool())
        return runRequest();
    if (result.value(QStringLiteral("silent")).toBool()) {
        now = State::Held;
        const QString why = QStringLiteral("%1: %2").arg(verbOf(result), error);
        write(QStringLiteral("%1 held: %2").arg(where(), why));
        emit held(stepIndex, why, true);
        return;
    }
    fail(QStringLiteral("%1 failed: %2: %3").arg(where(), verbOf(result), error), State::Failed);
}

void ProtocolRunner::stepDone()
{
    if (++stepIndex < steps())
        return runStep();
    end(State::Done,
        QStringLiteral("protocol \"%1\" done: %2 steps").arg(protocol.name).arg(steps()));
}

void ProtocolRunner::fail(const QString& why, State how)
{
    write(why);
    if (!started)
        return end(how, why);
    now = State::Stopping;
    send(stopRequest(protocol.pump.value_or(0)), [this, why, how](const QJsonObject& result) {
        if (!result.value(QStringLiteral("ok")).toBool())
            return stopped(result, why, how);
        send(standingRequest(protocol.pump.value_or(0)),
             [this, why, how](const QJsonObject& standing) { stopped(standing, why, how); });
    });
}

void ProtocolRunner::stopped(const QJsonObject& result, const QString& why, State how)
{
    const QString text = result.value(QStringLiteral("ok")).toBool()
                             ? QStringLiteral("%1; the pump it started is stopped").arg(why)
                             : QStringLiteral("%1; the pump it started may still run: %2")
                                   .arg(why, result.value(QStringLiteral("error")).toString());
    end(how, text);
}

void ProtocolRunner::end(State how, const QString& text)
{
    now = how;
    started = false;
    write(text);
    emit finished(how, text);
}

void ProtocolRunner::send(const QJsonObject& request, std::function<void(const QJsonObject&)> then)
{
    const Checked checked = checkRequest(request);
    if (!checked.request) {
        QJsonObject result{{QStringLiteral("verb"), verbOf(request)},
                           {QStringLiteral("ok"), false},
                           {QStringLiteral("error"), checked.error},
                           {QStringLiteral("exit"), int(UsageError)}};
        return then(result);
    }
    // One session per request, as the panel's socket runs them: none keeps state across.
    auto* running = new PumpSession(link, this);
    session = running;
    connect(running, &PumpSession::finished, this,
            [running, then = std::move(then)](const QJsonObject& result) {
                running->deleteLater();
                then(result);
            });
    running->run(*checked.request);
}

void ProtocolRunner::write(const QString& line)
{
    if (record)
        record(recordLine(line));
}

} // namespace Control
