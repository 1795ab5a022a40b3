#include "operationitems.h"

#include <QTest>

#include <functional>
#include <map>
#include <memory>

namespace {

using Factory = std::function<std::unique_ptr<GUI::OperationItem>()>;

template <typename Item>
Factory make()
{
    return [] { return std::make_unique<Item>(); };
}

// The items the cases below refer to by name.
const std::map<QString, Factory>& factories()
{
    static const std::map<QString, Factory> table{
        {"Bare", make<GUI::OperationItem>()},
        {"RunMode", make<OperationItemRunMode>()},
        {"VolumeTarget", make<OperationItemVolumeTarget>()},
        {"Flowrate", make<OperationItemFlowrate>()},
        {"TimeElapsed", make<OperationItemTimeElapsed>()},
        {"DispenseTime", make<OperationItemDispenseTime>()},
        {"Status", make<OperationItemStatus>()},
        {"CommCheck", make<OperationItemCommCheck>()},
        {"ProtocolAnswer", make<OperationItemProtocolAnswer>()},
        {"Language", make<OperationItemLanguage>()},
    };
    return table;
}

std::unique_ptr<GUI::OperationItem> create(const QString& name)
{
    return factories().at(name)();
}

} // namespace

// Parse rules, initial values and the direct value writes of the operation items.
class TestOperationItem : public QObject
{
    Q_OBJECT

private slots:
    void answerIsParsedByTheItemsRule_data();
    void answerIsParsedByTheItemsRule();
    void statusAnswerReplacesOnlyTheWordOfItsPage_data();
    void statusAnswerReplacesOnlyTheWordOfItsPage();
    void modelNameFromVersion_data();
    void modelNameFromVersion();
};

void TestOperationItem::answerIsParsedByTheItemsRule_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("decimal truncated") << "VolumeTarget" << QByteArray("12.9") << 12 << "12.9";
    QTest::newRow("decimal negative toward zero") << "Flowrate" << QByteArray("-12.9") << -12 << "-12.9";
    QTest::newRow("decimal beyond 32 bits") << "Flowrate" << QByteArray("1e12") << 0 << "1e12";
    QTest::newRow("decimal just below 32 bits") << "Flowrate" << QByteArray("-2147483649") << 0 << "-2147483649";
    QTest::newRow("decimal largest") << "Flowrate" << QByteArray("2147483647.5") << 2147483647 << "2147483647.5";

    QTest::newRow("integer") << "RunMode" << QByteArray("1") << 1 << "1";
    QTest::newRow("integer fraction") << "Language" << QByteArray("12.9") << 0 << "12.9";
    QTest::newRow("integer eleven nines") << "RunMode" << QByteArray("99999999999") << 0 << "99999999999";
    QTest::newRow("integer no number") << "RunMode" << QByteArray("x1") << 0 << "x1";
    QTest::newRow("utf-8 text kept") << "Language" << QByteArray("\xc3\xa4") << 0 << QString(QChar(0xe4));

    QTest::newRow("elapsed time") << "TimeElapsed" << QByteArray("01020345") << 372345 << "01020345";
    QTest::newRow("elapsed time ninth character")
        << "TimeElapsed" << QByteArray("0102034567") << 372756 << "010203456";
    QTest::newRow("elapsed time bad hours") << "TimeElapsed" << QByteArray("ab020345") << 12345 << "ab020345";

    QTest::newRow("dispense time") << "DispenseTime" << QByteArray("01020300") << 3723 << "010203";
    QTest::newRow("dispense time largest") << "DispenseTime" << QByteArray("995959") << 359999 << "995959";

    QTest::newRow("check result") << "CommCheck" << QByteArray("7") << 7 << "7";
    QTest::newRow("check result empty") << "CommCheck" << QByteArray() << -1 << "-1";
    QTest::newRow("check result smallest") << "CommCheck" << QByteArray("-2147483648") << -2147483647 - 1 << "-2147483648";
    QTest::newRow("check result largest") << "CommCheck" << QByteArray("2147483647") << 2147483647 << "2147483647";
    QTest::newRow("check result beyond 32 bits") << "CommCheck" << QByteArray("99999999999") << -1 << "-1";

    QTest::newRow("status value") << "Status" << QByteArray("017 3") << 17 << "017 3";
}

void TestOperationItem::answerIsParsedByTheItemsRule()
{
    QFETCH(QString, item);
    QFETCH(QByteArray, answer);
    QFETCH(int, value);
    QFETCH(QString, text);

    auto operationItem = create(item);
    operationItem->setAnswer(Answer{operationItem->getCommandSpezifier(), answer});
    QCOMPARE(operationItem->getValue(), value);
    QCOMPARE(operationItem->getText(), text);
}

void TestOperationItem::statusAnswerReplacesOnlyTheWordOfItsPage_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QList<int>>("words");

    const QList<QByteArray> allPages{"100 0", "101 1", "102 2", "103 3", "104 4", "105 5", "106 6"};
    QTest::newRow("each page its word") << allPages << QList<int>{100, 101, 102, 103, 104, 105, 106};
    QTest::newRow("one word replaced")
        << (allPages + QList<QByteArray>{"017 3"}) << QList<int>{100, 101, 102, 17, 104, 105, 106};
    // Without an answer the page digit is missing: the default lands in word 0.
    QTest::newRow("default answer")
        << (allPages + QList<QByteArray>{"0 4"}) << QList<int>{0, 101, 102, 103, 104, 105, 106};
    QTest::newRow("page digit missing")
        << (allPages + QList<QByteArray>{"055 "}) << QList<int>{55, 101, 102, 103, 104, 105, 106};
    QTest::newRow("page not a digit")
        << (allPages + QList<QByteArray>{"055 x"}) << QList<int>{55, 101, 102, 103, 104, 105, 106};
    QTest::newRow("page beyond the words")
        << (allPages + QList<QByteArray>{"055 7", "056 9"}) << QList<int>{100, 101, 102, 103, 104, 105, 106};
    QTest::newRow("two-digit page reads its first digit")
        << (allPages + QList<QByteArray>{"055 12"}) << QList<int>{100, 55, 102, 103, 104, 105, 106};
}

void TestOperationItem::statusAnswerReplacesOnlyTheWordOfItsPage()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QList<int>, words);

    OperationItemStatus status;
    for (const QByteArray& answer : answers)
        status.setAnswer(Answer{8, answer});
    for (int page = 0; page < OperationItemStatus::PageCount; ++page)
        QCOMPARE(status.getStatus(page), words.at(page));
    QCOMPARE(status.getText(), QString::fromUtf8(answers.last()));
    QCOMPARE(status.getValue(), GUI::readInteger(QString::fromUtf8(answers.last()).left(3)));
    QCOMPARE(status.getStatus(7), 0);
    QCOMPARE(status.getStatus(-1), 0);
}

void TestOperationItem::modelNameFromVersion_data()
{
    QTest::addColumn<QString>("version"); // model code in five digits, then the firmware
    QTest::addColumn<QString>("name");
    QTest::newRow("10") << "0011001234" << "VELOR 10";
    QTest::newRow("02") << "0010200100" << "VELOR 02";
    QTest::newRow("other") << "0011101234" << "UNKNOWN";
}

void TestOperationItem::modelNameFromVersion()
{
    QFETCH(QString, version);
    QTEST(GUI::pumpModelName(version), "name");
}

QTEST_GUILESS_MAIN(TestOperationItem)
#include "tst_operationitem.moc"
