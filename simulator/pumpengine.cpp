#include "pumpengine.h"

namespace Simulator {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isPrintable(char c)
{
    return c >= 0x20 && c <= 0x7E;
}

} // namespace

PumpEngine::PumpEngine(int modelCode, int address)
    : pump(modelCode, address)
{
}

QList<ReceivedFrame> PumpEngine::receive(const QByteArray& bytes, qint64 nowMs)
{
    QList<ReceivedFrame> frames;
    pending += bytes;
    for (;;) {
        const int start = pending.indexOf(STX);
        if (start < 0) {
            pending.clear();
            break;
        }
        pending.remove(0, start);
        // A command frame is printable text between STX and ETX; anything else means this STX
        // was noise, so the search starts again after it.
        int end = 1;
        while (end < pending.size() && isPrintable(pending[end]))
            ++end;
        if (end == pending.size())
            break; // frame not complete yet
        if (pending[end] != ETX) {
            pending.remove(0, 1);
            continue;
        }
        if (end + 1 >= pending.size())
            break; // check byte still missing
        const QByteArray frame = pending.left(end + 2);
        pending.remove(0, end + 2);
        frames.append(judge(frame, nowMs));
    }
    return frames;
}

ReceivedFrame PumpEngine::judge(const QByteArray& frame, qint64 nowMs)
{
    ReceivedFrame received;
    received.frame = frame;
    const bool addressed = frame.size() >= 5 && isDigit(frame[1]) && isDigit(frame[2])
                           && frame.mid(1, 2).toInt() == pump.address();
    if (!addressed) {
        received.outcome = ReceivedFrame::Outcome::OtherAddress;
        return received;
    }
    // The answer to each frame follows the protocol-answer setting in force when it arrived.
    const bool protocolAnswer = pump.protocolAnswer();
    const bool refusedBody =
        !refusedCode.isEmpty() && frame.mid(3, frame.size() - 5).startsWith(refusedCode);
    if (refuseAll || refusedBody) {
        received.outcome = ReceivedFrame::Outcome::Refused;
        received.reply = Reply::nak();
        return received;
    }
    if (checkByte(frame) != 0) {
        received.outcome = ReceivedFrame::Outcome::BadCheckByte;
        received.reply = Reply::nak();
    } else {
        received.reply = pump.handle(frame.mid(3, frame.size() - 5), nowMs);
    }
    if (!protocolAnswer && received.reply.kind != Reply::Kind::Data) {
        received.quietByProtocol = received.reply.kind != Reply::Kind::None;
        received.reply = Reply();
    }
    return received;
}

quint8 PumpEngine::checkByte(const QByteArray& bytes)
{
    quint8 check = 0;
    for (const char byte : bytes)
        check ^= quint8(byte);
    return check;
}

QByteArray PumpEngine::encode(const Reply& reply)
{
    switch (reply.kind) {
    case Reply::Kind::Ack:
        return QByteArray(1, ACK);
    case Reply::Kind::Nak:
        return QByteArray(1, NAK);
    case Reply::Kind::Data: {
        QByteArray frame(1, STX);
        frame += reply.data;
        frame += ETX;
        frame += char(checkByte(frame));
        return frame;
    }
    case Reply::Kind::None:
        break;
    }
    return {};
}

QString PumpEngine::readable(const QByteArray& bytes)
{
    QString text;
    for (const char byte : bytes) {
        switch (byte) {
        case 0x00: text += QLatin1String("<NUL>"); break;
        case STX: text += QLatin1String("<STX>"); break;
        case ETX: text += QLatin1String("<ETX>"); break;
        case ACK: text += QLatin1String("<ACK>"); break;
        case NAK: text += QLatin1String("<NAK>"); break;
        default:
            if (isPrintable(byte) && byte != '<')
                text += QLatin1Char(byte);
            else
                text += QStringLiteral("<%1>").arg(quint8(byte), 2, 16, QLatin1Char('0'));
        }
    }
    return text;
}

} // namespace Simulator
