#include "answershaper.h"

#include "framing.h"
#include "pumpengine.h"

#include <algorithm>

namespace Simulator {

namespace {

constexpr quint8 wrongCheckByteMask = 0x55;

} // namespace

AnswerShaper::AnswerShaper(quint32 seed)
    : random(seed)
{
}

QList<Segment> AnswerShaper::shape(const QByteArray& body, const Reply& reply,
                                   const Faults& faults, int garbageCount)
{
    const bool ignored = !faults.ignoredCode.isEmpty() && body.startsWith(faults.ignoredCode);
    if (faults.silent || ignored || reply.kind == Reply::Kind::None)
        return {};

    Reply sent = reply;
    if (faults.zeroCheckByte && isPlainNumberAnswer(body, reply.data))
        sent.data = zeroCheckSpelling(reply.data);
    QByteArray bytes = PumpEngine::encode(sent);
    const bool frame = sent.kind == Reply::Kind::Data;
    if (frame && faults.badCheckByte)
        bytes.back() = char(quint8(bytes.back()) ^ wrongCheckByteMask);
    if (frame && faults.cutAtEtx)
        bytes.chop(1);
    bytes = corrupt(bytes, faults.corruptFraction);

    QByteArray late;
    if (frame && !faults.cutAtEtx && faults.lateCheckByteMs > 0) {
        late = bytes.right(1);
        bytes.chop(1);
    }

    QList<Segment> segments;
    if (garbageCount > 0)
        segments.append({0, garbage(garbageCount)});
    const int chunk = faults.chunkSize > 0 ? faults.chunkSize : int(bytes.size());
    for (int at = 0; at < bytes.size(); at += chunk)
        segments.append({at == 0 ? 0 : faults.chunkGapMs, bytes.mid(at, chunk)});
    if (!late.isEmpty())
        segments.append({faults.lateCheckByteMs, late});
    return segments;
}

QByteArray AnswerShaper::corrupt(QByteArray bytes, double fraction)
{
    if (fraction <= 0.0)
        return bytes;
    // Flips of the same bit in an even number of bytes cancel in the XOR check byte, and the
    // damaged answer would pass as sound. Noise the panel cannot see tests nothing of it, so the
    // last flip is taken back when the flips cancel; the rest stays as drawn from the seed.
    quint8 parity = 0;
    char* lastByte = nullptr;
    quint8 lastBit = 0;
    for (char& byte : bytes) {
        if (random.generateDouble() < fraction) {
            lastBit = quint8(1u << random.bounded(8));
            byte = char(quint8(byte) ^ lastBit);
            parity ^= lastBit;
            lastByte = &byte;
        }
    }
    if (lastByte && parity == 0)
        *lastByte = char(quint8(*lastByte) ^ lastBit);
    return bytes;
}

QByteArray AnswerShaper::garbage(int count)
{
    static const char leading[] = {0x00, Protocol::STX, Protocol::ETX, Protocol::ACK,
                                   Protocol::NAK};
    QByteArray noise;
    for (int i = 0; i < count; ++i)
        noise += i < int(sizeof leading) ? leading[i] : char(random.bounded(256));
    return noise;
}

QByteArray AnswerShaper::zeroCheckSpelling(const QByteArray& digits)
{
    static const char blanks[] = {'\t', '\v', '\f', '\r'};
    QByteArray number = digits;
    // Digits all share the high bits 0x30, so only an even count of them can cancel out.
    if (number.size() % 2 != 0)
        number.prepend('0');
    for (int mask = 0; mask < (1 << int(sizeof blanks)); ++mask) {
        QByteArray candidate = number;
        for (int bit = 0; bit < int(sizeof blanks); ++bit) {
            if (mask & (1 << bit))
                candidate += blanks[bit];
        }
        if (Protocol::Framing::answer(candidate).back() == 0)
            return candidate;
    }
    return digits;
}

bool AnswerShaper::isPlainNumberAnswer(const QByteArray& body, const QByteArray& data)
{
    static const QByteArray fixedPositionCodes[] = {"?TT", "?DT", "?SV"};
    const bool fixed = body.startsWith("?SS")
                       || std::find(std::begin(fixedPositionCodes), std::end(fixedPositionCodes),
                                    body) != std::end(fixedPositionCodes);
    return body.startsWith('?') && !fixed && !data.isEmpty()
           && std::all_of(data.begin(), data.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace Simulator
