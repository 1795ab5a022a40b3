// Several pumps on one bus under the real window: found by the search, listed beside the
// panel, each row steering its own pump, Stop all reaching every one.
#include "pumpfleet.h"
#include "pumpspanel.h"
#include "pumpstate.h"
#include "windowrig.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

class TestPumps : public QObject
{
    Q_OBJECT

private slots:
    void bus_data();
    void bus();
};

namespace {

enum class Act { Search, RowStart, StopAllKeys, SwitchOff, ChooseRow, Nothing };

// "5:102,7:110": the pumps beside the first one (at 0, model 110) on the line.
QList<Simulator::PtyPump::BusPump> further(const QString& text)
{
    QList<Simulator::PtyPump::BusPump> pumps;
    for (const QString& pump : text.split(u',', Qt::SkipEmptyParts))
        pumps.append({pump.section(u':', 0, 0).toInt(), pump.section(u':', 1, 1).toInt()});
    return pumps;
}

QString cell(QTableWidget* table, int row, int column)
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

// Presses OK in the dialogue of that name once it is shown (it runs its own event loop).
void acceptWhenShown(const QString& name, QStringList* listed)
{
    auto* watch = new QTimer(qApp);
    QObject::connect(watch, &QTimer::timeout, watch, [watch, name, listed] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != name)
            return;
        for (auto* list : dialog->findChildren<QListWidget*>())
            for (int i = 0; i < list->count(); ++i)
                listed->append(list->item(i)->text());
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        watch->deleteLater();
    });
    watch->start(20);
}

} // namespace

using Control::PumpState;

void TestPumps::bus_data()
{
    QTest::addColumn<QString>("pumps"); // beside the one at address 0
    QTest::addColumn<Act>("act");
    QTest::addColumn<int>("row");          // the row acted on
    QTest::addColumn<QStringList>("sent"); // frame bodies the pumps must receive
    QTest::addColumn<QStringList>("unsent");
    QTest::addColumn<QStringList>("connections"); // per row, once settled

    const QStringList online{"online", "online", "online"};
    QTest::newRow("search offers every pump")
        << "5:102,7:110" << Act::Search << -1 << QStringList{"05?SI", "07?SI", "98?SI"}
        << QStringList{} << online;
    QTest::newRow("a row's Start reaches its pump alone")
        << "5:102,7:110" << Act::RowStart << 1 << QStringList{"05KY1"}
        << QStringList{"00KY1", "07KY1"} << online;
    QTest::newRow("Stop all reaches every pump")
        << "5:102,7:110" << Act::StopAllKeys << -1 << QStringList{"00KY0", "05KY0", "07KY0"}
        << QStringList{} << online;
    QTest::newRow("a pump switched off shows on its row alone")
        << "5:102,7:110" << Act::SwitchOff << 1 << QStringList{"07?TV"} << QStringList{}
        << QStringList{"online", PumpState::NotAnswering, "online"};
    QTest::newRow("two pumps at one address")
        << "5:102,5:110,7:110" << Act::Nothing << -1 << QStringList{"05?TV", "07?TV"}
        << QStringList{} << QStringList{"online", PumpState::Conflict, "online"};
    QTest::newRow("choosing a row shows that pump")
        << "5:102,7:110" << Act::ChooseRow << 2 << QStringList{"07?SV", "07?RV"} << QStringList{}
        << online;
    QTest::newRow("one pump: no list, Stop all still stops")
        << "" << Act::StopAllKeys << -1 << QStringList{"00KY0"} << QStringList{} << QStringList{};
}

void TestPumps::bus()
{
    QFETCH(QString, pumps);
    QFETCH(Act, act);
    QFETCH(int, row);
    WindowRig::Options options;
    options.polling = true;
    options.furtherPumps = further(pumps);
    WindowRig rig(options);
    QVERIFY(rig.pump.isRunning());
    mainForm& window = *rig.window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* table = child<QTableWidget>(&window, "tablePumps");
    auto* list = child<PumpsPanel>(&window, "groupPumps");

    QStringList listed;
    if (act == Act::Search) {
        acceptWhenShown(QStringLiteral("dialogPumpsFound"), &listed);
        rig.ui().buttonSearchPump->click();
        QVERIFY2(
            rig.waitUntil([&] { return table->rowCount() == 3; }, 30000) >= 0,
            qPrintable(listed.join(u',') + " / " + rig.ui().labelLocatedAddressIndicator->text()));
        QCOMPARE(listed, (QStringList{"Address 0", "Address 5", "Address 7"}));
        QCOMPARE(rig.ui().labelLocatedAddressIndicator->text(), QStringLiteral("0,5,7"));
    } else {
        QList<int> addresses{0};
        for (const auto& pump : options.furtherPumps)
            if (!addresses.contains(pump.address))
                addresses.append(pump.address);
        for (int address : addresses)
            QCOMPARE(window.addPump(QString(), address), QString());
    }
    QCOMPARE(list->isVisibleTo(&window), table->rowCount() > 1);

    const auto rowButton = [&](const char* key) {
        return child<QToolButton>(table,
                                  qPrintable(QStringLiteral("button%1Row%2").arg(key).arg(row)));
    };
    if (act == Act::RowStart)
        QTest::mouseClick(rowButton("Start"), Qt::LeftButton);
    else if (act == Act::StopAllKeys)
        QTest::keySequence(&window, PumpsPanel::StopAllKeys);
    else if (act == Act::SwitchOff)
        rig.pump.setPowered(window.pumpFleet().roster().at(row).address, false);
    else if (act == Act::ChooseRow)
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(row, PumpsPanel::Name)).center());

    QFETCH(QStringList, sent);
    for (const QString& body : sent)
        QVERIFY2(rig.waitForBody(body.toLatin1(), 20000), qPrintable(body));
    const QList<QByteArray> bodies = rig.bodiesUntilMarker();
    QFETCH(QStringList, unsent);
    for (const QString& body : unsent)
        QVERIFY2(!bodies.contains(body.toLatin1()), qPrintable(body));

    QFETCH(QStringList, connections);
    const auto settled = [&] {
        for (int i = 0; i < connections.size(); ++i)
            if (cell(table, i, PumpsPanel::Connection) != connections.at(i))
                return false;
        return true;
    };
    QVERIFY2(rig.waitUntil(settled, 15000) >= 0,
             qPrintable(cell(table, 0, PumpsPanel::Connection) + " | "
                        + cell(table, 1, PumpsPanel::Connection) + " | "
                        + cell(table, 2, PumpsPanel::Connection)));
    if (act == Act::ChooseRow) {
        QCOMPARE(rig.ui().comboCommAddress->currentIndex(), 7);
        QVERIFY(rig.waitUntil([&] { return window.windowTitle().contains("Pump 7  (ADDR 7"); })
                >= 0);
        QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), row);
    }
    if (act == Act::RowStart)
        QVERIFY(rig.waitUntil([&] { return cell(table, row, PumpsPanel::State) == "running"; })
                >= 0);
}

QTEST_MAIN(TestPumps)
#include "tst_pumps.moc"
