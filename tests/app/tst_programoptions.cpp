#include "programoptions.h"

#include <QTest>

class TestProgramOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestProgramOptions::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("factory");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("pumps"); // the list at start, "PORT:ADDRESS,..."; sim: simulated

    const QString key = QStringLiteral("--svc engineer key");
    QTest::newRow("none") << QStringList{"dosedesk"} << false << QStringList{} << false << false
                          << QString();
    QTest::newRow("factory key first")
        << QStringList{"dosedesk", key} << true << QStringList{} << false << false << QString();
    QTest::newRow("factory key not first") << QStringList{"dosedesk", "--simulate", key} << false
                                           << QStringList{} << true << false << QString();
    QTest::newRow("key in other case") << QStringList{"dosedesk", "--SVC engineer key"} << false
                                       << QStringList{} << false << false << QString();
    QTest::newRow("ports in order")
        << QStringList{"dosedesk", "--port", "/dev/pts/7", "--port", "/tmp/velor"} << false
        << QStringList{"/dev/pts/7", "/tmp/velor"} << false << false << QString();
    QTest::newRow("key then simulate") << QStringList{"dosedesk", key, "--simulate"} << true
                                       << QStringList{} << true << false << QString();
    QTest::newRow("port without value") << QStringList{"dosedesk", "--port"} << false
                                        << QStringList{} << false << true << QString();
    QTest::newRow("headless on a broker")
        << QStringList{"dosedesk",     "--headless",          "--port",
                       "/dev/ttyUSB0", "--address",           "98",
                       "--mqtt",       "mqtts://broker:8883", "--mqtt-password-file",
                       "pw",           "--mqtt-commands"}
        << false << QStringList{"/dev/ttyUSB0"} << false << false << QString();
    // An address the frames cannot carry, and a password where every user can read it.
    for (const char* refused : {"99", "-1", "7x"})
        QTest::addRow("address %s", refused)
            << QStringList{"dosedesk", "--address", refused} << false << QStringList{} << false
            << true << QString();
    QTest::newRow("pumps on two lines")
        << QStringList{"dosedesk", "--port", "/dev/ttyUSB0", "--address", "0", "--address",
                       "5",        "--port", "/dev/ttyUSB1", "--address", "3"}
        << false << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1"} << false << false
        << QString("/dev/ttyUSB0:0,/dev/ttyUSB0:5,/dev/ttyUSB1:3");
    QTest::newRow("three simulated pumps")
        << QStringList{"dosedesk", "--simulate", "3"} << false << QStringList{} << true << false
        << QString("sim:0,sim:1,sim:2");
    QTest::newRow("no simulated pump") << QStringList{"dosedesk", "--simulate", "0"} << false
                                       << QStringList{} << true << true << QString();
    QTest::newRow("password on the command line")
        << QStringList{"dosedesk", "--mqtt-password", "secret"} << false << QStringList{} << false
        << true << QString();
}

void TestProgramOptions::parse()
{
    QFETCH(QStringList, arguments);
    const ProgramOptions options = ProgramOptions::parse(arguments);
    QTEST(options.factoryMode, "factory");
    QTEST(options.portPaths, "ports");
    QTEST(options.simulate, "simulate");
    QTEST(!options.error.isEmpty(), "failed");
    QStringList listed;
    for (const ProgramOptions::PumpAt& pump : options.listedPumps(QStringLiteral("sim")))
        listed.append(QStringLiteral("%1:%2").arg(pump.port).arg(pump.address));
    QTEST(listed.join(u','), "pumps");
}

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "tst_programoptions.moc"
