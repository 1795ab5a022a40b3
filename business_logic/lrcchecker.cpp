#include "lrcchecker.h"

namespace BusinessLogic {

quint8 LrcChecker::calculate(const QByteArray& text) const
{
    quint8 lrc = 0;
    for (const char byte : text)
        lrc ^= quint8(byte);
    return lrc;
}

} // namespace BusinessLogic
