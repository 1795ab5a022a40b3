#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Copies of the program started side by side, each a real process holding its names.
class TestInstanceNumber : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void copiesAreNumberedInOrder();
    void exitedCopyKeepsItsNumberTakenWhileOthersRun();
    void killedCopyReleasesItsNames();

private:
    std::unique_ptr<QProcess> startCopy(int* number);

    std::unique_ptr<QTemporaryDir> lockDir;
};

void TestInstanceNumber::init()
{
    lockDir = std::make_unique<QTemporaryDir>();
    QVERIFY(lockDir->isValid());
}

std::unique_ptr<QProcess> TestInstanceNumber::startCopy(int* number)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DOSEDESK_LOCK_DIR"), lockDir->path());
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(INSTANCE_PROBE), {});
    *number = -1;
    if (!process->waitForStarted(5000) || !process->waitForReadyRead(5000))
        return process;
    *number = process->readLine().trimmed().toInt();
    return process;
}

static void endCopy(QProcess& process)
{
    process.write("exit\n");
    QVERIFY(process.waitForFinished(5000));
}

void TestInstanceNumber::copiesAreNumberedInOrder()
{
    int first = 0;
    int second = 0;
    auto a = startCopy(&first);
    auto b = startCopy(&second);
    QCOMPARE(first, 1);
    QCOMPARE(second, 2);
    endCopy(*b);
    endCopy(*a);
}

void TestInstanceNumber::exitedCopyKeepsItsNumberTakenWhileOthersRun()
{
    // Copy 2 touched the name ending in 1 on its way to 2, so it still holds it after copy 1 exits.
    int n1 = 0, n2 = 0, n3 = 0;
    auto a = startCopy(&n1);
    auto b = startCopy(&n2);
    endCopy(*a);
    auto c = startCopy(&n3);
    QCOMPARE(n1, 1);
    QCOMPARE(n2, 2);
    QCOMPARE(n3, 3);
    endCopy(*c);
    endCopy(*b);
}

void TestInstanceNumber::killedCopyReleasesItsNames()
{
    int n1 = 0, n2 = 0;
    auto a = startCopy(&n1);
    QCOMPARE(n1, 1);
    a->kill(); // SIGKILL: no chance to clean up
    QVERIFY(a->waitForFinished(5000));
    auto b = startCopy(&n2);
    QCOMPARE(n2, 1);
    endCopy(*b);
}

QTEST_GUILESS_MAIN(TestInstanceNumber)
#include "tst_instancenumber.moc"
