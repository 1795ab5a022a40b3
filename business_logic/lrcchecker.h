#pragma once

#include <QByteArray>

namespace BusinessLogic {

// Longitudinal redundancy check of a frame: the XOR of all its bytes.
class LrcChecker
{
public:
    virtual ~LrcChecker() = default;

    // Check byte of the text; 0 for an empty text.
    quint8 calculate(const QByteArray& text) const;
};

} // namespace BusinessLogic
