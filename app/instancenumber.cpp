#include "instancenumber.h"

#include "constants.h"
#include "platform.h"

namespace {

// More copies than anyone runs; reaching it means the names cannot be taken at all.
constexpr qint32 MostCopies = 1000;

} // namespace

QString instanceNumberProblem()
{
    const QString problem = Platform::namedObjectProblem();
    if (!problem.isEmpty() || instanceNumber() > 0)
        return problem;
    return QStringLiteral("no copy number below %1 is free").arg(MostCopies);
}

qint32 instanceNumber()
{
    static const qint32 number = [] {
        if (!Platform::namedObjectProblem().isEmpty())
            return 0;
        for (qint32 n = 1; n < MostCopies; ++n) {
            if (!Platform::createNamedObject(Constants::InstanceMutexPrefix + QString::number(n)))
                return n;
        }
        return 0;
    }();
    return number;
}

qint32 copyNumberOf(qint64 pid)
{
    // A copy holds every name up to its own, so the held names run from 1 without a gap.
    for (qint32 n = 1; n < MostCopies; ++n) {
        const std::optional<qint64> taker =
            Platform::namedObjectTaker(Constants::InstanceMutexPrefix + QString::number(n));
        if (!taker)
            return 0;
        if (*taker == pid)
            return n;
    }
    return 0;
}
