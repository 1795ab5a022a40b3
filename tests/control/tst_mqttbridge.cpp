#include "ptypump.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <pwd.h>
#include <unistd.h>

// dosedesk --headless with its broker bridge, against the simulated pump on a pseudo-terminal
// and a real mosquitto on 127.0.0.1 (a password file, an ACL, a TLS listener with a CA made
// here), checked with mosquitto_sub and mosquitto_pub as a lab's other programs would.
class TestMqttBridge : public QObject
{
    Q_OBJECT

public:
    enum Action {
        Watch,   // nothing but look
        Publish, // publish the commands, one per line, with correlation data "c1"
        Flood,   // the commands, each line 1000 times at once
        Kill,    // kill the bridge without a word
        Restart, // restart the broker at the pattern "RESTART": it forgets what was retained
    };
    Q_ENUM(Action)

private slots:
    void initTestCase();
    void cleanupTestCase();
    void bridge_data();
    void bridge();

private:
    bool run(const QString& program, const QStringList& arguments, const QByteArray& input = {});
    QStringList client(bool tls) const;
    static quint16 freePort();
    void startBroker();
    void watch(QProcess& watcher, const QString& node) const;

    QTemporaryDir folder;
    QProcess broker;
    quint16 plainPort = 0;
    quint16 tlsPort = 0;
    int rows = 0;
};

namespace {

const QString User = QStringLiteral("lab");
const QString Password = QStringLiteral("s3cret pump");

// The lines of a watcher's output (topic, blank, payload) that match, so far.
bool seen(QProcess& watcher, QByteArray& output, const QString& pattern)
{
    output += watcher.readAllStandardOutput();
    return QRegularExpression(pattern, QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(output))
        .hasMatch();
}

QByteArrayList bodies(Simulator::PtyPump& pump)
{
    QByteArrayList list;
    for (const QByteArray& frame : pump.receivedFrames())
        list.append(frame.mid(3, frame.size() - 5)); // STX, address, ..., ETX, check byte
    return list;
}

} // namespace

quint16 TestMqttBridge::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool TestMqttBridge::run(const QString& program, const QStringList& arguments,
                         const QByteArray& input)
{
    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (process.waitForFinished(30000) && process.exitCode() == 0)
        return true;
    qWarning().noquote() << program << arguments.join(u' ') << process.readAll();
    return false;
}

void TestMqttBridge::initTestCase()
{
    QVERIFY(folder.isValid());
    const QString ssl = QStringLiteral("openssl");
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    for (const char* ca : {"ca", "other-ca"})
        QVERIFY(run(ssl, QStringList{"req", "-x509"} + ec
                             + QStringList{"-keyout", QString::fromLatin1(ca) + ".key", "-out",
                                           QString::fromLatin1(ca) + ".pem", "-days", "2", "-subj",
                                           "/CN=test authority"}));
    QVERIFY(run(ssl, QStringList{"req"} + ec
                         + QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                                       "/CN=127.0.0.1"}));
    QFile extensions(folder.filePath("san.ext"));
    QVERIFY(extensions.open(QIODevice::WriteOnly));
    extensions.write("subjectAltName=IP:127.0.0.1\n");
    extensions.close();
    QVERIFY(
        run(ssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "san.ext"}));
    QVERIFY(run(QStringLiteral("mosquitto_passwd"), {"-c", "-b", "passwd", User, Password}));
    QFile::setPermissions(folder.filePath("passwd"), QFile::ReadOwner | QFile::WriteOwner);
    for (const auto& [name, text] : {std::pair{"password", Password}, {"wrong", "guessed"}}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8() + '\n');
    }
    QFile acl(folder.filePath("acl"));
    QVERIFY(acl.open(QIODevice::WriteOnly));
    acl.write(("user " + User
               + "\ntopic readwrite dosedesk/#\ntopic readwrite homeassistant/#\n"
                 "topic readwrite reply/#\n")
                  .toUtf8());
    acl.close();

    plainPort = freePort();
    tlsPort = freePort();
    QFile configuration(folder.filePath("mosquitto.conf"));
    QVERIFY(configuration.open(QIODevice::WriteOnly));
    const QString path = folder.path();
    configuration.write(QStringLiteral("user %1\nper_listener_settings false\n"
                                       "allow_anonymous false\npassword_file %2/passwd\n"
                                       "acl_file %2/acl\nlistener %3 127.0.0.1\n"
                                       "listener %4 127.0.0.1\ncafile %2/ca.pem\n"
                                       "certfile %2/server.pem\nkeyfile %2/server.key\n")
                            .arg(QString::fromLocal8Bit(getpwuid(getuid())->pw_name), path)
                            .arg(plainPort)
                            .arg(tlsPort)
                            .toUtf8());
    configuration.close();
    broker.setProcessChannelMode(QProcess::ForwardedChannels);
    startBroker();
}

