#pragma once

#include "pumplink.h"
#include "pumpvalues.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QLocalSocket;

namespace BusinessLogic {
class CommandStack;
}

namespace GUI {
class PanelSession;
}

namespace Control {

class PumpFleet;
class PumpSession;

// The panel's local socket for scripts: one JSON request per line in, one JSON result per line
// out, each request run on the panel's own command stack. Only the user can connect.
class ControlServer : public QObject
{
    Q_OBJECT

  public:
    // A line longer than this ends the connection: nobody writes requests that long.
    static constexpr int LongestLine = 4096;
    // Requests a client may queue behind the one running before it is dropped.
    static constexpr int MostQueuedLines = 16;
    static constexpr int MostClients = 32;
    static constexpr int ProbeTimeoutMs = 200;

    // Scripts share the session's line, queue and search with the window.
    explicit ControlServer(GUI::PanelSession& session, QObject* parent = nullptr);
    ~ControlServer() override;

    // Where copy N of the panel listens: in the user's runtime folder.
    static QString socketPath(int copyNumber);
    // The user's runtime folder ($XDG_RUNTIME_DIR); where a session has none (cron, ssh, su),
    // the user's own folder dosedesk-UID in the temporary folder, made for the user alone.
    static QString socketFolder();
    // Listens at the path, replacing a socket a copy that ended left behind; false with
    // errorString() when that fails.
    bool listen(const QString& path);
    QString errorString() const { return error; }
    // Clients connected now; one that left is forgotten once its going has been noticed.
    int clientCount() const { return int(clients.size()); }
    // The panel's pumps: a request may name one by its name or address, `pumps` lists them
    // and `stop-all` stops them. Without it the line's one pump is all there is.
    void setFleet(PumpFleet* pumps) { fleet = pumps; }

private:
    struct Client
    {
        QLocalSocket* socket = nullptr;
        // Each client's own way to the line, so that each can send to the pump it names; it
        // goes with the socket, as the session does.
        PumpLink* link = nullptr;
        PumpSession* session = nullptr;
        QByteArray buffer;
        QList<QByteArray> lines;
        bool busy = false;
        bool dropped = false; // told why and being disconnected: nothing more is read
    };

    void accept();
    void read(Client* client);
    void runNext(Client* client);
    void answer(Client* client, const QJsonObject& result);
    void drop(Client* client, const QString& error);
    void forget(QLocalSocket* socket);
    // Answers the verbs about every pump at once; false for the others.
    bool answerForAll(Client* client, const QJsonObject& object);
    // Sets the link to the pump the request names (by name or address), turns the name into
    // the address and tells the pump's model; false, with the error, when the panel has no
    // such pump.
    bool aimAt(Client* client, QJsonObject& object, Engine::Model* model, QString* error) const;

    QLocalServer server;
    QString error;
    GUI::PanelSession& panel;
    PumpFleet* fleet = nullptr;
    std::vector<std::unique_ptr<Client>> clients;
};

} // namespace Control
