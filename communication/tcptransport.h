#pragma once

#include "transport.h"

#include <QTcpSocket>
#include <QTimer>

// A serial device behind a network serial server, reached as a raw byte stream
// ("tcp://HOST:PORT"); the server owns the line settings. Only ever connects out.
//
// A connection that fails or goes away is tried again by itself, after a pause that grows with
// every failure up to ReconnectMaxMs; close() ends that.
class TcpTransport : public Transport
{
    Q_OBJECT

public:
    static constexpr int ReadyTimeoutMs = 1500; // connecting and agreeing on the line may take
    static constexpr int ReconnectFirstMs = 250;
    static constexpr int ReconnectMaxMs = 2000;

    // Host and port out of "SCHEME://HOST:PORT"; problem says what is wrong with the name.
    struct Address
    {
        QString host;
        quint16 port = 0;
        QString problem;
    };
    static Address parse(const QString& name);

    explicit TcpTransport(const QString& name);
    ~TcpTransport() override;

    bool open() override;
    void close() override;
    bool isOpen() const override { return ready; }
    QString name() const override { return portName; }
    qint64 write(const QByteArray& data) override;
    bool waitForBytesWritten(int timeoutMs) override;
    bool waitForReadyRead(int timeoutMs) override;
    qint64 bytesAvailable() const override { return inbox.size(); }
    QByteArray read(qint64 maxBytes) override;
    void clearInput() override;
    // The last failure while trying again, else the state of the connection.
    QString errorString() const override { return failure.isEmpty() ? fault : failure; }

protected:
    // What the stream carries on top of TCP: raw bytes here.
    virtual void onConnected();
    virtual void decode(const QByteArray& received) { inbox.append(received); }
    virtual qint64 encode(const QByteArray& data) { return socket.write(data); }

    void setReady();
    // Ends this connection for the reason given and tries again later.
    void fail(const QString& reason);
    void setState(const QString& state) { fault = state; }
    qint64 sendRaw(const QByteArray& data) { return socket.write(data); }

    QByteArray inbox; // received payload not read yet

private:
    void connectNow();
    void onSocketConnected();
    void takeIncoming();
    void onSocketError(QAbstractSocket::SocketError error);

    QString portName;
    Address address;
    QTcpSocket socket;
    QTimer readyTimer;
    QTimer reconnectTimer;
    int reconnectPauseMs = ReconnectFirstMs;
    bool wanted = false; // open() was called and close() was not
    bool ready = false;
    QString fault;   // the state while not ready, or that nothing was received yet
    QString failure; // why the last attempt failed, until one succeeds
    QString lastLoss; // why the server let go of the line, until it sends something
};