void TestMqttBridge::startBroker()
{
    broker.start(QStringLiteral("mosquitto"), {"-c", folder.filePath("mosquitto.conf")});
    QVERIFY(broker.waitForStarted());
    // Ready once it takes connections.
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, plainPort);
            return socket.waitForConnected(200);
        }(),
        10000);
}

void TestMqttBridge::watch(QProcess& watcher, const QString& node) const
{
    watcher.start(QStringLiteral("mosquitto_sub"),
                  client(false)
                      + QStringList{"-v", "-t", "dosedesk/" + node + "/#", "-t",
                                    "homeassistant/+/" + node + "_0/#", "-t", "reply/" + node});
    watcher.waitForStarted();
}

void TestMqttBridge::cleanupTestCase()
{
    broker.terminate();
    broker.waitForFinished();
}

QStringList TestMqttBridge::client(bool tls) const
{
    QStringList arguments{"-V", "mqttv5", "-h", "127.0.0.1", "-u", User, "-P", Password};
    arguments << "-p" << QString::number(tls ? tlsPort : plainPort);
    if (tls)
        arguments << "--cafile" << folder.filePath("ca.pem");
    return arguments;
}

void TestMqttBridge::bridge_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QStringList>("commands");
    // Each pattern must show, in order, on the broker (as "TOPIC PAYLOAD") or in the log.
    QTest::addColumn<QStringList>("published");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QByteArrayList>("framesSent");
    QTest::addColumn<QByteArrayList>("framesNotSent");

    const QString stateOnline =
        "^dosedesk/N/0/state \\{.*\"connection\":\"online\".*\"flow_ml_min\"";
    QTest::newRow("discovery and state, no commands")
        << QStringList{} << Watch << QStringList{}
        << QStringList{"^homeassistant/sensor/N_0/delivered/config \\{.*\"device\":\\{[^}]*"
                       "\"model\":\"VELOR 10\".*\"unique_id\":\"dosedesk_N_0_delivered\"",
                       "^homeassistant/binary_sensor/N_0/running/config "
                       "\\{.*\"availability_topic\":"
                       "\"dosedesk/N/0/availability\"",
                       "^dosedesk/N/0/availability online", stateOnline}
        << "" << QByteArrayList{} << QByteArrayList{};
    QTest::newRow("set-flow reaches the pump, answered where asked")
        << QStringList{"--mqtt-commands"} << Publish
        << QStringList{"{\"verb\":\"set-flow\",\"value\":2.5}"}
        << QStringList{"^homeassistant/number/N_0/flow_setpoint/config \\{.*\"max\":100",
                       stateOnline, "^reply/N \\{\"ok\":true,\"verb\":\"set-flow\"\\}",
                       "^dosedesk/N/0/state .*\"flow_ml_min\":2.5"}
        << "MQTT: set-flow sent" << QByteArrayList{"RV00002500"} << QByteArrayList{};
    QTest::newRow("beside the window: set-flow reaches the pump")
        << QStringList{"WINDOW", "--mqtt-commands"} << Publish
        << QStringList{"{\"verb\":\"set-flow\",\"value\":4.25}"}
        << QStringList{stateOnline, "^reply/N \\{\"ok\":true,\"verb\":\"set-flow\"\\}"} << ""
        << QByteArrayList{"RV00004250"} << QByteArrayList{};
    QTest::newRow("a stop ends the wait that runs and refuses what waits")
        << QStringList{"--mqtt-commands"} << Publish
        << QStringList{"{\"verb\":\"start\"}",
                       "{\"verb\":\"wait\",\"for\":\"seconds\",\"value\":600}",
                       "{\"verb\":\"prime\"}", "{\"verb\":\"stop\"}"}
        << QStringList{stateOnline, "^reply/N .*ended by a stop from the broker.*\"verb\":\"wait\"",
                       "^reply/N .*a stop came before its turn",
                       "^reply/N \\{\"ok\":true,\"verb\":\"stop\"\\}"}
        << "" << QByteArrayList{"KY1", "KY0"} << QByteArrayList{"KY2"};
    QTest::newRow("all from the stored settings")
        << QStringList{"STORED"} << Publish << QStringList{"{\"verb\":\"set-flow\",\"value\":5}"}
        << QStringList{"^homeassistant/number/N_0/flow_setpoint/config \\{", stateOnline,
                       "^reply/N \\{\"ok\":true,\"verb\":\"set-flow\"\\}"}
        << "" << QByteArrayList{"RV00005000"} << QByteArrayList{};
    QTest::newRow("commands refused when not enabled")
        << QStringList{} << Publish << QStringList{"{\"verb\":\"start\"}"}
        << QStringList{stateOnline,
                       "^reply/N \\{.*takes no commands.*\"ok\":false,\"verb\":\"start\""}
        << "MQTT: start: this bridge takes no commands" << QByteArrayList{}
        << QByteArrayList{"KY1"};
    QTest::newRow("hostile commands refused, nothing sent")
        << QStringList{"--mqtt-commands"} << Publish
        << QStringList{"not json",
                       "{\"verb\":\"fly\"}",
                       "{\"verb\":\"set-flow\",\"value\":900}",
                       "{\"verb\":\"send\",\"value\":\"KY1\"}",
                       QString(5000, u'x'),
                       "RETAINED {\"verb\":\"start\"}"}
        << QStringList{stateOnline,
                       "malformed request",
                       "unknown verb \\\\\"fly\\\\\"",
                       "accepted: 0.03 to 100 ml/min",
                       "not taken from the broker",
                       "longer than 4096 bytes",
                       "a retained command is not run"}
        << "" << QByteArrayList{} << QByteArrayList{"RV09000000", "KY1"};
    QTest::newRow("a flood of 1000: refused ones answered, a repeated one run once")
        << QStringList{"--mqtt-commands"} << Flood
        << QStringList{"{\"verb\":\"set-flow\",\"value\":-1}",
                       "{\"verb\":\"set-flow\",\"value\":3}"}
        << QStringList{stateOnline, "^dosedesk/N/0/state .*\"flow_ml_min\":3[,}]"}
        << "MQTT: set-flow sent" << QByteArrayList{"RV00003000"} << QByteArrayList{};
    QTest::newRow("killed: offline by the last will")
        << QStringList{} << Kill << QStringList{}
        << QStringList{"^dosedesk/N/0/availability online", "^dosedesk/N/0/availability offline"}
        << "" << QByteArrayList{} << QByteArrayList{};
    QTest::newRow("broker restarted: retained state published again")
        << QStringList{} << Restart << QStringList{}
        << QStringList{stateOnline, "RESTART", "^dosedesk/N/0/availability online", stateOnline}
        << "broker: The connection was lost; trying again in 1 s\\ndosedesk: broker: connected to"
        << QByteArrayList{} << QByteArrayList{};
    QTest::newRow("over TLS, vouched for by the test's authority")
        << QStringList{"TLS", "--mqtt-ca", "ca.pem"} << Watch << QStringList{}
        << QStringList{stateOnline} << "broker: connected to 127.0.0.1" << QByteArrayList{}
        << QByteArrayList{};
    QTest::newRow("no broker at start: said, tried again, the pump polled")
        << QStringList{"NOBROKER"} << Watch << QStringList{} << QStringList{}
        << "(?s)(?=.*broker: Connection refused; trying again in 1 s)(?=.*pump: online)"
        << QByteArrayList{"?TV", "?SS1"} << QByteArrayList{};
    QTest::newRow("TLS with the wrong authority")
        << QStringList{"TLS", "--mqtt-ca", "other-ca.pem"} << Watch << QStringList{}
        << QStringList{} << "broker: TLS failed: .*certificate verify failed; trying again in 1 s"
        << QByteArrayList{} << QByteArrayList{};
    QTest::newRow("wrong password")
        << QStringList{"--mqtt-password-file", "wrong"} << Watch << QStringList{} << QStringList{}
        << "broker: the broker refused the connection: Not authorized; trying again in 1 s"
        << QByteArrayList{} << QByteArrayList{};
}

