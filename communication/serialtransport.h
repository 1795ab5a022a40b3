#pragma once

#include "transport.h"

#include <QSerialPort>

// A serial device (or pseudo-terminal) set to 9600 baud 8N1 without flow control.
class SerialTransport : public Transport
{
    Q_OBJECT

public:
    explicit SerialTransport(const QString& path);
    ~SerialTransport() override;

    bool open() override;
    void close() override;
    bool isOpen() const override { return port.isOpen() && !gone; }
    QString name() const override { return chosenName; }
    qint64 write(const QByteArray& data) override { return port.write(data); }
    bool waitForBytesWritten(int timeoutMs) override;
    bool waitForReadyRead(int timeoutMs) override;
    qint64 bytesAvailable() const override { return port.bytesAvailable(); }
    QByteArray read(qint64 maxBytes) override { return port.read(maxBytes); }
    void clearInput() override { port.clear(QSerialPort::Input); }
    QString errorString() const override { return QString(); }
    // What the serial port reported when it last failed, for telling apart why it did not open.
    QSerialPort::SerialPortError error() const { return port.error(); }
    QString errorText() const { return port.errorString(); }

private:
    void onError(QSerialPort::SerialPortError error);
    void closeIfGone();

    QSerialPort port;
    // The device as chosen (a /dev/serial/by-id link stays one); it is opened by its real path,
    // so that the port's lock holds for every name of the device.
    QString path;
    QString chosenName;
    bool gone = false;
};
