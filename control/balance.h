#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace Control {

// A laboratory balance on a serial line, asked in MT-SICS level 0: "Z" zeroes it, "S" asks for
// the weight once it has settled. One question at a time; each gets its answer line or, after
// its time, none.
class Balance : public QObject
{
    Q_OBJECT

public:
    // What came back: the answer line (without CR LF), or why there is none.
    struct Answer
    {
        QByteArray line;
        QString error;
    };
    using Handler = std::function<void(const Answer&)>;

    // The rates a balance's serial line may be set to; 9600 unless told otherwise.
    static constexpr qint32 BaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400};
    static constexpr qint32 DefaultBaud = 9600;

    explicit Balance(QObject* parent = nullptr);

    // 9600 baud, 8 data bits, no parity, one stop bit unless told otherwise; false, with
    // errorString(), when the port does not open.
    bool open(const QString& path, qint32 baud = DefaultBaud);
    QString errorString() const { return port.errorString(); }

    void ask(const QByteArray& command, int timeoutMs, Handler then);

    // The grams of a stable weight answer ("S S    12.3456 g"); none for any other answer.
    static std::optional<double> stableGrams(const QByteArray& line);
    // A balance's answer in words, for the user: "S I" is a weight that did not settle.
    static QString explain(const Answer& answer);

private:
    void readLines();
    void finish(const Answer& answer);

    QSerialPort port;
    QTimer timeout;
    QByteArray buffer;
    Handler pending;
};

} // namespace Control
