// Several pumps on one bus under the real window: found by the search, listed beside the
// panel, each row steering its own pump, Stop all reaching every one.
#include "controlserver.h"
#include "instancenumber.h"
#include "pumpfleet.h"
#include "pumpspanel.h"
#include "pumpstate.h"
#include "runrecorder.h"
#include "runview.h"
#include "windowrig.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

class TestPumps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bus_data();
    void bus();
    void script_data();
    void script();
    void lines_data();
    void lines();
    void record();

private:
    QTemporaryDir runtime;
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

// A shown window on a line with the pumps at 0 and further, every one of them listed.
std::unique_ptr<WindowRig> busRig(const QString& pumps, bool listed)
{
    WindowRig::Options options;
    options.polling = true;
    options.furtherPumps = further(pumps);
    auto rig = std::make_unique<WindowRig>(options);
    rig->window->show();
    rig->window->activateWindow();
    if (!QTest::qWaitForWindowActive(rig->window.get()) || !listed)
        return rig;
    QList<int> addresses{0};
    for (const auto& pump : options.furtherPumps)
        if (!addresses.contains(pump.address))
            addresses.append(pump.address);
    for (int address : addresses)
        rig->window->addPump(QString(), address);
    return rig;
}

} // namespace

void TestPumps::initTestCase()
{
    // The panel's socket and dosedeskctl's search for it both look in this folder only.
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

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
    const std::unique_ptr<WindowRig> made = busRig(pumps, act != Act::Search);
    WindowRig& rig = *made;
    QVERIFY(rig.pump.isRunning());
    mainForm& window = *rig.window;
    QVERIFY(window.isActiveWindow());
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
    if (act != Act::RowStart)
        return;
    QVERIFY(rig.waitUntil([&] { return cell(table, row, PumpsPanel::State) == "running"; }) >= 0);
    // Each row's command has its verdict under the list, a refusal included.
    auto* note = child<QLabel>(&window, "labelPumpsNote");
    QCOMPARE(note->text(), QStringLiteral("Pump 5: Start taken"));
    rig.pump.modifyFaults([](Simulator::Faults& faults) { faults.refusedCode = "KY3"; });
    QTest::mouseClick(rowButton("Pause"), Qt::LeftButton);
    QVERIFY(rig.waitUntil([&] { return note->text() == "Pump 5: Pause refused by the pump"; })
            >= 0);
}

void TestPumps::script_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("out"); // a pattern
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("unsent");

    QTest::newRow("pumps") << QStringList{"pumps"} << 0
                           << "^Pump 0: 0 on [^\n]*, online, stopped.*\n"
                              "Media \\(shown\\): 5 on [^\n]*, online, .*\nPump 7: 7 on .*\n$"
                           << "^$" << QStringList{} << QStringList{};
    QTest::newRow("a pump by its name")
        << QStringList{"--pump", "Media", "start"} << 0 << "^$"
        << "^$" << QStringList{"05KY1"} << QStringList{"00KY1", "07KY1"};
    // 50 ml/min is within the large model's range (at 7), beyond the small one's (at 5).
    QTest::newRow("a pump by its address, judged by its model")
        << QStringList{"--pump", "7", "set-flow", "50"} << 0 << "^$"
        << "^$" << QStringList{"07RV00050000"} << QStringList{"00RV00050000", "05RV00050000"};
    QTest::newRow("the small model's range for the small pump")
        << QStringList{"--pump", "Media", "set-flow", "50"} << 2 << "^$"
        << "set-flow: 50 is out of range; accepted: 0.03 to 20 ml/min" << QStringList{}
        << QStringList{"RV00050000"};
    QTest::newRow("stop-all") << QStringList{"stop-all"} << 0 << "^stopped: 3\n$"
                              << "^$" << QStringList{"00KY0", "05KY0", "07KY0"} << QStringList{};
    QTest::newRow("a name the list does not hold")
        << QStringList{"--pump", "Waste", "start"} << 2 << "^$"
        << "no pump \"Waste\" in the panel's list" << QStringList{} << QStringList{"KY1"};
    QTest::newRow("--pump with a line of the tool's own")
        << QStringList{"--port", "/dev/null", "--pump", "5", "status"} << 2 << "^$"
        << "--pump picks a pump of a running panel" << QStringList{} << QStringList{};
}

