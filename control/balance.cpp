#include "balance.h"

#include <QList>

namespace Control {

Balance::Balance(QObject* parent) : QObject(parent), port(this), timeout(this)
{
    timeout.setSingleShot(true);
    connect(&port, &QSerialPort::readyRead, this, &Balance::readLines);
    connect(&timeout, &QTimer::timeout, this, [this] {
        finish({{}, QStringLiteral("the balance did not answer in time")});
    });
}

bool Balance::open(const QString& path, qint32 baud)
{
    port.setPortName(path);
    port.setBaudRate(baud);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return port.open(QIODevice::ReadWrite);
}

void Balance::ask(const QByteArray& command, int timeoutMs, Handler then)
{
    buffer.clear();
    port.readAll(); // an answer too late for an earlier question is no answer to this one
    pending = std::move(then);
    timeout.start(timeoutMs);
    if (port.write(command + QByteArrayLiteral("\r\n")) < 0)
        finish({{}, port.errorString()});
}

void Balance::readLines()
{
    buffer += port.readAll();
    const int end = buffer.indexOf('\n');
    if (end < 0 || !pending)
        return;
    const QByteArray line = buffer.left(end).trimmed();
    buffer.remove(0, end + 1);
    finish({line, {}});
}

void Balance::finish(const Answer& answer)
{
    timeout.stop();
    if (Handler then = std::exchange(pending, {}))
        then(answer);
}

std::optional<double> Balance::stableGrams(const QByteArray& line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    bool ok = false;
    const double grams = words.size() == 4 ? words[2].toDouble(&ok) : 0;
    if (words.size() != 4 || words[0] != "S" || words[1] != "S" || words[3] != "g" || !ok)
        return std::nullopt;
    return grams;
}

QString Balance::explain(const Answer& answer)
{
    if (!answer.error.isEmpty())
        return answer.error;
    const QByteArray status = answer.line.simplified().left(3);
    if (status == "S I" || status == "Z I")
        return QStringLiteral("the balance did not settle");
    if (status == "S +" || status == "S -")
        return QStringLiteral("the balance is over- or underloaded");
    if (answer.line == "ES" || answer.line == "EL")
        return QStringLiteral("the balance refused the command (%1)")
            .arg(QString::fromLatin1(answer.line));
    return QStringLiteral("the balance answered \"%1\"").arg(QString::fromLatin1(answer.line));
}

} // namespace Control
