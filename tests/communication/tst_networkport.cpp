// A pump behind the network serial server ser2net (raw TCP and telnet with COM port control),
// and network ports that lead nowhere useful, driven through the real window.
#include "framing.h"
#include "windowrig.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr int StateWithinMs = 3000; // a network fault is named in the state line this fast
constexpr int ReconnectWithinMs = 10000;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// ser2net from the system on 127.0.0.1, bridging one device; stop() kills it like a power cut.
class Bridge
{
public:
    Bridge(const QString& device, const QString& scheme) : scheme(scheme), port(freePort())
    {
        QFile config(dir.filePath(QStringLiteral("ser2net.yaml")));
        config.open(QIODevice::WriteOnly);
        const char* accepter = scheme == QLatin1String("rfc2217") ? "telnet(rfc2217)," : "";
        config.write(QStringLiteral("connection: &pump\n  accepter: %1tcp,127.0.0.1,%2\n"
                                    "  connector: serialdev,%3,9600n81,local\n")
                         .arg(QLatin1String(accepter))
                         .arg(port)
                         .arg(device)
                         .toUtf8());
    }
    ~Bridge() { stop(); }

    bool start()
    {
        // A test that aborts must not leave the server running.
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process.start(QStringLiteral("/usr/sbin/ser2net"),
                      {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                       dir.filePath(QStringLiteral("pid")), QStringLiteral("-c"),
                       dir.filePath(QStringLiteral("ser2net.yaml"))});
        if (!process.waitForStarted())
            return false;
        // Listening once a connection is taken; the probe lets go of it at once.
        for (int attempt = 0; attempt < 100 && process.state() == QProcess::Running; ++attempt) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    void stop()
    {
        process.kill();
        process.waitForFinished();
    }
    QString url() const { return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port); }

private:
    QTemporaryDir dir;
    QString scheme;
    quint16 port;
    QProcess process;
};

// A frame as the window sends it to the pump at address 0.
QByteArray frame(const QByteArray& body)
{
    const QByteArray text = '\x02' + body + '\x03';
    return text + char(Protocol::Framing::checkByte(text));
}

// What a peer that is not a serial server does with a connection.
enum class Peer { Nobody, Silent, ClosesMidFrame, TelnetGarbage };

WindowRig::Options networkRig(const QString& url, bool polling)
{
    WindowRig::Options options = WindowRig::withoutPump();
    options.extraPorts = {url};
    options.polling = polling;
    return options;
}

} // namespace

Q_DECLARE_METATYPE(Peer)

class TestNetworkPort : public QObject
{
    Q_OBJECT

private slots:
    void bridgedPump_data();
    void bridgedPump();
    void escapeByte_data() { bridgedPump_data(); }
    void escapeByte();
    void faultyPeer_data();
    void faultyPeer();
};

void TestNetworkPort::bridgedPump_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("raw") << "tcp";
    QTest::newRow("rfc2217") << "rfc2217";
}

void TestNetworkPort::bridgedPump()
{
    QFETCH(QString, scheme);
    QTemporaryDir dir;
    Simulator::PtyPump::Options pumpOptions;
    pumpOptions.pacing = false;
    pumpOptions.turnaroundMs = 0;
    pumpOptions.linkPath = dir.filePath(QStringLiteral("pump"));
    Simulator::PtyPump pump(pumpOptions);
    QVERIFY(pump.start());
    Bridge bridge(pump.linkPath(), scheme);
    QVERIFY(bridge.start());
    WindowRig rig(networkRig(bridge.url(), true));
    QLabel* state = rig.ui().labelConnectionState;
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("PUMP CONNECTED"), ReconnectWithinMs);
    const QString title = rig.window->windowTitle();
    QVERIFY2(title.contains(bridge.url()), qPrintable(title));
    const auto received = [&pump](const QByteArray& body) {
        return pump.receivedFrames().contains(frame(body));
    };
    QTRY_VERIFY(received("00?DV") && received("00?RV")); // polling

    QTest::mouseClick(rig.ui().buttonStart, Qt::LeftButton);
    QTRY_VERIFY(received("00KY1"));
    QTest::mouseClick(rig.ui().buttonStop, Qt::LeftButton);
    QTRY_VERIFY(received("00KY0"));

    bridge.stop();
    QTRY_VERIFY_WITH_TIMEOUT(state->text().contains(QStringLiteral("connection")), StateWithinMs);
    QVERIFY(bridge.start());
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("PUMP CONNECTED"), ReconnectWithinMs);
}

