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

    const QString key = QStringLiteral("--svc engineer key");
    QTest::newRow("none") << QStringList{"dosedesk"} << false << QStringList{} << false << false;
    QTest::newRow("factory key first") << QStringList{"dosedesk", key} << true << QStringList{}
                                       << false << false;
    QTest::newRow("factory key not first")
        << QStringList{"dosedesk", "--simulate", key} << false << QStringList{} << true << false;
    QTest::newRow("key in other case")
        << QStringList{"dosedesk", "--SVC engineer key"} << false << QStringList{} << false << false;
    QTest::newRow("ports in order")
        << QStringList{"dosedesk", "--port", "/dev/pts/7", "--port", "/tmp/velor"} << false
        << QStringList{"/dev/pts/7", "/tmp/velor"} << false << false;
    QTest::newRow("key then simulate")
        << QStringList{"dosedesk", key, "--simulate"} << true << QStringList{} << true << false;
    QTest::newRow("port without value")
        << QStringList{"dosedesk", "--port"} << false << QStringList{} << false << true;
    QTest::newRow("headless on a broker")
        << QStringList{"dosedesk",     "--headless",          "--port",
                       "/dev/ttyUSB0", "--address",           "98",
                       "--mqtt",       "mqtts://broker:8883", "--mqtt-password-file",
                       "pw",           "--mqtt-commands"}
        << false << QStringList{"/dev/ttyUSB0"} << false << false;
    // An address the frames cannot carry, and a password where every user can read it.
    for (const char* refused : {"99", "-1", "7x"})
        QTest::addRow("address %s", refused) << QStringList{"dosedesk", "--address", refused}
                                             << false << QStringList{} << false << true;
    QTest::newRow("password on the command line")
        << QStringList{"dosedesk", "--mqtt-password", "secret"} << false << QStringList{} << false
        << true;
}

void TestProgramOptions::parse()
{
    QFETCH(QStringList, arguments);
    const ProgramOptions options = ProgramOptions::parse(arguments);
    QTEST(options.factoryMode, "factory");
    QTEST(options.portPaths, "ports");
    QTEST(options.simulate, "simulate");
    QTEST(!options.error.isEmpty(), "failed");
}

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "tst_programoptions.moc"
