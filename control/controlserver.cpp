#include "controlserver.h"

#include "panelsession.h"

#include "pumpsession.h"
#include "request.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace Control {

ControlServer::ControlServer(GUI::PanelSession& session, QObject* parent)
    : QObject(parent),
      panel(session),
      link(&session.stack(), &session.table(), &session.link(), &session.search(), false)
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, &ControlServer::accept);
}

ControlServer::~ControlServer()
{
    for (const auto& client : clients)
        client->socket->disconnect(this);
    server.close();
}

QString ControlServer::socketPath(int copyNumber)
{
    return QDir(socketFolder()).filePath(QStringLiteral("dosedesk-panel-%1").arg(copyNumber));
}

QString ControlServer::socketFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime;
#ifdef Q_OS_UNIX
    // Named by number: $USER is often unset where the runtime folder is missing too.
    const QString folder =
        QDir(QDir::tempPath()).filePath(QStringLiteral("dosedesk-%1").arg(::getuid()));
    QDir().mkpath(folder);
    // A folder someone else made there is not trusted with the socket.
    if (QFileInfo(folder).ownerId() == ::getuid()
        && QFile::setPermissions(folder,
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return folder;
#endif
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

bool ControlServer::listen(const QString& path)
{
    // A socket nobody answers on is left from a copy that ended; one that answers is taken.
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(ProbeTimeoutMs)) {
        error = QStringLiteral("%1 is in use by another panel").arg(path);
        return false;
    }
    QLocalServer::removeServer(path);
    if (!server.listen(path)) {
        error = server.errorString();
        return false;
    }
    // Read and write for the user only, whatever the user's umask.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

void ControlServer::accept()
{
    while (QLocalSocket* socket = server.nextPendingConnection()) {
        socket->setParent(this);
        if (int(clients.size()) >= MostClients) {
            socket->write(
                QJsonDocument(errorResult(QStringLiteral("too many clients"), PumpFailure))
                    .toJson(QJsonDocument::Compact)
                + '\n');
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            continue;
        }
        clients.push_back(std::make_unique<Client>());
        Client* client = clients.back().get();
        client->socket = socket;
        client->session = new PumpSession(&link, socket);
        connect(client->session, &PumpSession::finished, this,
                [this, client](const QJsonObject& result) {
                    client->busy = false;
                    answer(client, result);
                    runNext(client);
                });
        connect(socket, &QLocalSocket::readyRead, this, [this, client] { read(client); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { forget(socket); });
    }
}

void ControlServer::read(Client* client)
{
    if (client->dropped) {
        client->socket->readAll();
        return;
    }
    client->buffer += client->socket->readAll();
    for (qsizetype end = client->buffer.indexOf('\n'); end >= 0;
         end = client->buffer.indexOf('\n')) {
        if (end > LongestLine)
            break;
        client->lines.append(client->buffer.left(end));
        client->buffer.remove(0, end + 1);
    }
    if (client->buffer.size() > LongestLine)
        return drop(client, QStringLiteral("line longer than %1 bytes").arg(LongestLine));
    if (client->lines.size() > MostQueuedLines)
        return drop(client, QStringLiteral("more than %1 requests waiting").arg(MostQueuedLines));
    runNext(client);
}

void ControlServer::runNext(Client* client)
{
    while (!client->busy && !client->lines.isEmpty()) {
        const QByteArray line = client->lines.takeFirst().trimmed();
        if (line.isEmpty())
            continue;
        QString malformed;
        const QJsonObject object = parseRequest(line, &malformed);
        if (!malformed.isEmpty()) {
            answer(client, errorResult(malformed, UsageError));
            continue;
        }
        const Checked checked = checkRequest(object, panel.pumpModel());
        if (!checked.request) {
            answer(client, errorResult(checked.error, UsageError));
            continue;
        }
        client->busy = true;
        // The window may have begun its record after the socket was opened.
        link.setRecorder(panel.runRecorder());
        client->session->run(*checked.request);
    }
}

void ControlServer::answer(Client* client, const QJsonObject& result)
{
    if (client->socket->state() == QLocalSocket::ConnectedState)
        client->socket->write(QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n');
}

void ControlServer::drop(Client* client, const QString& error)
{
    client->dropped = true;
    client->lines.clear();
    client->buffer.clear();
    client->session->abort();
    answer(client, errorResult(error, UsageError));
    client->socket->disconnectFromServer();
}

void ControlServer::forget(QLocalSocket* socket)
{
    const auto found = std::find_if(clients.begin(), clients.end(),
                                    [socket](const auto& c) { return c->socket == socket; });
    if (found == clients.end())
        return;
    // What is queued on the stack still runs once; nothing more is sent for this client.
    (*found)->session->abort();
    socket->deleteLater();
    clients.erase(found);
}

} // namespace Control
