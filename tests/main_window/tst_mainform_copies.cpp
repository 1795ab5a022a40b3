#include "windowrig.h"

#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <memory>

// Run as a probe (DOSEDESK_WINDOW_PROBE set), this program builds one window with its own
// command line and reports what it shows; each probe is one running copy of the program.
namespace {

constexpr char ProbeVariable[] = "DOSEDESK_WINDOW_PROBE";
constexpr char PortVariable[] = "DOSEDESK_PROBE_PORT";

int runProbe(int argc, char* argv[])
{
    QApplication application(argc, argv);
    WindowRig::Options options;
    options.withPump = false;
    options.freshSettings = false;
    if (qEnvironmentVariableIsSet(PortVariable))
        options.extraPorts.append(qEnvironmentVariable(PortVariable));
    WindowRig rig(options);

    QStringList tabs;
    for (int i = 0; i < rig.ui().TabsExtendedSettings->count(); ++i)
        tabs.append(rig.ui().TabsExtendedSettings->tabText(i));
    std::printf("instance %d\ntabs %s\naddress %d\nport %s\n", instanceNumber(),
                qPrintable(tabs.join(u'|')), rig.ui().comboCommAddress->currentIndex(),
                qPrintable(rig.window->storedPortName()));
    std::fflush(stdout);

    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        int address = 0;
        if (std::sscanf(line, "address %d", &address) == 1) {
            rig.ui().comboCommAddress->setCurrentIndex(address);
            emit rig.ui().comboCommAddress->activated(address);
            std::printf("ok\n");
            std::fflush(stdout);
        } else if (std::strncmp(line, "exit", 4) == 0) {
            break;
        }
    }
    return 0;
}

// One running copy of the program, reduced to its window.
class Copy
{
public:
    Copy(const QString& configDir, const QString& lockDir, const QStringList& arguments,
         const QString& port = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(ProbeVariable), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
        env.insert(QStringLiteral("DOSEDESK_LOCK_DIR"), lockDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!port.isEmpty())
            env.insert(QString::fromLatin1(PortVariable), port);
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), arguments);
        for (const char* key : {"instance", "tabs", "address", "port"})
            facts.insert(QString::fromLatin1(key), readLine().section(u' ', 1));
    }
    ~Copy() { finish(); }

    QString fact(const char* key) const { return facts.value(QString::fromLatin1(key)); }

    bool chooseAddress(int address)
    {
        process.write(QByteArray("address ") + QByteArray::number(address) + '\n');
        return readLine() == QLatin1String("ok");
    }

    void finish()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.write("exit\n");
        if (!process.waitForFinished(10000))
            process.kill();
    }

private:
    QString readLine()
    {
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(15000))
                return {};
        }
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }

    QProcess process;
    QHash<QString, QString> facts;
};

} // namespace

// Copies of the program side by side: numbering, per-copy settings and the factory key.
class TestMainFormCopies : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void factoryTabOnlyWithTheKeyFirst_data();
    void factoryTabOnlyWithTheKeyFirst();
    void firstStartShowsAddressZero();
    void storedAddressOutsideTheBusSelectsZero_data();
    void storedAddressOutsideTheBusSelectsZero();
    void copiesKeepSeparatePortsAndAddresses();

private:
    QString settingsFile() const
    {
        return config->path() + QStringLiteral("/ZUL Vantor/Velor Remote Control.conf");
    }

    std::unique_ptr<QTemporaryDir> config;
    std::unique_ptr<QTemporaryDir> locks;
};

void TestMainFormCopies::init()
{
    config = std::make_unique<QTemporaryDir>();
    locks = std::make_unique<QTemporaryDir>();
    QVERIFY(config->isValid() && locks->isValid());
}

void TestMainFormCopies::factoryTabOnlyWithTheKeyFirst_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("factory");
    QTest::newRow("no arguments") << QStringList() << false;
    QTest::newRow("the key") << QStringList{"--svc engineer key"} << true;
    QTest::newRow("the key and more") << QStringList{"--svc engineer key", "--port", "x"} << true;
    QTest::newRow("the key in capitals") << QStringList{"--SVC ENGINEER KEY"} << false;
    QTest::newRow("part of the key") << QStringList{"--svc"} << false;
    QTest::newRow("the key second") << QStringList{"--simulate", "--svc engineer key"} << false;
}

void TestMainFormCopies::factoryTabOnlyWithTheKeyFirst()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, factory);
    Copy copy(config->path(), locks->path(), arguments);
    const QString tabs = copy.fact("tabs");
    QCOMPARE(tabs, factory ? QStringLiteral("Settings|I/O|Cycle|Status|Communication|Help|Factory")
                           : QStringLiteral("Settings|I/O|Cycle|Status|Communication|Help"));
}

void TestMainFormCopies::firstStartShowsAddressZero()
{
    Copy copy(config->path(), locks->path(), {});
    QCOMPARE(copy.fact("instance"), QStringLiteral("1"));
    QCOMPARE(copy.fact("address"), QStringLiteral("0"));
    QCOMPARE(copy.fact("port"), QStringLiteral("COM1"));
}

void TestMainFormCopies::storedAddressOutsideTheBusSelectsZero_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("250") << QVariant(250) << "0";
    QTest::newRow("100") << QVariant(100) << "0";
    QTest::newRow("-1") << QVariant(-1) << "0";
    QTest::newRow("not a number") << QVariant("seven") << "0";
    QTest::newRow("99") << QVariant(99) << "99";
    QTest::newRow("42") << QVariant(42) << "42";
}

void TestMainFormCopies::storedAddressOutsideTheBusSelectsZero()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, shown);
    {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        settings.setValue("DOSEDESK_INSTANCE_1/Communication/Address", stored);
    }
    Copy copy(config->path(), locks->path(), {});
    QCOMPARE(copy.fact("address"), shown);
}

void TestMainFormCopies::copiesKeepSeparatePortsAndAddresses()
{
    const QString portA = config->path() + QStringLiteral("/ttyA");
    const QString portB = config->path() + QStringLiteral("/ttyB");
    {
        Copy first(config->path(), locks->path(), {}, portA);
        Copy second(config->path(), locks->path(), {}, portB);
        QCOMPARE(first.fact("instance"), QStringLiteral("1"));
        QCOMPARE(second.fact("instance"), QStringLiteral("2"));
        QVERIFY(first.chooseAddress(5));
        QVERIFY(second.chooseAddress(9));
    }

    QSettings settings(settingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value("DOSEDESK_INSTANCE_1/Communication/Port)").toString(), portA);
    QCOMPARE(settings.value("DOSEDESK_INSTANCE_1/Communication/Address").toInt(), 5);
    QCOMPARE(settings.value("DOSEDESK_INSTANCE_2/Communication/Port)").toString(), portB);
    QCOMPARE(settings.value("DOSEDESK_INSTANCE_2/Communication/Address").toInt(), 9);

    // Started again alone, the first copy finds its own address and port.
    Copy again(config->path(), locks->path(), {});
    QCOMPARE(again.fact("instance"), QStringLiteral("1"));
    QCOMPARE(again.fact("address"), QStringLiteral("5"));
    QCOMPARE(again.fact("port"), portA);
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet(ProbeVariable))
        return runProbe(argc, argv);
    QApplication application(argc, argv);
    TestMainFormCopies test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainform_copies.moc"
