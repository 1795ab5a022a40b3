#include "serialtransport.h"

#include <QFileInfo>
#include <QMetaObject>

SerialTransport::SerialTransport(const QString& path) : port(this), path(path)
{
    port.setPortName(path);
    chosenName = port.portName();
    connect(&port, &QSerialPort::errorOccurred, this, &SerialTransport::onError);
}

SerialTransport::~SerialTransport()
{
    port.close();
}

bool SerialTransport::open()
{
    gone = false;
    // A link may point at another device after a replug: resolved at every open.
    const QString device = QFileInfo(path).canonicalFilePath();
    port.setPortName(device.isEmpty() ? path : device);
    const bool opened = !port.portName().isEmpty() && port.open(QIODevice::ReadWrite);
    port.setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port.setStopBits(QSerialPort::OneStop);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.setReadBufferSize(0);
    // Bytes left in the device by a previous owner must not open the first answer.
    if (opened)
        port.clear(QSerialPort::AllDirections);
    return opened;
}

void SerialTransport::close()
{
    port.close();
}

bool SerialTransport::waitForBytesWritten(int timeoutMs)
{
    return isOpen() && port.waitForBytesWritten(timeoutMs);
}

bool SerialTransport::waitForReadyRead(int timeoutMs)
{
    return isOpen() && port.waitForReadyRead(timeoutMs);
}

void SerialTransport::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        // The device is gone (adapter unplugged, peer closed). Qt keeps reporting this in a
        // tight loop, so the port is closed as soon as Qt's own call has returned.
        if (!gone) {
            gone = true;
            QMetaObject::invokeMethod(this, &SerialTransport::closeIfGone, Qt::QueuedConnection);
            emit lost();
        }
        break;
    default:
        // Time-outs of the 1 ms readiness wait, clearError() and modem-line calls that a
        // pseudo-terminal does not support are not line faults.
        break;
    }
}

void SerialTransport::closeIfGone()
{
    if (gone)
        port.close();
}
