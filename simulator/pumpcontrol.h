#pragma once

#include <QString>
#include <QStringList>

namespace Simulator {

class PtyPump;

// Text commands that steer a running simulated pump, one line each: read from the simulator's
// standard input, and used for its command-line options as well.
class PumpControl
{
public:
    struct Result
    {
        bool ok = true;
        QString message; // value asked for, or what went wrong
        bool quit = false;
    };

    explicit PumpControl(PtyPump& pump);

    Result apply(const QString& line);
    // The reply line for a result: "ok", "ok <value>" or "error <message>".
    static QString replyLine(const Result& result);
    // The command list, for --help.
    static QString help();

private:
    Result applyWords(const QStringList& words);

    PtyPump& pump;
};

} // namespace Simulator
