#include "rfc2217transport.h"

#include <libtelnet.h>

#include <array>

namespace {

// Binary both ways, so that no byte of a frame is taken for line-end translation; the COM port
// option from our side only. Everything else the server offers is refused.
const std::array<telnet_telopt_t, 3> Options{{
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {Rfc2217Transport::ComPortOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
}};

} // namespace

Rfc2217Transport::Rfc2217Transport(const QString& name) : TcpTransport(name) {}

Rfc2217Transport::~Rfc2217Transport()
{
    reset();
}

void Rfc2217Transport::reset()
{
    if (telnet)
        telnet_free(telnet);
    telnet = nullptr;
    settingsSent = false;
}

void Rfc2217Transport::onConnected()
{
    reset();
    telnet = telnet_init(Options.data(), &Rfc2217Transport::onEvent, 0, this);
    if (!telnet) {
        fail(QStringLiteral("no memory for the telnet session"));
        return;
    }
    setState(QStringLiteral("agreeing on the line settings"));
    telnet_negotiate(telnet, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet, TELNET_WILL, ComPortOption);
}

void Rfc2217Transport::decode(const QByteArray& received)
{
    if (telnet)
        telnet_recv(telnet, received.constData(), size_t(received.size()));
}

qint64 Rfc2217Transport::encode(const QByteArray& data)
{
    if (!telnet)
        return -1;
    telnet_send(telnet, data.constData(), size_t(data.size()));
    return data.size();
}

void Rfc2217Transport::onEvent(telnet_t*, telnet_event_t* event, void* self)
{
    static_cast<Rfc2217Transport*>(self)->handle(*event);
}

void Rfc2217Transport::handle(const telnet_event_t& event)
{
    switch (event.type) {
    case TELNET_EV_DATA:
        inbox.append(event.data.buffer, qsizetype(event.data.size));
        break;
    case TELNET_EV_SEND:
        sendRaw(QByteArray(event.data.buffer, qsizetype(event.data.size)));
        break;
    case TELNET_EV_DO:
        if (event.neg.telopt == ComPortOption)
            sendSettings();
        break;
    case TELNET_EV_DONT:
        if (event.neg.telopt == ComPortOption)
            fail(QStringLiteral("the server offers no line settings"));
        break;
    case TELNET_EV_SUBNEGOTIATION:
        // The confirmation of the last setting sent means all of them were taken.
        if (event.sub.telopt == ComPortOption && event.sub.size > 0
            && quint8(event.sub.buffer[0]) == ServerOffset + SetControl && settingsSent)
            setReady();
        break;
    case TELNET_EV_ERROR:
        fail(QStringLiteral("telnet fault (%1)").arg(QString::fromUtf8(event.error.msg)));
        break;
    default:
        // Warnings about malformed options the server sent, and options refused: nothing that
        // touches the byte stream.
        break;
    }
}

void Rfc2217Transport::sendSettings()
{
    if (settingsSent)
        return;
    settingsSent = true;
    const auto send = [this](std::initializer_list<char> value) {
        telnet_subnegotiation(telnet, ComPortOption, std::data(value), value.size());
    };
    send({char(SetBaudRate), char(BaudRate >> 24), char((BaudRate >> 16) & 0xFF),
          char((BaudRate >> 8) & 0xFF), char(BaudRate & 0xFF)});
    send({char(SetDataSize), char(DataBits)});
    send({char(SetParity), char(ParityNone)});
    send({char(SetStopSize), char(OneStopBit)});
    send({char(SetControl), char(NoFlowControl)});
}
