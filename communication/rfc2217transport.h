#pragma once

#include "tcptransport.h"

struct telnet_t;
union telnet_event_t;

// A serial device behind a network serial server speaking telnet with the COM port option
// ("rfc2217://HOST:PORT"): the line is set to 9600 baud 8N1 without flow control from here, and
// the byte 0xFF is escaped in both directions. The line counts as open once the server has
// confirmed the settings.
class Rfc2217Transport : public TcpTransport
{
    Q_OBJECT

public:
    static constexpr unsigned char ComPortOption = 44;
    // Client-to-server commands of the COM port option; the server answers each with 100 added.
    enum Command : unsigned char {
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        ServerOffset = 100,
    };
    static constexpr quint32 BaudRate = 9600;
    static constexpr unsigned char DataBits = 8;
    static constexpr unsigned char ParityNone = 1;
    static constexpr unsigned char OneStopBit = 1;
    static constexpr unsigned char NoFlowControl = 1;

    explicit Rfc2217Transport(const QString& name);
    ~Rfc2217Transport() override;

protected:
    void onConnected() override;
    void decode(const QByteArray& received) override;
    qint64 encode(const QByteArray& data) override;

private:
    static void onEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void handle(const telnet_event_t& event);
    void sendSettings();
    void reset();

    telnet_t* telnet = nullptr;
    bool settingsSent = false;
};
