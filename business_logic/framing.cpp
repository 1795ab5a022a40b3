#include "framing.h"

#include <algorithm>

namespace Protocol {

namespace {

constexpr int CommandOverhead = 1 + AddressWidth + 2; // STX, address, ETX, check byte

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isPrintable(char c)
{
    return c >= 0x20 && c <= 0x7E;
}

} // namespace

quint8 Framing::checkByte(const QByteArray& bytes)
{
    quint8 check = 0;
    for (const char byte : bytes)
        check ^= quint8(byte);
    return check;
}

QByteArray Framing::field(qint32 value, int width)
{
    QByteArray text = QByteArray::number(value);
    if (text.size() < width)
        text.prepend(QByteArray(width - text.size(), '0'));
    return text;
}

QByteArray Framing::command(const QByteArray& addressText, const QByteArray& body)
{
    QByteArray frame(1, STX);
    frame.append(addressText).append(body).append(ETX);
    return frame;
}

QByteArray Framing::answer(const QByteArray& data)
{
    QByteArray frame(1, STX);
    frame.append(data).append(ETX);
    return sealed(frame);
}

QByteArray Framing::sealed(const QByteArray& text, CheckByte kind)
{
    const quint8 check = checkByte(text);
    QByteArray frame = text;
    switch (kind) {
    case CheckByte::Falsified:
        return frame.append(char(check ^ InvalidLrcMask));
    case CheckByte::Unused:
        return frame.append(UnusedLrc);
    case CheckByte::Valid:
        break;
    }
    return frame.append(char(check));
}

Framing::Verdict Framing::judge(const QByteArray& buffer, const QByteArray& addressText)
{
    Verdict verdict;
    const qsizetype stx = buffer.indexOf(STX);
    const qsizetype etx = buffer.indexOf(ETX);
    if (stx < 0 || etx < 0 || etx < stx) {
        // ACK or NAK count only as the first byte received.
        if (buffer.startsWith(ACK)) {
            verdict.recognised = true;
            verdict.ack = true;
        } else if (buffer.startsWith(NAK)) {
            verdict.recognised = true;
            verdict.nak = true;
        } else {
            verdict.nothing = true;
        }
        return verdict;
    }
    const qsizetype length = std::min(buffer.size() - stx, etx - stx + 2);
    const QByteArray frame = buffer.mid(stx, length);
    verdict.frameLength = quint32(length);
    verdict.recognised = checkByte(frame) == 0;
    // Without STX and the last two bytes: a frame cut at ETX loses its last data byte.
    verdict.data = frame.mid(1, std::max<qsizetype>(0, length - 3));
    verdict.addressOnly = buffer.contains(command(addressText, QByteArray()));
    return verdict;
}

std::optional<QByteArray> Framing::takeCommand(QByteArray& pending)
{
    for (;;) {
        const qsizetype start = pending.indexOf(STX);
        if (start < 0) {
            pending.clear();
            return std::nullopt;
        }
        pending.remove(0, start);
        // A command frame is printable text between STX and ETX; anything else means this STX
        // was noise, so the search starts again after it.
        qsizetype end = 1;
        while (end < pending.size() && isPrintable(pending[end]))
            ++end;
        if (end == pending.size())
            return std::nullopt; // frame not complete yet
        if (pending[end] != ETX) {
            pending.remove(0, 1);
            continue;
        }
        if (end + 1 >= pending.size())
            return std::nullopt; // check byte still missing
        const QByteArray frame = pending.left(end + 2);
        pending.remove(0, end + 2);
        return frame;
    }
}

int Framing::commandAddress(const QByteArray& frame)
{
    const QByteArray digits = frame.mid(1, AddressWidth);
    const bool carried =
        frame.size() >= CommandOverhead && std::all_of(digits.begin(), digits.end(), isDigit);
    return carried ? digits.toInt() : -1;
}

QByteArray Framing::commandBody(const QByteArray& frame)
{
    return frame.mid(1 + AddressWidth, std::max<qsizetype>(0, frame.size() - CommandOverhead));
}

} // namespace Protocol
