#pragma once

#include "ptypump.h"

#include <QString>
#include <QStringList>

namespace Simulator {

// Text commands that steer a running simulated pump, one line each: read from the simulator's
// standard input, and used for its command-line options as well. They act on the first pump of
// the line, or with "pump N" in front on the pumps at address N.
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
    // The pumps of the command line: the values of --address and --model, paired by position (a
    // missing model is 110) into the first pump and the further ones of options. False when an
    // address is not 0 to 99, a model not 102 or 110, or there are more models than addresses.
    static bool choosePumps(const QStringList& addresses, const QStringList& models,
                            PtyPump::Options& options);

private:
    Result applyWords(const QStringList& words);
    // A command after "pump N": for the pumps at that address.
    Result applyToPump(int address, const QStringList& words);

    PtyPump& pump;
};

} // namespace Simulator
