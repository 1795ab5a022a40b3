#pragma once

#include "command.h"

#include <QObject>

namespace BusinessLogic {

// The result of one queued request, delivered in the thread the reply lives in once the command
// has run (or was dropped). Whoever asked owns it; a reply deleted before then gets nothing.
class Reply : public QObject
{
    Q_OBJECT

public:
    Reply(quint64 request, QObject* parent = nullptr);
    ~Reply() override;

    // The request's number in its command stack.
    quint64 request() const { return serial; }
    bool isFinished() const { return done; }
    Answer::Outcome outcome() const { return result.outcome; }
    // The whole result: the answer's data, the frames, the address it went to.
    const Answer& answer() const { return result; }
    // Empty when the pump answered (or was asked to answer nothing); why not otherwise.
    QString errorString() const;

    // Called by the command stack (in the reply's thread) with the result.
    void finish(const Answer& answer);

signals:
    void finished();

private:
    quint64 serial;
    Answer result;
    bool done = false;
};

} // namespace BusinessLogic
