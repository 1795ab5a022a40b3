#pragma once

#include "pumpmodel.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Simulator {

// How the pump dealt with one received frame.
struct ReceivedFrame
{
    enum class Outcome {
        Handled,        // addressed to this pump, check byte good, given to the model
        OtherAddress,   // meant for another pump: ignored silently
        BadCheckByte,   // addressed to this pump, check byte wrong
        Refused,        // refused without looking at it (fault: NAK everything)
    };

    QByteArray frame; // STX .. ETX and the check byte, as received
    Outcome outcome = Outcome::Handled;
    Reply reply;      // what goes back on the line (Kind::None: nothing)
    bool quietByProtocol = false; // an ACK/NAK held back because protocol answers are off
};

// The pump's line handling: cuts command frames out of the received byte stream, keeps to its own
// address, checks the check byte and lets the model answer.
class PumpEngine
{
public:
    explicit PumpEngine(int modelCode = 110, int address = 0);

    // Takes received bytes; returns every frame completed by them, in order.
    QList<ReceivedFrame> receive(const QByteArray& bytes, qint64 nowMs);
    // Forgets a partly received frame (the line was cut).
    void dropPartialFrame() { pending.clear(); }

    // Fault: refuse every frame addressed to this pump with NAK, leaving the model untouched.
    void setRefuseAll(bool on) { refuseAll = on; }
    // Fault: refuse the frames whose body starts with code (none when empty), model untouched.
    void setRefusedCode(const QByteArray& code) { refusedCode = code; }
    bool refusesAll() const { return refuseAll; }

    PumpModel& model() { return pump; }
    const PumpModel& model() const { return pump; }

    // The bytes a reply puts on the line: ACK, NAK, or STX data ETX check byte; empty for none.
    static QByteArray encode(const Reply& reply);
    // A frame for people to read: control bytes as <STX>, <ETX>, <ACK>, <NAK>, <NUL>, others <xx>.
    static QString readable(const QByteArray& bytes);

private:
    ReceivedFrame judge(const QByteArray& frame, qint64 nowMs);

    PumpModel pump;
    QByteArray pending;
    bool refuseAll = false;
    QByteArray refusedCode;
};

} // namespace Simulator
