#include "tcptransport.h"

#include <QMetaObject>

#include <algorithm>

#include <poll.h>

TcpTransport::Address TcpTransport::parse(const QString& name)
{
    Address address;
    const qsizetype schemeEnd = name.indexOf(QLatin1String("://"));
    const QString rest = schemeEnd < 0 ? QString() : name.mid(schemeEnd + 3);
    const qsizetype colon = rest.lastIndexOf(u':');
    address.host = rest.left(colon);
    if (address.host.startsWith(u'[') && address.host.endsWith(u']'))
        address.host = address.host.mid(1, address.host.size() - 2);
    bool isNumber = false;
    const uint port = rest.mid(colon + 1).toUInt(&isNumber);
    if (colon <= 0 || address.host.isEmpty())
        address.problem = QStringLiteral("give the address as HOST:PORT");
    else if (!isNumber || port < 1 || port > 65535)
        address.problem = QStringLiteral("the port number must be 1 to 65535");
    else
        address.port = quint16(port);
    return address;
}

// The members are children, so that they move with the transport to the link's thread.
TcpTransport::TcpTransport(const QString& name)
    : portName(name), address(parse(name)), socket(this), readyTimer(this), reconnectTimer(this)
{
    readyTimer.setSingleShot(true);
    reconnectTimer.setSingleShot(true);
    connect(&readyTimer, &QTimer::timeout, this, [this] {
        fail(socket.state() == QAbstractSocket::ConnectedState
                 ? QStringLiteral("connected, but the server does not take part")
                 : QStringLiteral("no answer from the host"));
    });
    connect(&reconnectTimer, &QTimer::timeout, this, &TcpTransport::connectNow);
    connect(&socket, &QTcpSocket::connected, this, &TcpTransport::onSocketConnected);
    connect(&socket, &QTcpSocket::readyRead, this, &TcpTransport::takeIncoming);
    connect(&socket, &QTcpSocket::errorOccurred, this, &TcpTransport::onSocketError);
    connect(&socket, &QTcpSocket::disconnected, this, [this] {
        if (wanted)
            fail(QStringLiteral("connection closed by the server"));
    });
}

TcpTransport::~TcpTransport()
{
    wanted = false;
    socket.abort();
}

bool TcpTransport::open()
{
    wanted = true;
    reconnectPauseMs = ReconnectFirstMs;
    failure = address.problem;
    if (!address.problem.isEmpty())
        return false;
    connectNow();
    return false;
}

void TcpTransport::close()
{
    wanted = false;
    ready = false;
    readyTimer.stop();
    reconnectTimer.stop();
    socket.abort();
}

void TcpTransport::connectNow()
{
    if (!wanted)
        return;
    fault = QStringLiteral("connecting");
    inbox.clear();
    readyTimer.start(ReadyTimeoutMs);
    socket.connectToHost(address.host, address.port);
}

void TcpTransport::onConnected()
{
    setReady();
}

void TcpTransport::onSocketConnected()
{
    // A frame is one small write that must leave at once, not wait for the last one's ACK.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    onConnected();
}

void TcpTransport::setReady()
{
    if (reconnectTimer.isActive()) // this connection failed already
        return;
    readyTimer.stop();
    // A server that lets go of the line before it ever answers is still described by that, and
    // the pause before the next try keeps growing until something comes through.
    fault = lastLoss.isEmpty() ? QStringLiteral("connected, nothing received yet") : lastLoss;
    failure.clear();
    ready = true;
    emit opened();
}

void TcpTransport::fail(const QString& reason)
{
    const bool wasReady = ready;
    ready = false;
    readyTimer.stop();
    // One failure often arrives twice (an error, then the disconnection): the first one counts.
    if (!wanted || reconnectTimer.isActive())
        return;
    failure = reason + QStringLiteral(", trying again");
    if (wasReady)
        lastLoss = reason;
    reconnectTimer.start(reconnectPauseMs);
    reconnectPauseMs = std::min(reconnectPauseMs * 2, ReconnectMaxMs);
    // Not from inside the socket's own signal or wait: once control is back in the event loop.
    QMetaObject::invokeMethod(&socket, &QTcpSocket::abort, Qt::QueuedConnection);
    if (wasReady)
        emit lost();
}

qint64 TcpTransport::write(const QByteArray& data)
{
    return ready ? encode(data) : -1;
}

bool TcpTransport::waitForBytesWritten(int timeoutMs)
{
    if (!ready)
        return false;
    return socket.bytesToWrite() == 0 || socket.waitForBytesWritten(timeoutMs);
}

// The socket's own wait ends early only when it may announce the bytes; while its announcement
// of earlier bytes is still being handled further up (an exchange that a handler started), it
// keeps them to itself until the time is over. So the wait is on the descriptor, and the socket
// is then asked, without waiting, to take in what came.
bool TcpTransport::waitForReadyRead(int timeoutMs)
{
    if (ready && inbox.isEmpty() && socket.bytesAvailable() == 0) {
        pollfd readable{int(socket.socketDescriptor()), POLLIN, 0};
        if (readable.fd >= 0)
            ::poll(&readable, 1, timeoutMs);
        socket.waitForReadyRead(0);
    }
    takeIncoming();
    return ready && !inbox.isEmpty();
}

QByteArray TcpTransport::read(qint64 maxBytes)
{
    const QByteArray taken = inbox.left(maxBytes);
    inbox.remove(0, taken.size());
    return taken;
}

void TcpTransport::clearInput()
{
    takeIncoming();
    inbox.clear();
}

void TcpTransport::takeIncoming()
{
    if (socket.bytesAvailable() > 0)
        decode(socket.readAll());
    if (ready && !inbox.isEmpty()) {
        fault.clear();
        lastLoss.clear();
        reconnectPauseMs = ReconnectFirstMs;
    }
}

void TcpTransport::onSocketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::SocketTimeoutError: // a readiness wait that ran out
        return;
    case QAbstractSocket::ConnectionRefusedError:
        fail(QStringLiteral("connection refused"));
        return;
    case QAbstractSocket::HostNotFoundError:
        fail(QStringLiteral("host name not found"));
        return;
    case QAbstractSocket::RemoteHostClosedError:
        fail(QStringLiteral("connection closed by the server"));
        return;
    default:
        fail(socket.errorString());
        return;
    }
}
