#include "controlserver.h"

#include "panelsession.h"

#include "pumpfleet.h"
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
    : QObject(parent), panel(session)
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
        client->link = new PumpLink(&panel.stack(), &panel.table(), &panel.link(), &panel.search(),
                                    false, socket);
        client->session = new PumpSession(client->link, socket);
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
        QJsonObject aimed = object;
        QString unknownPump;
        Engine::Model model = panel.pumpModel();
        if (!aimAt(client, aimed, &model, &unknownPump)) {
            answer(client, errorResult(unknownPump, UsageError));
            continue;
        }
        const Checked checked = checkRequest(aimed, model);
        if (!checked.request) {
            answer(client, errorResult(checked.error, UsageError));
            continue;
        }
        if (answerForAll(client, aimed))
            continue;
        client->busy = true;
        // The window may have begun its record after the socket was opened.
        client->link->setRecorder(panel.runRecorder());
        client->session->run(*checked.request);
    }
}

bool ControlServer::aimAt(Client* client, QJsonObject& object, Engine::Model* model,
                          QString* error) const
{
    client->link->setTarget(std::nullopt);
    const QJsonValue named = object.value(QLatin1String("pump"));
    if (named.isUndefined() || !fleet)
        return true;
    const QString name = named.isDouble() ? QString::number(named.toDouble()) : named.toString();
    const std::optional<int> row = fleet->roster().find(name);
    if (!row) {
        // An address the list does not hold is judged as ever: the line's own pump or none.
        if (named.isDouble())
            return true;
        *error = QStringLiteral("no pump \"%1\" in the panel's list").arg(name);
        return false;
    }
    const GUI::PumpEntry& pump = fleet->roster().at(*row);
    object.insert(QLatin1String("pump"), pump.address);
    client->link->setTarget(pump.address);
    // Judged by the model the pump itself named, as soon as it has.
    if (fleet->state(*row).model() != Engine::Model::Unknown)
        *model = fleet->state(*row).model();
    return true;
}

bool ControlServer::answerForAll(Client* client, const QJsonObject& object)
{
    const QString verb = object.value(QLatin1String("verb")).toString();
    if (!fleet || (verb != QLatin1String("pumps") && verb != QLatin1String("stop-all")))
        return false;
    QJsonObject result{{QStringLiteral("verb"), verb}, {QStringLiteral("ok"), true}};
    if (verb == QLatin1String("pumps"))
        result.insert(QStringLiteral("pumps"), fleet->toJson());
    else
        result.insert(QStringLiteral("stopped"), fleet->stopAll());
    answer(client, result);
    return true;
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
