// Any bytes in the receive buffer: the judging must neither crash nor report what is not there.
#include "framing.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray buffer(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray address = size > 0 && (data[0] & 1) ? QByteArray("07") : QByteArray("00");
    const Protocol::Framing::Verdict verdict = Protocol::Framing::judge(buffer, address);

    const int kinds = int(verdict.ack) + int(verdict.nak) + int(verdict.nothing)
                      + int(verdict.frameLength > 0);
    if (kinds != 1)
        std::abort();
    if ((verdict.ack && buffer.at(0) != Protocol::ACK) || (verdict.nak && buffer.at(0) != Protocol::NAK))
        std::abort();
    if (verdict.frameLength > 0) {
        const qsizetype stx = buffer.indexOf(Protocol::STX);
        // The data always lies strictly inside the frame cut out of the buffer.
        if (verdict.frameLength < 2 || stx + qsizetype(verdict.frameLength) > buffer.size())
            std::abort();
        if (buffer.mid(stx + 1, verdict.data.size()) != verdict.data)
            std::abort();
        if (verdict.data.contains(Protocol::ETX))
            std::abort();
    } else if (!verdict.data.isEmpty() || verdict.recognised == verdict.nothing) {
        std::abort();
    }
    return 0;
}
