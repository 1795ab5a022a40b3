#pragma once

#include "readings.h"

#include <QString>
#include <QtGlobal>

namespace Engine {

// What the pump told about a run once its motor stands, in its own units: thousandths of a
// millilitre, hundredths of a second, status words as read.
struct RunEndFacts
{
    int mode = 0; // 0 flow rate, 1 volume, 2 time
    qint32 delivered = 0;
    qint32 targetVolume = 0;
    qint32 elapsed = 0;
    qint32 timeLimit = 0; // 0: none
    qint32 inputWord = 0;
    qint32 dispenseWord = MasterStopClearBit;
    qint32 errorBits = 0;
    bool stopAsked = false; // the panel or a script sent a stop during the run
};

// How a run ended. The run record and dosedeskctl say it in the same words.
enum class RunEnd {
    TargetReached,
    StoppedByUser,
    StoppedAtPump,
    MasterStop,
    DigitalInput,
    PumpError,
    TimeLimit,
    LineLost
};

RunEnd judgeRunEnd(const RunEndFacts& facts);
// "target reached", "stopped at the pump: master stop", ...
QString runEndText(RunEnd end);

} // namespace Engine