void TestMqttBridge::bridge()
{
    QFETCH(QStringList, options);
    QFETCH(Action, action);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, published);
    QFETCH(QString, logged);
    QFETCH(QByteArrayList, framesSent);
    QFETCH(QByteArrayList, framesNotSent);
    // Each row has topics of its own, so that nothing retained by another row is read here.
    const QString node = QStringLiteral("row%1").arg(++rows);
    Simulator::PtyPump::Options pumpOptions;
    pumpOptions.pacing = false;
    Simulator::PtyPump pump(pumpOptions);
    QVERIFY2(pump.start(), qPrintable(pump.errorString()));

    QProcess watcher;
    QProcess program;
    // A row that fails leaves nothing running behind it.
    const auto cleanup = qScopeGuard([&watcher, &program] {
        program.kill();
        watcher.kill();
        program.waitForFinished();
        watcher.waitForFinished();
    });
    watch(watcher, node);

    const bool tls = options.removeAll(QStringLiteral("TLS")) > 0;
    const bool noBroker = options.removeAll(QStringLiteral("NOBROKER")) > 0;
    // Beside the window, drawn offscreen, or without one.
    const bool window = options.removeAll(QStringLiteral("WINDOW")) > 0;
    QStringList arguments{"--headless",
                          "--port",
                          pump.devicePath(),
                          "--mqtt",
                          QStringLiteral("%1://127.0.0.1:%2")
                              .arg(tls ? "mqtts" : "mqtt")
                              .arg(noBroker ? freePort()
                                   : tls    ? tlsPort
                                            : plainPort),
                          "--mqtt-user",
                          User,
                          "--mqtt-node",
                          node};
    if (window)
        arguments.removeFirst();
    if (!options.contains(QStringLiteral("--mqtt-password-file")))
        arguments << "--mqtt-password-file"
                  << "password";
    // Everything from the settings the window keeps, nothing on the command line.
    const QString stored = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                           + QStringLiteral("/ZUL Vantor/Velor Remote Control.conf");
    const auto forget = qScopeGuard([&stored] { QFile::remove(stored); });
    if (options.removeAll(QStringLiteral("STORED")) > 0) {
        QSettings settings(stored, QSettings::IniFormat);
        // Whichever copy number the program gets beside the other tests' copies.
        for (int copy = 1; copy <= 16; ++copy) {
            const QString group = QStringLiteral("DOSEDESK_INSTANCE_%1/MQTT/").arg(copy);
            settings.setValue(group + "Broker", arguments.at(4));
            settings.setValue(group + "User", User);
            settings.setValue(group + "Password", Password);
            settings.setValue(group + "Node", node);
            settings.setValue(group + "Commands", true);
        }
        arguments = arguments.mid(0, 3);
    }
    program.setWorkingDirectory(folder.path());
    program.start(QStringLiteral(DOSEDESK_PROGRAM), arguments + options);
    QVERIFY(program.waitForStarted());

    QByteArray output;
    QByteArray log;
    const auto inLog = [&program, &log](const QString& pattern) {
        log += program.readAllStandardError();
        return QRegularExpression(pattern).match(QString::fromUtf8(log)).hasMatch();
    };
    for (QString pattern : published) {
        if (action == Kill && pattern.contains(QLatin1String("offline")))
            program.kill();
        if (pattern == QLatin1String("RESTART")) {
            broker.terminate();
            QVERIFY(broker.waitForFinished());
            startBroker();
            if (QTest::currentTestFailed())
                return;
            watcher.kill();
            watcher.waitForFinished();
            output.clear();
            watch(watcher, node);
            continue;
        }
        pattern.replace(QStringLiteral("/N"), u'/' + node)
            .replace(QStringLiteral("N_0"), node + "_0");
        QTRY_VERIFY2_WITH_TIMEOUT(seen(watcher, output, pattern),
                                  qPrintable(pattern + "\nnot in:\n" + output.right(3000)), 20000);
        // Commands go once the pump is known to be online.
        if (pattern.contains(QLatin1String("\"connection\":\"online\""))) {
            for (const QString& command : commands) {
                const int copies = action == Flood ? 1000 : 1;
                QByteArray lines;
                for (int i = 0; i < copies; ++i)
                    lines += command.toUtf8() + '\n';
                QStringList publish = client(false);
                publish << "-t"
                        << "dosedesk/" + node + "/0/cmd"
                        << "-D"
                        << "publish"
                        << "response-topic"
                        << "reply/" + node;
                // A repeated command carries the same correlation data: it runs once.
                if (action == Flood && command.contains(QLatin1String(":3}")))
                    publish << "-D"
                            << "publish"
                            << "correlation-data"
                            << "c1";
                if (lines.startsWith("RETAINED ")) {
                    lines.remove(0, 9);
                    publish << "-r";
                }
                QVERIFY(run(QStringLiteral("mosquitto_pub"), publish + QStringList{"-l"}, lines));
            }
        }
    }
    if (action == Flood) {
        // Every refusal is answered; the repeated command ran once.
        QTRY_VERIFY_WITH_TIMEOUT((seen(watcher, output, QString()),
                                  output.count("accepted: 0.03 to 100 ml/min") >= 1000),
                                 30000);
        QCOMPARE(bodies(pump).count("RV00003000"), 1);
        // And the polling goes on.
        const qsizetype readings = bodies(pump).count("?TV");
        QTRY_VERIFY_WITH_TIMEOUT(bodies(pump).count("?TV") > readings + 2, 10000);
    }
    if (!logged.isEmpty())
        QTRY_VERIFY2_WITH_TIMEOUT(inLog(logged), qPrintable(logged + "\nnot in:\n" + log), 20000);
    for (const QByteArray& frame : framesSent)
        QTRY_VERIFY2_WITH_TIMEOUT(bodies(pump).contains(frame), frame.constData(), 10000);
    for (const QByteArray& frame : framesNotSent)
        QVERIFY2(!bodies(pump).contains(frame), frame.constData());

    if (action != Kill) {
        // An orderly end says "offline" itself.
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        // Under the sanitizers, a report at the end fails the program.
        QVERIFY2(program.exitCode() == 0, program.readAllStandardError().right(3000).constData());
    }
}

QTEST_GUILESS_MAIN(TestMqttBridge)
#include "tst_mqttbridge.moc"
