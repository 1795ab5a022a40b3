#include "ptypump.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("answer");
    QTest::newRow("version") << "--version" << "dosedesk 1.0.4\n";
    QTest::newRow("help") << "--help" << "Usage: dosedesk";
}

void TestProgram::answersQuestionsWithoutDisplay()
{
    QFETCH(QString, option);
    QFETCH(QString, answer);
    QProcess program;
    prepare(program, false);
    program.start(QStringLiteral(DOSEDESK_PROGRAM), {option});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY2(QString::fromLocal8Bit(program.readAllStandardOutput()).startsWith(answer),
             qPrintable(answer));
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

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