void TestPumps::script()
{
    const std::unique_ptr<WindowRig> rig = busRig("5:102,7:110", true);
    mainForm& window = *rig->window;
    // The user chooses the pump at 5 and names it in its row.
    auto* table = child<QTableWidget>(&window, "tablePumps");
    const QRect name = table->visualItemRect(table->item(1, PumpsPanel::Name));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, name.center());
    QTest::keyClick(table, Qt::Key_F2);
    QTRY_VERIFY(QApplication::focusWidget() && QApplication::focusWidget() != table);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "Media");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(window.pumpFleet().roster().at(1).name, QStringLiteral("Media"));
    // Every pump has answered and told its model.
    const auto told = [&] {
        const QJsonArray pumps = window.pumpFleet().toJson();
        return std::all_of(pumps.begin(), pumps.end(), [](const QJsonValue& pump) {
            return pump["connection"] == "online" && !pump["model"].toString().isEmpty();
        });
    };
    QVERIFY(rig->waitUntil(told, 15000) >= 0);

    Control::ControlServer server(rig->session);
    server.setFleet(&window.pumpFleet());
    QVERIFY(server.listen(Control::ControlServer::socketPath(instanceNumber())));
    rig->pump.clearLog();
    QFETCH(QStringList, arguments);
    QProcess program;
    program.start(QStringLiteral(DOSEDESKCTL), arguments);
    QVERIFY(rig->waitUntil([&] { return program.state() == QProcess::NotRunning; }, 30000) >= 0);
    const QString printed = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString complained = QString::fromLocal8Bit(program.readAllStandardError());
    QFETCH(QString, out);
    QFETCH(QString, err);
    QVERIFY2(QRegularExpression(out).match(printed).hasMatch(), qPrintable(printed));
    QVERIFY2(QRegularExpression(err).match(complained).hasMatch(), qPrintable(complained));
    QTEST(program.exitCode(), "exit");
    QFETCH(QStringList, sent);
    for (const QString& body : sent)
        QVERIFY2(rig->waitForBody(body.toLatin1()), qPrintable(body));
    const QList<QByteArray> bodies = rig->bodiesUntilMarker();
    QFETCH(QStringList, unsent);
    for (const QString& body : unsent)
        QVERIFY2(std::none_of(bodies.begin(), bodies.end(),
                              [&](const QByteArray& sentBody) {
                                  return sentBody.endsWith(body.toLatin1());
                              }),
                 qPrintable(body));
}

void TestPumps::lines_data()
{
    QTest::addColumn<Act>("act");
    QTest::addColumn<QStringList>("sentA"); // bodies the pumps on the panel's line must receive
    QTest::addColumn<QStringList>("sentB"); // those on the second line
    QTest::addColumn<QStringList>("connections");

    const QStringList online{"online", "online", "online"};
    QTest::newRow("Stop all reaches both lines")
        << Act::StopAllKeys << QStringList{"00KY0", "05KY0"} << QStringList{"03KY0"} << online;
    QTest::newRow("a row's Start on the second line")
        << Act::RowStart << QStringList{} << QStringList{"03KY1"} << online;
    QTest::newRow("the second line lost, the first unaffected")
        << Act::SwitchOff << QStringList{"05?TV"} << QStringList{}
        << QStringList{"online", "online", PumpState::LineLost};
    QTest::newRow("choosing a pump on the second line moves the panel there")
        << Act::ChooseRow << QStringList{"05?TV"} << QStringList{"03?SV", "03?RV"} << online;
}

