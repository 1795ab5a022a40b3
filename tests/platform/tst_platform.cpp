#include "platform.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void tickFollowsSleep_data();
    void tickFollowsSleep();
    void tickDifferenceSurvivesWrap();
    void utcTimeMatchesQt();
    void namedObjectExistsOnSecondCreation();
};

void TestPlatform::tickFollowsSleep_data()
{
    QTest::addColumn<quint32>("sleepMs");
    QTest::newRow("yield") << 0u;
    QTest::newRow("1 ms") << 1u;
    QTest::newRow("25 ms") << 25u;
}

void TestPlatform::tickFollowsSleep()
{
    QFETCH(quint32, sleepMs);
    QElapsedTimer reference;
    reference.start();
    const quint32 start = Platform::tickCount();
    Platform::sleepMs(sleepMs);
    const quint32 elapsed = Platform::tickCount() - start;
    QVERIFY(elapsed + 1 >= sleepMs);
    QVERIFY(qint64(elapsed) <= reference.elapsed() + 1);
}

void TestPlatform::tickDifferenceSurvivesWrap()
{
    // Ticks are compared by unsigned subtraction, which stays right across the 32-bit wrap.
    const quint32 before = 0xFFFFFFF0u;
    const quint32 after = before + 0x20u;
    QCOMPARE(quint32(after - before), 0x20u);
}

void TestPlatform::utcTimeMatchesQt()
{
    const QDateTime qt = QDateTime::currentDateTimeUtc();
    const Platform::SystemTime t = Platform::systemTimeUtc();
    const QDateTime ours(QDate(t.year, t.month, t.day),
                         QTime(t.hour, t.minute, t.second, t.milliseconds), Qt::UTC);
    QVERIFY(ours.isValid());
    QVERIFY(qAbs(ours.msecsTo(qt)) < 1000);
    QCOMPARE(int(t.dayOfWeek), ours.date().dayOfWeek() % 7);
}

void TestPlatform::namedObjectExistsOnSecondCreation()
{
    const QString name = QStringLiteral("TST_PLATFORM_%1").arg(QCoreApplication::applicationPid());
    QVERIFY(!Platform::createNamedObject(name));
    QVERIFY(Platform::createNamedObject(name));
    QVERIFY(!Platform::createNamedObject(name + QStringLiteral("/other")));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
