// The run record against the simulated pump through the real window, and its file on its own.

#include "runview.h"
#include "windowrig.h"

#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// Thousandths of a millilitre the runs dispense: 3 ml at 30 ml/min, six seconds.
constexpr qint64 TargetVolume = 3000;
constexpr qint64 FlowRate = 30000;
constexpr int EventColumn = 3;
constexpr int ModeColumn = 4;
constexpr int DeliveredColumn = 8;
// How the run is brought to its end.
enum class Ending { Target, ScriptStop, MasterStop };

// Every row of every file in the folder, oldest file first, headers left out.
QList<QStringList> recordedRows(const QString& folder)
{
    QList<QStringList> rows;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        for (const QString& line : lines.mid(1))
            if (!line.isEmpty())
                rows.append(line.split(u','));
    }
    return rows;
}

QStringList eventsOf(const QList<QStringList>& rows)
{
    QStringList events;
    for (const QStringList& row : rows)
        events.append(row.value(EventColumn));
    return events;
}

} // namespace

class RunRecordTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dispenseRun_data();
    void dispenseRun();
    void recordFile_data();
    void recordFile();

private:
    QTemporaryDir dataHome;
};

void RunRecordTest::initTestCase()
{
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
}

void RunRecordTest::dispenseRun_data()
{
    QTest::addColumn<bool>("unplug");
    QTest::addColumn<int>("folderGone");     // 0 never, 1 before the run, 2 while it runs
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<QStringList>("events"); // without the samples

    QTest::newRow("dispense by volume")
        << false << 0 << Ending::Target << QStringList{"start", "target reached"};
    QTest::newRow("unplugged in the middle")
        << true << 0 << Ending::Target
        << QStringList{"start", "line lost", "line back", "target reached"};
    QTest::newRow("stopped by a script")
        << false << 0 << Ending::ScriptStop
        << QStringList{"start", "stopped from the panel or a script"};
    QTest::newRow("master stop") << false << 0 << Ending::MasterStop
                                 << QStringList{"start", "stopped at the pump: master stop"};
    // A file stands where the folder belongs: nothing can be written there, even as root.
    QTest::newRow("folder cannot be written") << false << 1 << Ending::Target << QStringList();
    QTest::newRow("folder removed while running") << false << 2 << Ending::Target << QStringList();
}