void TestPumps::lines()
{
    QFETCH(Act, act);
    const std::unique_ptr<WindowRig> rig = busRig("5:102", true);
    mainForm& window = *rig->window;
    Simulator::PtyPump::Options second;
    second.address = 3;
    second.pacing = false;
    second.turnaroundMs = 0;
    Simulator::PtyPump other(second);
    QVERIFY(other.start());
    QCOMPARE(window.addPump(other.devicePath(), 3), QString());
    auto* table = child<QTableWidget>(&window, "tablePumps");
    QCOMPARE(table->rowCount(), 3);
    // A pump listed twice, an address no frame carries and a line that cannot be opened.
    const QString missing = rig->folder.filePath("missing");
    QCOMPARE(window.addPump(other.devicePath(), 3),
             QStringLiteral("the pump at address 3 on %1 is in the list already")
                 .arg(other.devicePath()));
    QCOMPARE(window.addPump(QString(), 99), QStringLiteral("address 99 is not one of 0 to 98"));
    QVERIFY(window.addPump(missing, 1).contains("missing"));
    QCOMPARE(table->rowCount(), 3);
    const auto settled = [&](const QStringList& connections) {
        for (int i = 0; i < connections.size(); ++i)
            if (cell(table, i, PumpsPanel::Connection) != connections.at(i))
                return false;
        return true;
    };
    QVERIFY(rig->waitUntil([&] { return settled({"online", "online", "online"}); }, 15000) >= 0);
    rig->pump.clearLog();
    other.clearLog();

    if (act == Act::StopAllKeys)
        QTest::keySequence(&window, PumpsPanel::StopAllKeys);
    else if (act == Act::RowStart)
        QTest::mouseClick(child<QToolButton>(table, "buttonStartRow2"), Qt::LeftButton);
    else if (act == Act::SwitchOff)
        other.unplug();
    else if (act == Act::ChooseRow)
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualItemRect(table->item(2, PumpsPanel::Name)).center());

    QFETCH(QStringList, sentA);
    for (const QString& body : sentA)
        QVERIFY2(rig->waitForBody(body.toLatin1(), 15000), qPrintable(body));
    QFETCH(QStringList, sentB);
    for (const QString& body : sentB)
        QVERIFY2(other.waitForFrames(1, 15000) && rig->waitUntil([&] {
            const QList<QByteArray> frames = other.receivedFrames();
            return std::any_of(frames.begin(), frames.end(),
                               [&](const QByteArray& f) { return f.contains(body.toLatin1()); });
        }) >= 0,
                 qPrintable(body));
    if (act == Act::RowStart)
        QVERIFY(!rig->bodiesUntilMarker().join(' ').contains("KY1"));
    QFETCH(QStringList, connections);
    QVERIFY2(rig->waitUntil([&] { return settled(connections); }, 15000) >= 0,
             qPrintable(cell(table, 0, PumpsPanel::Connection) + " | "
                        + cell(table, 1, PumpsPanel::Connection) + " | "
                        + cell(table, 2, PumpsPanel::Connection)));
    if (act == Act::ChooseRow) {
        QCOMPARE(rig->ui().comboCommAddress->currentIndex(), 3);
        QVERIFY(rig->waitUntil([&] {
            return rig->communication.chosenPath() == other.devicePath()
                   && rig->communication.isOpen();
        }) >= 0);
        QVERIFY(window.windowTitle().contains(QStringLiteral("Pump 3  (ADDR 3")));
        // The panel's old line is read on a line of the list's own now: both its pumps.
        rig->pump.clearLog();
        QVERIFY(rig->waitForBody("00?TV", 15000));
        QVERIFY(rig->waitForBody("05?TV", 15000));
    }
    if (act != Act::StopAllKeys)
        return;
    // The pump at 5 leaves the list, and the list this copy keeps.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(1, PumpsPanel::Name)).center());
    QTest::mouseClick(child<QPushButton>(&window, "buttonRemovePump"), Qt::LeftButton);
    QCOMPARE(table->rowCount(), 2);
    QSettings stored(Constants::OrganisationName, Constants::ApplicationName);
    GUI::PumpRoster kept;
    kept.load(stored, window.settingsPrefix());
    QCOMPARE(kept.count(), 2);
    QCOMPARE(kept.at(1).port, other.devicePath());
    QCOMPARE(kept.at(1).address, 3);
}

// The events of the record's rows for each pump address, samples left out.
QMap<QString, QStringList> recordedEvents(const QString& path)
{
    QFile file(path);
    QMap<QString, QStringList> events;
    if (!file.open(QIODevice::ReadOnly))
        return events;
    const int event = GUI::RunRecorder::Columns.indexOf("event");
    const int address = GUI::RunRecorder::Columns.indexOf("pump address");
    for (const QString& line :
         QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u',');
        if (fields.size() > event && fields.at(event) != GUI::RunRecorder::SampleEvent)
            events[fields.at(address)].append(fields.at(event));
    }
    return events;
}

void TestPumps::record()
{
    const std::unique_ptr<WindowRig> rig = busRig("5:102,7:110", true);
    mainForm& window = *rig->window;
    auto* table = child<QTableWidget>(&window, "tablePumps");
    const auto running = [&](int row) { return cell(table, row, PumpsPanel::State) == "running"; };
    // Only the rows from here on count: the file of the day holds earlier tests' rows.
    const QString path = window.runPanel().recorder().currentFile();
    const QMap<QString, QStringList> before = recordedEvents(path);
    const auto since = [&](const QString& address) {
        return recordedEvents(path).value(address).mid(before.value(address).size());
    };
    // The pump at 5 runs from its row, the shown one from the window's own Start.
    QTest::mouseClick(child<QToolButton>(table, "buttonStartRow1"), Qt::LeftButton);
    QTest::mouseClick(rig->ui().buttonStart, Qt::LeftButton);
    QVERIFY(rig->waitUntil([&] { return running(0) && running(1); }, 15000) >= 0);
    // The window turns to the pump at 5 while both run; the chart starts anew with it.
    const RunChart& chart = window.runPanel().chart();
    QVERIFY(rig->waitUntil([&] { return chart.pointCount() > 0; }) >= 0);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(1, PumpsPanel::Name)).center());
    QCOMPARE(chart.pointCount(), 0);
    QVERIFY(rig->waitUntil([&] { return rig->ui().comboCommAddress->currentIndex() == 5; }) >= 0);
    QVERIFY(rig->waitUntil([&] { return chart.pointCount() > 0; }) >= 0);
    // Stop all ends both runs.
    QTest::keySequence(&window, PumpsPanel::StopAllKeys);
    const QStringList run{"start", "stopped from the panel or a script"};
    QVERIFY2(rig->waitUntil([&] { return since("0") == run && since("5") == run; }, 15000) >= 0,
             qPrintable(since("0").join('|') + " / " + since("5").join('|')));
    // The pump that did not run has no run in the record.
    QVERIFY(since("7").isEmpty());
}

QTEST_MAIN(TestPumps)
#include "tst_pumps.moc"
