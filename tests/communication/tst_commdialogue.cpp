#include "commdialogue.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

// The port list against a scripted set of system ports.
class TestCommDialogue : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void itemsAreSortedByText_data();
    void itemsAreSortedByText();
    void rowReportsFirstReportedPortOfThatName();
    void rowWithoutItemReportsNoPort_data();
    void rowWithoutItemReportsNoPort();
    void selectPortSearchesFromTheEnd();
    void selectPortOfAbsentNameChangesNothing();
    void updatePortsReportsNothingAndConnectsOnce();
    void paintChoosesTheMiddleRow();
    void paintBelowTheLastEntryReportsNoPort();
    void extraPathsAreListedAndKept();

private:
    void setPorts(const QList<CommDialogue::PortEntry>& entries);
    static QStringList itemTexts(const CommDialogue& list);
    static QString reportedPath(const QSignalSpy& spy, int index = -1);
};

void TestCommDialogue::setPorts(const QList<CommDialogue::PortEntry>& entries)
{
    CommDialogue::setPortSource([entries] { return entries; });
}

QStringList TestCommDialogue::itemTexts(const CommDialogue& list)
{
    QStringList texts;
    for (int row = 0; row < list.count(); ++row)
        texts.append(list.item(row)->text());
    return texts;
}

QString TestCommDialogue::reportedPath(const QSignalSpy& spy, int index)
{
    return spy.at(index < 0 ? spy.count() + index : index).at(0).toString();
}

void TestCommDialogue::init()
{
    setPorts({{"COM3", "/dev/c3", {}}, {"COM1", "/dev/c1", {}}, {"COM10", "/dev/c10", {}}});
}

void TestCommDialogue::cleanup()
{
    CommDialogue::setPortSource({});
}

void TestCommDialogue::itemsAreSortedByText_data()
{
    QTest::addColumn<QStringList>("reported");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("text order, not number order")
        << QStringList{"COM3", "COM1", "COM10"} << QStringList{"COM1", "COM10", "COM3"};
    QTest::newRow("case-sensitive") << QStringList{"ttyS1", "COM2", "ttyACM0"}
                                    << QStringList{"COM2", "ttyACM0", "ttyS1"};
    QTest::newRow("none") << QStringList{} << QStringList{};
}

void TestCommDialogue::itemsAreSortedByText()
{
    QFETCH(QStringList, reported);
    QFETCH(QStringList, listed);
    QList<CommDialogue::PortEntry> entries;
    for (const QString& name : reported)
        entries.append({name, "/dev/" + name, {}});
    setPorts(entries);

    CommDialogue list;
    QCOMPARE(itemTexts(list), listed);
    QCOMPARE(list.ports.size(), reported.size());
}

void TestCommDialogue::rowReportsFirstReportedPortOfThatName()
{
    setPorts({{"COM2", "/dev/first", {}}, {"COM1", "/dev/one", {}}, {"COM2", "/dev/second", {}}});
    CommDialogue list;
    QSignalSpy infos(&list, &CommDialogue::comPortChange);
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);

    for (int row : {1, 2, 0}) {
        list.setCurrentRow(row);
        QCOMPARE(reportedPath(paths), list.item(row)->text() == "COM1" ? "/dev/one" : "/dev/first");
    }
    QCOMPARE(infos.count(), 3);
    QCOMPARE(paths.count(), 3);
}

void TestCommDialogue::rowWithoutItemReportsNoPort_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("no current row") << -1;
    QTest::newRow("past the end") << 3;
}

void TestCommDialogue::rowWithoutItemReportsNoPort()
{
    QFETCH(int, row);
    CommDialogue list;
    QSignalSpy infos(&list, &CommDialogue::comPortChange);
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);

    list.setComPortFromList(row);
    QCOMPARE(infos.count(), 1);
    QVERIFY(infos.at(0).at(0).value<QSerialPortInfo>().isNull());
    QCOMPARE(reportedPath(paths), QString());
}

