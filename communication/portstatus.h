#pragma once

#include <QSerialPort>
#include <QString>

// Why the line to the pump is open or not, in the words the state line shows, and whether the
// reason may pass by itself (a device plugged in again, another program letting go of it).
class PortStatus
{
public:
    enum class Reason { Open, NotChosen, Missing, PermissionDenied, Busy, NotSerial, Connecting, Other };

    PortStatus() = default;
    static PortStatus open() { return PortStatus(Reason::Open); }
    static PortStatus notChosen() { return PortStatus(Reason::NotChosen); }
    static PortStatus missing() { return PortStatus(Reason::Missing); }
    // A network port not connected yet; it keeps trying by itself and says why in its own words.
    static PortStatus connecting() { return PortStatus(Reason::Connecting); }
    // After a failed open of location, from what the serial port reported.
    static PortStatus afterFailure(const QString& location, QSerialPort::SerialPortError error,
                                   const QString& errorText);
    // After the device went away while it was open.
    static PortStatus afterLoss(const QString& location);

    // The file a port name or path opens: a bare name such as "ttyUSB0" lives in /dev.
    static QString locationOf(const QString& path);
    static bool exists(const QString& location);

    Reason reason() const { return why; }
    // Looking for the port again can help: it is gone, held or refused, not something else.
    bool mayPass() const;
    // "PORT open", "PORT missing", "PORT busy: held by DoseDesk copy 2 (process 1234)", ...
    QString text() const;

private:
    explicit PortStatus(Reason reason, const QString& detail = QString())
        : why(reason), detail(detail)
    {
    }

    Reason why = Reason::NotChosen;
    QString detail;
};
