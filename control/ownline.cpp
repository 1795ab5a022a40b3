#include "ownline.h"

#include "communication.h"
#include "tcptransport.h"

#include <QEventLoop>
#include <QTimer>

namespace Control {

OwnLine::OwnLine(const QString& recordName, const QString& eventPrefix)
    : record(GUI::RunRecorder::standardFolder(), recordName)
{
    panel.fillTable();
    record.setEventPrefix(eventPrefix);
    record.follow(&panel.stack(), &panel.link());
}

bool OwnLine::open(const QString& port, int address, QString* error)
{
    Communication& communication = panel.link();
    communication.setCommPortPath(port);
    if (!waitUntilOpen()) {
        QString reason = communication.lineFault();
        // In the panel's words, without its "PORT": missing, busy, permission, not serial.
        if (reason.isEmpty())
            reason = communication.portStatus().text().section(u' ', 1);
        *error = QStringLiteral("cannot open %1%2")
                     .arg(port, reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
        return false;
    }
    communication.address = address;
    pumpLink = std::make_unique<PumpLink>(&panel.stack(), &panel.table(), &communication,
                                          &panel.search(), true);
    pumpLink->setRecorder(&record);
    return true;
}

bool OwnLine::waitUntilOpen()
{
    Communication& communication = panel.link();
    if (communication.isOpen() || !Transport::isNetworkName(communication.portPath()))
        return communication.isOpen();
    QEventLoop loop;
    // Past the transport's own readiness limit it has given up and says why.
    QTimer::singleShot(TcpTransport::ReadyTimeoutMs * 2, &loop, &QEventLoop::quit);
    QObject::connect(&communication, &Communication::lineOpened, &loop, &QEventLoop::quit);
    loop.exec();
    return communication.isOpen();
}

} // namespace Control
