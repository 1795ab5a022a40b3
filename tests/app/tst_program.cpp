#include "ptypump.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QDir>
#include <QTest>

#include <csignal>
#include <memory>

// The dosedesk program itself, started as a process.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void answersQuestionsWithoutDisplay_data();
    void answersQuestionsWithoutDisplay();
    void checksTheLineAtOnceThenPolls();
    void endsCleanlyOnSignal_data();
    void endsCleanlyOnSignal();

private:
    void prepare(QProcess& process, bool display) const;

    std::unique_ptr<QTemporaryDir> home;
};

void TestProgram::init()
{
    home = std::make_unique<QTemporaryDir>();
    QVERIFY(home->isValid());
}

void TestProgram::prepare(QProcess& process, bool display) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home->path());
    env.insert(QStringLiteral("DOSEDESK_LOCK_DIR"), home->path());
    // The socket and the simulated pump's log, to see what a copy leaves behind.
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const QString folder = home->filePath(QString::fromLatin1(name));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QString::fromLatin1(name), folder);
    }
    if (display) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(home->path());
}

void TestProgram::answersQuestionsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("answer"); // a line of what it prints
    QTest::newRow("version") << QStringList{"--version"} << 0 << "dosedesk 1.0.4\n";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: dosedesk";
    QTest::newRow("window") << QStringList{"--simulate"} << 1
                            << "dosedesk: no display to show the window on (neither DISPLAY nor "
                               "WAYLAND_DISPLAY is set)\n";
    QTest::newRow("picture, drawn offscreen")
        << QStringList{"--simulate", "--screenshot", "shot.png"} << 0 << "shot.png\n";
}

void TestProgram::answersQuestionsWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, answer);
    QProcess program;
    prepare(program, false);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(DOSEDESK_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    const QString output = QString::fromLocal8Bit(program.readAll());
    QVERIFY2(output.contains(answer), qPrintable(output));
    QTEST(program.exitCode(), "exitCode");
}

void TestProgram::checksTheLineAtOnceThenPolls()
{
    Simulator::PtyPump::Options options;
    options.pacing = false;
    Simulator::PtyPump pump(options);
    QVERIFY2(pump.start(), qPrintable(pump.errorString()));

    QProcess program;
    prepare(program, true);
    program.start(QStringLiteral(DOSEDESK_PROGRAM),
                  {QStringLiteral("--port"), pump.devicePath(), QStringLiteral("--no-such-option")});
    QVERIFY(program.waitForStarted(5000));

    auto received = [&pump](const QByteArray& body) {
        for (const QByteArray& frame : pump.receivedFrames()) {
            if (frame.mid(1, frame.size() - 3) == body)
                return true;
        }
        return false;
    };
    // The check comes first, polling follows on its own: the every-tick values and the status
    // words. How soon is a figure for bench/, not a limit here.
    QTRY_VERIFY_WITH_TIMEOUT(received("00?TV") && received("00?SS1"), 30000);
    const QByteArray first = pump.receivedFrames().constFirst();
    QCOMPARE(first.mid(1, first.size() - 3), QByteArray("00?SI"));

    program.terminate();
    QVERIFY(program.waitForFinished(5000));
    QVERIFY(program.readAllStandardError().contains("--no-such-option"));
}

void TestProgram::endsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

// Ended by the session, a service manager or Ctrl+C, the panel removes its socket and the
// simulated pump's files, as when its window is closed.
void TestProgram::endsCleanlyOnSignal()
{
    QFETCH(int, signal);
    QProcess program;
    prepare(program, true);
    program.start(QStringLiteral(DOSEDESK_PROGRAM), {QStringLiteral("--simulate")});
    QVERIFY(program.waitForStarted(5000));
    const QDir runtime(home->filePath(QStringLiteral("XDG_RUNTIME_DIR")));
    const QDir temporary(home->filePath(QStringLiteral("TMPDIR")));
    const auto files = QDir::Files | QDir::System | QDir::NoDotAndDotDot;
    QTRY_VERIFY_WITH_TIMEOUT(!runtime.entryList(files).isEmpty(), 30000);
    QVERIFY(!temporary.entryList(files).isEmpty()); // the simulated pump's log

    ::kill(pid_t(program.processId()), signal);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(runtime.entryList(files), QStringList());
    QCOMPARE(temporary.entryList(files), QStringList());
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
