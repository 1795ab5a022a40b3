#include "runend.h"

namespace Engine {

namespace {

constexpr int VolumeMode = 1;
constexpr int TimeMode = 2;
// A dose counts as whole when it lacks no more than the pump's resolution, a thousandth.
constexpr qint32 Resolution = 1;

} // namespace

RunEnd judgeRunEnd(const RunEndFacts& facts)
{
    if (facts.errorBits & ErrorBits)
        return RunEnd::PumpError;
    if (holds(StatusFlag::MasterStopActive, facts.dispenseWord))
        return RunEnd::MasterStop;
    if (facts.mode == VolumeMode && facts.delivered >= facts.targetVolume - Resolution)
        return RunEnd::TargetReached;
    if (facts.timeLimit > 0 && facts.elapsed >= facts.timeLimit)
        return facts.mode == TimeMode ? RunEnd::TargetReached : RunEnd::TimeLimit;
    if (facts.stopAsked)
        return RunEnd::StoppedByUser;
    if (holds(StatusFlag::Input1Active, facts.inputWord)
        || holds(StatusFlag::Input2Active, facts.inputWord))
        return RunEnd::DigitalInput;
    return RunEnd::StoppedAtPump;
}

QString runEndText(RunEnd end)
{
    switch (end) {
    case RunEnd::TargetReached:
        return QStringLiteral("target reached");
    case RunEnd::StoppedByUser:
        return QStringLiteral("stopped from the panel or a script");
    case RunEnd::StoppedAtPump:
        return QStringLiteral("stopped at the pump");
    case RunEnd::MasterStop:
        return QStringLiteral("stopped at the pump: master stop");
    case RunEnd::DigitalInput:
        return QStringLiteral("stopped at the pump: digital input");
    case RunEnd::PumpError:
        return QStringLiteral("pump error");
    case RunEnd::TimeLimit:
        return QStringLiteral("time limit");
    case RunEnd::LineLost:
        break;
    }
    return QStringLiteral("line lost");
}

} // namespace Engine
