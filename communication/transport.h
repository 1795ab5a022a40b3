#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// The byte stream the link exchanges its frames over: a serial device, or a serial device
// reached over the network. The link drives it synchronously (short waits inside an exchange);
// a transport may open later than asked, and reports a line that went away once.
class Transport : public QObject
{
    Q_OBJECT

public:
    // The transport for a port name: "tcp://HOST:PORT", "rfc2217://HOST:PORT" or a device path.
    static std::unique_ptr<Transport> create(const QString& name);
    static bool isNetworkName(const QString& name);

    // Starts opening; true when the line is ready at once. A transport that connects later
    // emits opened() when it is ready.
    virtual bool open() = 0;
    virtual void close() = 0;
    // Ready for exchanges; false from the moment the line is found gone.
    virtual bool isOpen() const = 0;
    // The name the port was chosen by.
    virtual QString name() const = 0;

    virtual qint64 write(const QByteArray& data) = 0;
    virtual bool waitForBytesWritten(int timeoutMs) = 0;
    // True when received bytes can be read, waiting at most the time given for them.
    virtual bool waitForReadyRead(int timeoutMs) = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 maxBytes) = 0;
    // Forgets what was received and not yet read.
    virtual void clearInput() = 0;

    // What is wrong with the line: why it is not open, or that nothing came through it yet
    // (empty when nothing is known).
    virtual QString errorString() const = 0;

signals:
    void opened();
    // The line went away while it was open; isOpen() is false already.
    void lost();
};