void TestCommDialogue::selectPortSearchesFromTheEnd()
{
    setPorts({{"COM1", "/dev/a", {}}, {"COM1", "/dev/b", {}}, {"COM0", "/dev/z", {}}});
    CommDialogue list;
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);

    list.selectPort("COM1");
    QCOMPARE(list.currentRow(), 2);
    QVERIFY(list.currentItem()->isSelected());
    QCOMPARE(paths.count(), 1);
    QCOMPARE(reportedPath(paths), "/dev/a");
}

void TestCommDialogue::selectPortOfAbsentNameChangesNothing()
{
    CommDialogue list;
    list.selectPort("COM10");
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);

    for (const char* absent : {"COM7", "com10", ""})
        list.selectPort(absent);
    QCOMPARE(list.currentItem()->text(), "COM10");
    QCOMPARE(paths.count(), 0);
}

void TestCommDialogue::updatePortsReportsNothingAndConnectsOnce()
{
    CommDialogue list;
    list.selectPort("COM3");
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);

    setPorts({{"COM4", "/dev/c4", {}}, {"COM5", "/dev/c5", {}}});
    list.updatePorts();
    list.updatePorts();
    QCOMPARE(paths.count(), 0);
    QCOMPARE(itemTexts(list), (QStringList{"COM4", "COM5"}));

    list.setCurrentRow(1);
    QCOMPARE(paths.count(), 1);
    QCOMPARE(reportedPath(paths), "/dev/c5");
}

void TestCommDialogue::paintChoosesTheMiddleRow()
{
    QList<CommDialogue::PortEntry> entries;
    for (int i = 0; i < 8; ++i)
        entries.append({QString("COM%1").arg(i), QString("/dev/c%1").arg(i), {}});
    setPorts(entries);
    CommDialogue list;
    list.setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    list.resize(160, 3 * list.sizeHintForRow(0) + 2 * list.frameWidth());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);

    list.verticalScrollBar()->setValue(4);
    list.viewport()->repaint();

    const QListWidgetItem* middle = list.itemAt(list.width() / 2, list.height() / 2);
    QVERIFY(middle);
    QCOMPARE(list.currentItem(), middle);
    QCOMPARE(list.currentRow(), 5);
    QVERIFY(!paths.isEmpty());
    QCOMPARE(reportedPath(paths), "/dev/c5");
}

void TestCommDialogue::paintBelowTheLastEntryReportsNoPort()
{
    CommDialogue list;
    list.resize(160, 20 * list.sizeHintForRow(0));
    list.setCurrentRow(0);
    QSignalSpy infos(&list, &CommDialogue::comPortChange);
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.viewport()->repaint();

    QCOMPARE(list.currentRow(), -1);
    QVERIFY(!infos.isEmpty());
    QVERIFY(infos.last().at(0).value<QSerialPortInfo>().isNull());
    QCOMPARE(reportedPath(paths), QString());
}

void TestCommDialogue::extraPathsAreListedAndKept()
{
    CommDialogue list;
    list.addExtraPort("/dev/pts/7");
    list.addExtraPort("/dev/pts/7");
    list.addExtraPort("");
    QCOMPARE(itemTexts(list), (QStringList{"/dev/pts/7", "COM1", "COM10", "COM3"}));
    QCOMPARE(list.extraPorts(), QStringList{"/dev/pts/7"});
    QCOMPARE(list.ports.size(), 3);

    setPorts({{"COM9", "/dev/c9", {}}});
    list.updatePorts();
    QCOMPARE(itemTexts(list), (QStringList{"/dev/pts/7", "COM9"}));

    QSignalSpy infos(&list, &CommDialogue::comPortChange);
    QSignalSpy paths(&list, &CommDialogue::comPortPathChange);
    list.selectPort("/dev/pts/7");
    QCOMPARE(list.currentRow(), 0);
    QCOMPARE(infos.count(), 1);
    QCOMPARE(reportedPath(paths), "/dev/pts/7");
}

QTEST_MAIN(TestCommDialogue)
#include "tst_commdialogue.moc"