void TestNetworkPort::escapeByte()
{
    QFETCH(QString, scheme);
    // The pump checks its frames for printable text, so a pseudo-terminal of the test's own
    // stands in for it: "2€" gives the frame the check byte 0xFF, the telnet escape byte.
    const QByteArray escapeFrame = frame("002\u20ac");
    QCOMPARE(quint8(escapeFrame.back()), quint8(0xFF));
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    Bridge bridge(QString::fromLocal8Bit(ptsname(master)), scheme);
    QVERIFY(bridge.start());
    WindowRig rig(networkRig(bridge.url(), false));
    QTRY_VERIFY_WITH_TIMEOUT(rig.communication.isOpen(), ReconnectWithinMs);
    // Answers with the same frame (a valid one) whenever it has arrived whole and unescaped.
    std::atomic<bool> done{false};
    const auto closeMaster = qScopeGuard([master] { ::close(master); });
    std::thread standIn([&] {
        QByteArray atDevice;
        while (!done) {
            pollfd readable{master, POLLIN, 0};
            char chunk[256];
            const ssize_t got =
                poll(&readable, 1, 50) > 0 ? ::read(master, chunk, sizeof chunk) : 0;
            atDevice.append(chunk, std::max<ssize_t>(got, 0));
            if (atDevice.endsWith(escapeFrame)
                && ::write(master, escapeFrame.constData(), size_t(escapeFrame.size())) > 0)
                atDevice.clear();
        }
    });
    const auto stopStandIn = qScopeGuard([&] {
        done = true;
        standIn.join();
    });
    QTest::keyClick(rig.ui().lineEditDiscreteCommand, '2');
    QTest::sendKeyEvent(QTest::Click, rig.ui().lineEditDiscreteCommand, Qt::Key_unknown,
                        QStringLiteral("\u20ac"), Qt::NoModifier);
    // An answer held up past the link's wait by a busy machine is not the point: send again.
    for (int attempt = 0; attempt < 5 && rig.communication.lastRawAnswer != escapeFrame;
         ++attempt) {
        rig.communication.lastSentFrame.clear();
        QTest::keyClick(rig.ui().lineEditDiscreteCommand, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(rig.communication.lastSentFrame, escapeFrame, ReconnectWithinMs);
    }
    QCOMPARE(rig.communication.lastRawAnswer, escapeFrame);
}

void TestNetworkPort::faultyPeer_data()
{
    QTest::addColumn<QString>("name"); // %1: the port of the test's own peer
    QTest::addColumn<Peer>("peer");
    QTest::addColumn<QString>("shown");
    const QString raw = QStringLiteral("tcp://127.0.0.1:%1");
    const QString telnet = QStringLiteral("rfc2217://127.0.0.1:%1");
    QTest::newRow("refused") << raw << Peer::Nobody << "(PORT unavailable): connection refused";
    QTest::newRow("unresolvable") << "rfc2217://no-such-pump.invalid:2000" << Peer::Nobody
                                  << "host name not found";
    QTest::newRow("port out of range")
        << "tcp://127.0.0.1:70000" << Peer::Nobody << "port number must be 1 to 65535";
    QTest::newRow("silent, raw")
        << raw << Peer::Silent << "(PORT open): connected, nothing received yet";
    QTest::newRow("silent, telnet") << telnet << Peer::Silent << "server does not take part";
    QTest::newRow("closes mid-frame") << raw << Peer::ClosesMidFrame << "closed by the server";
    QTest::newRow("telnet garbage") << telnet << Peer::TelnetGarbage << "does not take part";
}

void TestNetworkPort::faultyPeer()
{
    QFETCH(QString, name);
    QFETCH(Peer, peer);
    QFETCH(QString, shown);
    QTcpServer server;
    if (peer != Peer::Nobody)
        QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = peer == Peer::Nobody ? freePort() : server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        if (peer == Peer::TelnetGarbage)
            socket->write("\xff\xfd\x2c\xff\xfa\x2c\x65\x01\xff\xff\xf0\xff\x07\xff\xfb\xff\xfa"
                          "\x02"
                          "00\x03\x01garbage\xff\xf0\xff");
        if (peer == Peer::ClosesMidFrame)
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->write("\x02"
                              "00");
                socket->disconnectFromHost();
            });
    });
    WindowRig rig(networkRig(name.contains(u'%') ? name.arg(port) : name, true));
    QLabel* state = rig.ui().labelConnectionState;
    QTRY_VERIFY2_WITH_TIMEOUT(state->text().contains(shown), qPrintable(state->text()),
                              StateWithinMs);
}

QTEST_MAIN(TestNetworkPort)
#include "tst_networkport.moc"
