#pragma once

#include "protocol.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <functional>

namespace Control {

class PumpLink;
class PumpSession;

// Runs a checked protocol step by step on a pump link without blocking the event loop: the
// window's face of what `dosedeskctl run` does. A step the pump refuses ends the protocol and
// stops a pump it started; a step left unanswered (a lost line, a silent pump) holds it at that
// step until the person says to go on or to abort. Every step goes into the record.
class ProtocolRunner : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Running, Asking, Held, Stopping, Done, Failed, Aborted };

    explicit ProtocolRunner(PumpLink* link, QObject* parent = nullptr);
    ~ProtocolRunner() override;

    // A pump whose clock runs this many times as fast: waits in seconds are shortened to match.
    void setSpeed(double times) { speed = times; }
    // Where each step's start and end is written (the run record); a line of text each.
    void setRecord(std::function<void(const QString&)> write) { record = std::move(write); }

    void start(const Protocol& protocol);
    // What the person says to a question or a hold: run the held step again from its start, go
    // on with the next step (after a question: go on), or abort.
    enum class Answer { Repeat, Next, Abort };
    void answer(Answer choice);
    // Holds the protocol at its step: what the step runs is left, a pump it started is paused.
    void hold();
    // Ends the protocol where it stands and stops every pump it set going.
    void abort();

    State state() const { return now; }
    bool isActive() const;
    // The step running, held or asking now (0-based); -1 before the first.
    int currentStep() const { return stepIndex; }
    // What the steps not yet done are expected to take, with the running one's rest.
    double secondsLeft() const;
    // Where the protocol stands, in words: "step 3 of 9 (line 8: dose 5 ml at 20 ml/min)".
    QString where() const;

signals:
    void stepStarted(int index);
    // A step's text asks the person ("ask"); answer() goes on.
    void asking(const QString& question);
    // Held at the step: by hold(), or because nothing came back from the pump (silent); then
    // answer() once the pump answers again.
    void held(int index, const QString& why, bool silent);
    void finished(Control::ProtocolRunner::State how, const QString& text);

private:
    int steps() const;
    void runStep();
    void runRequest();
    void requestDone(const QJsonObject& result);
    void stepDone();
    void fail(const QString& why, State how);
    void stopped(const QJsonObject& result, const QString& why, State how);
    void end(State how, const QString& text);
    void send(const QJsonObject& request, std::function<void(const QJsonObject&)> then);
    void write(const QString& line);
    // What the running request still sends is taken back; its result never comes.
    void dropSession();

    PumpLink* link;
    QPointer<PumpSession> session;
    Protocol protocol;
    std::function<void(const QString&)> record;
    double speed = 1.0;
    State now = State::Idle;
    int stepIndex = -1;
    int requestIndex = 0;
    bool started = false;
    QElapsedTimer stepClock;
};

} // namespace Control