void RunRecordTest::dispenseRun()
{
    QFETCH(bool, unplug);
    QFETCH(int, folderGone);
    const bool folderBlocked = folderGone != 0;
    QFETCH(Ending, ending);
    QFETCH(QStringList, events);

    WindowRig::Options options;
    options.polling = true;
    WindowRig rig(options);
    GUI::RunRecorder& recorder = rig.window->runPanel().recorder();
    const QString folder = recorder.folder();
    QDir(folder).removeRecursively();
    QFile::remove(folder);
    if (folderGone == 1) {
        QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    // The pump holds other settings until the run's come, as a script sends them.
    rig.pump.setValue("MS", 0);
    rig.pump.setValue("RV", FlowRate / 4);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.window->isConnectionLost(), 10000);
    QSignalSpy samples(&recorder, &GUI::RunRecorder::sampleTaken);
    QSignalSpy failures(&recorder, &GUI::RunRecorder::recordFailed);

    rig.window->show();
    using Origin = BusinessLogic::CommandStack::Origin;
    namespace Table = BusinessLogic::CommandTable;
    auto send = [&rig](const BusinessLogic::CommandTraits& traits, qint64 value) {
        rig.stack.addCommand(rig.table.at(std::size_t(traits.spezifier)), qint32(value), true,
                             Origin::User);
    };
    send(Table::setDispenseModeVolume, 0);
    send(Table::setVolume, TargetVolume);
    send(Table::setFlowRate, FlowRate);
    QVERIFY(rig.waitForBody("00RV" + QByteArray::number(FlowRate).rightJustified(8, '0')));
    QTest::mouseClick(rig.ui().buttonStart, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.isRunOpen(), 5000);
    const QString screenshotDir = qEnvironmentVariable("DOSEDESK_SCREENSHOT_DIR");
    if (!screenshotDir.isEmpty() && !unplug && !folderBlocked) {
        // Pictures for the documentation, half way through the run.
        QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 7, 5000);
        rig.ui().buttonAdvanced->click();
        rig.ui().TabsExtendedSettings->setCurrentWidget(rig.ui().TabStatus);
        rig.window->triggerUpdateValues();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        rig.window->grab().save(screenshotDir + QStringLiteral("/state-running.png"));
        rig.ui().TabsExtendedSettings->setCurrentIndex(4);
        rig.window->triggerUpdateValues();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        rig.window->grab().save(screenshotDir + QStringLiteral("/run-tab.png"));
        rig.ui().frameActual->grab().save(screenshotDir + QStringLiteral("/run-progress.png"));
    }
    if (ending != Ending::Target)
        QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 2, 5000);
    if (ending == Ending::ScriptStop)
        send(Table::stop, 0);
    rig.pump.setMasterStop(ending == Ending::MasterStop);
    if (folderGone == 2) {
        QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 2, 5000);
        QVERIFY(QDir(folder).removeRecursively());
    }
    if (unplug) {
        QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 2, 5000);
        QVERIFY(rig.pump.unplug());
        QTRY_VERIFY_WITH_TIMEOUT(eventsOf(recordedRows(folder)).contains("line lost"), 5000);
        if (!screenshotDir.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(!rig.showsConnected() && !rig.connectionText().isEmpty(), 10000);
            rig.window->grab().save(screenshotDir + QStringLiteral("/state-disconnected.png"));
        }
        QVERIFY(rig.pump.replug());
        rig.communication.setCommPortPath(rig.pump.devicePath());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRunOpen(), 20000);
    rig.pump.setMasterStop(false);
    // The pump dosed its target whatever became of the record.
    QCOMPARE(rig.pump.value("TV").value_or(-1) == TargetVolume, ending == Ending::Target);

    const QList<QStringList> rows = recordedRows(folder);
    if (folderBlocked) {
        QCOMPARE(failures.count(), 1);
        const QLabel& note = rig.window->runPanel().recordStateLine();
        QVERIFY2(note.isVisible() && note.text().startsWith(RunPanel::NotWrittenText),
                 qPrintable(note.text()));
        QVERIFY(rows.isEmpty());
        return;
    }
    QCOMPARE(failures.count(), 0);
    QStringList seen = eventsOf(rows);
    seen.removeAll(QStringLiteral("sample"));
    QCOMPARE(seen, events);
    // Delivered volumes only rise, none is missing, and the run ends at its target.
    double previous = 0.0;
    int sampleRows = 0;
    for (const QStringList& row : rows) {
        QCOMPARE(row.size(), GUI::RunRecorder::Columns.size());
        // From the first row on: the settings the run was started with.
        QCOMPARE(row.mid(ModeColumn, 3), (QStringList{"volume", "30.000", "3.000"}));
        if (row.at(EventColumn) != QLatin1String("sample"))
            continue;
        ++sampleRows;
        bool isNumber = false;
        const double delivered = row.at(DeliveredColumn).toDouble(&isNumber);
        QVERIFY2(isNumber && delivered >= previous, qPrintable(row.join(u',')));
        previous = delivered;
    }
    QVERIFY(sampleRows >= (ending == Ending::Target ? 4 : 2));
    if (ending == Ending::Target)
        QCOMPARE(rows.last().at(DeliveredColumn), QStringLiteral("3.000"));
    QCOMPARE(rig.window->runPanel().chart().pointCount(), samples.count());
}

void RunRecordTest::recordFile_data()
{
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<QStringList>("rows");  // fields split at "|"
    QTest::addColumn<QStringList>("files"); // name and whole text, in turn

    QTest::newRow("plain and quoted fields")
        << QStringList(3, QStringLiteral("2026-12-06T10:00:00.000Z"))
        << QStringList{"12.500|start", "a,b|say \"hi\"", "two\nlines|"}
        << QStringList{"2026-12-06-copy9.csv",
                       "time,event\r\n12.500,start\r\n\"a,b\",\"say \"\"hi\"\"\"\r\n"
                       "\"two\nlines\",\r\n"};
    QTest::newRow("run across midnight UTC")
        << QStringList{"2026-12-06T23:59:59.900Z", "2026-12-07T00:00:00.100Z",
                       "2026-12-07T01:00:00.100+01:00"}
        << QStringList{"1|sample", "2|sample", "3|finished"}
        << QStringList{"2026-12-06-copy9.csv", "time,event\r\n1,sample\r\n", "2026-12-07-copy9.csv",
                       "time,event\r\n2,sample\r\n3,finished\r\n"};
}

void RunRecordTest::recordFile()
{
    QFETCH(QStringList, times);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, files);

    const QTemporaryDir dir;
    {
        GUI::RunRecordFile record(dir.filePath(QStringLiteral("runs")), QStringLiteral("copy9"),
                                  {QStringLiteral("time"), QStringLiteral("event")});
        for (int i = 0; i < rows.size(); ++i)
            QVERIFY(record.append(QDateTime::fromString(times.at(i), Qt::ISODateWithMs),
                                  rows.at(i).split(u'|')));
    }
    const QDir runs(dir.filePath(QStringLiteral("runs")));
    QStringList found;
    for (const QString& name : runs.entryList(QDir::Files, QDir::Name)) {
        QFile file(runs.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        found << name << QString::fromUtf8(file.readAll());
    }
    QCOMPARE(found, files);
}

QTEST_MAIN(RunRecordTest)
#include "tst_runrecord.moc"
