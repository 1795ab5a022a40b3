#include "instancenumber.h"

#include "constants.h"
#include "platform.h"

qint32 instanceNumber()
{
    static const qint32 number = [] {
        qint32 n = 1;
        while (Platform::createNamedObject(Constants::InstanceMutexPrefix + QString::number(n)))
            ++n;
        return n;
    }();
    return number;
}
