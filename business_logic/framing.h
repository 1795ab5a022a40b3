#pragma once

#include <QByteArray>

#include <optional>

// Control characters of the pump protocol.
namespace Protocol {
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char UnusedLrc =
    'U'; // stands in for the check byte while the "unused LRC" test option is on
constexpr quint8 InvalidLrcMask = 0x55; // falsifies the check byte while "incorrect LRC" is on
constexpr int AddressWidth = 2;

// The layout of the bytes on the line, for both ends: the panel builds command frames and judges
// the answers, the simulated pump cuts the command frames and builds the answers. No I/O.
class Framing
{
public:
    enum class CheckByte { Valid, Falsified, Unused };

    // How the bytes received for one exchange read, as the panel sees them.
    struct Verdict
    {
        QByteArray data;
        bool recognised = false;
        bool ack = false;
        bool nak = false;
        bool nothing = false;     // nothing recognisable arrived
        bool addressOnly = false; // the bytes hold STX, the address, ETX
        quint32 frameLength = 0;  // length of the frame cut out; 0 when there was none
    };

    // Longitudinal redundancy check: the XOR of all bytes; 0 for none.
    static quint8 checkByte(const QByteArray& bytes);
    // Decimal text of the value, right-aligned in a field of at least `width` characters filled
    // with "0"; a minus sign stays after the fill ("0000-250") and a longer value is never cut.
    static QByteArray field(qint32 value, int width);
    static QByteArray address(qint32 address) { return field(address, AddressWidth); }

    // A command frame up to ETX: STX, address, body (code and value), ETX; the check byte follows
    // with sealed(), as the link's test options say.
    static QByteArray command(const QByteArray& addressText, const QByteArray& body);
    static QByteArray sealed(const QByteArray& text, CheckByte kind = CheckByte::Valid);
    // An answer frame: STX, data, ETX, check byte.
    static QByteArray answer(const QByteArray& data);

    // The panel's reading of the bytes received for one exchange.
    static Verdict judge(const QByteArray& buffer, const QByteArray& addressText);

    // The pump's cutting: takes the next whole command frame (printable text between STX and
    // ETX, then the check byte) off the front of the received bytes, dropping the noise before
    // it; nothing while the frame is not complete.
    static std::optional<QByteArray> takeCommand(QByteArray& pending);
    // The address a command frame carries; -1 when it carries none.
    static int commandAddress(const QByteArray& frame);
    // The body between the address and ETX.
    static QByteArray commandBody(const QByteArray& frame);
};
} // namespace Protocol
