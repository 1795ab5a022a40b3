#include "pumpengine.h"

#include "framing.h"

namespace Simulator {

namespace {

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
    while (const auto frame = Protocol::Framing::takeCommand(pending))
        frames.append(judge(*frame, nowMs));
    return frames;
}

ReceivedFrame PumpEngine::judge(const QByteArray& frame, qint64 nowMs)
{
    ReceivedFrame received;
    received.frame = frame;
    if (Protocol::Framing::commandAddress(frame) != pump.address()) {
        received.outcome = ReceivedFrame::Outcome::OtherAddress;
        return received;
    }
    // The answer to each frame follows the protocol-answer setting in force when it arrived.
    const bool protocolAnswer = pump.protocolAnswer();
    const QByteArray body = Protocol::Framing::commandBody(frame);
    const bool refusedBody = !refusedCode.isEmpty() && body.startsWith(refusedCode);
    if (refuseAll || refusedBody) {
        received.outcome = ReceivedFrame::Outcome::Refused;
        received.reply = Reply::nak();
        return received;
    }
    if (Protocol::Framing::checkByte(frame) != 0) {
        received.outcome = ReceivedFrame::Outcome::BadCheckByte;
        received.reply = Reply::nak();
    } else {
        received.reply = pump.handle(body, nowMs);
    }
    if (!protocolAnswer && received.reply.kind != Reply::Kind::Data) {
        received.quietByProtocol = received.reply.kind != Reply::Kind::None;
        received.reply = Reply();
    }
    return received;
}

QByteArray PumpEngine::encode(const Reply& reply)
{
    switch (reply.kind) {
    case Reply::Kind::Ack:
        return QByteArray(1, Protocol::ACK);
    case Reply::Kind::Nak:
        return QByteArray(1, Protocol::NAK);
    case Reply::Kind::Data:
        return Protocol::Framing::answer(reply.data);
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
        case Protocol::STX:
            text += QLatin1String("<STX>");
            break;
        case Protocol::ETX:
            text += QLatin1String("<ETX>");
            break;
        case Protocol::ACK:
            text += QLatin1String("<ACK>");
            break;
        case Protocol::NAK:
            text += QLatin1String("<NAK>");
            break;
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
