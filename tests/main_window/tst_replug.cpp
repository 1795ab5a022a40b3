// The line to the pump comes and goes under the window: it comes back by itself at the same path
// with the pump's own values, sends nothing from before the loss again, records the gap in the
// messages panel, and says in words why a port cannot be opened.
#include "linereopener.h"
#include "windowrig.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTemporaryDir>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QString Connected = QStringLiteral("PUMP CONNECTED");
// Only stops a test that would otherwise wait for ever: the waits end on what they wait for, and
// a loaded machine may take seconds longer than a quiet one.
constexpr int GiveUpMs = 30000;
constexpr qint64 PumpFlowRate = 23450; // shown as 23.45 (ml/min)

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).count());
}

// Root opens any file whatever its mode: without the override capabilities this thread is held
// to a device's rights like any user (a no-op for a user, who is held to them anyway).
void overrideRights(bool allowed)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    syscall(SYS_capget, &header, data);
    const quint32 rights = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective = allowed ? data[0].effective | (data[0].permitted & rights)
                                : data[0].effective & ~rights;
    syscall(SYS_capset, &header, data);
}

// The frames the pump received that change something on it (anything but a reading or the
// address-only check).
QList<QByteArray> writingFrames(const Simulator::PtyPump& pump)
{
    QList<QByteArray> found;
    for (const QByteArray& frame : pump.receivedFrames())
        if (frame.size() > 5 && frame.at(3) != '?')
            found << frame.mid(1, frame.size() - 3);
    return found;
}

bool received(const Simulator::PtyPump& pump, const QByteArray& body)
{
    for (const QByteArray& frame : pump.receivedFrames())
        if (frame.mid(1, frame.size() - 3) == body)
            return true;
    return false;
}

int notes(QTextEdit* pane, const QString& event)
{
    static const QString stamp = QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d  ");
    const QRegularExpression line(stamp + event + " \\(.+\\)$",
                                  QRegularExpression::MultilineOption);
    return int(pane->toPlainText().count(line));
}

enum class Cause { Directory, PlainFile, ImpossibleName, NoRights, HeldByOther, HeldUnderOtherName };

} // namespace

Q_DECLARE_METATYPE(Cause)

class ReplugTest : public QObject
{
    Q_OBJECT

private slots:
    void comesBack_data();
    void comesBack();
    void cannotOpen_data();
    void cannotOpen();
};

void ReplugTest::comesBack_data()
{
    QTest::addColumn<bool>("polling");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("queued"); // user commands waiting when the line goes
    QTest::addColumn<int>("plugChanges"); // 0: pulled and put back once by the test
    QTest::addColumn<bool>("falseCheckByte"); // the test option ticked before the loss
    QTest::newRow("idle") << false << false << 0 << 0 << false;
    QTest::newRow("idle, false check bytes ticked") << false << false << 0 << 0 << true;
    QTest::newRow("polling") << true << false << 0 << 0 << false;
    QTest::newRow("pump running") << true << true << 0 << 0 << false;
    QTest::newRow("commands queued") << true << false << 6 << 0 << false;
    QTest::newRow("flapping, ten times in 5 s") << true << false << 0 << 20 << false;
}

void ReplugTest::comesBack()
{
    QFETCH(bool, polling);
    QFETCH(bool, running);
    QFETCH(int, queued);
    QFETCH(int, plugChanges);
    QFETCH(bool, falseCheckByte);
    QTemporaryDir folder;
    Simulator::PtyPump::Options options;
    options.linkPath = folder.filePath(QStringLiteral("pump-link"));
    Simulator::PtyPump pump(options);
    QVERIFY2(pump.start(), qPrintable(pump.errorString()));
    WindowRig::Options rigOptions = WindowRig::withoutPump();
    rigOptions.polling = polling;
    rigOptions.extraPorts = {pump.linkPath()};
    WindowRig rig(rigOptions);
    Communication& link = rig.communication;
    const auto shows = [&rig](const QString& text) {
        return rig.ui().labelConnectionState->text() == text;
    };
    QTRY_VERIFY_WITH_TIMEOUT(link.isOpen(), GiveUpMs); // opened on the line's thread
    QTRY_VERIFY_WITH_TIMEOUT(pump.frameCount() > 0 && (!polling || shows(Connected)), GiveUpMs);
    if (running) {
        QTest::mouseClick(rig.ui().buttonStart, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui().stackedButtonStartPause->currentWidget(),
                                  rig.ui().pagePause, GiveUpMs);
    }
    rig.ui().checkboIncorrectLRC->setChecked(falseCheckByte);
    QTRY_COMPARE_WITH_TIMEOUT(link.invalidLrc, falseCheckByte, GiveUpMs);
    const auto cycles = BusinessLogic::CommandTable::setDispenseVolumeNumber.spezifier;
    for (int i = 0; i < queued; ++i)
        rig.stack.addCommand(rig.table.at(cycles), 101 + i, true);
    const int descriptors = openDescriptors();
    QElapsedTimer clock;
    qint64 lastReplugMs = 0;
    if (plugChanges == 0) {
        QVERIFY(pump.unplug());
        QTRY_VERIFY_WITH_TIMEOUT(!link.isOpen(), GiveUpMs);
        QCOMPARE(link.portStatus().text(), QStringLiteral("PORT missing"));
        // The window hears of the loss from the line's thread a moment later.
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui().listWidgetComPorts->currentItem()->text(),
                                  pump.linkPath() + " (missing)", GiveUpMs);
        pump.clearLog(); // nothing can arrive while unplugged
        pump.setValue("RV", PumpFlowRate);
        QVERIFY(pump.replug());
        clock.start();
    } else {
        const int intervalMs = 4800 / plugChanges; // out of step with the 500 ms look-out
        lastReplugMs = qint64(plugChanges - 1) * intervalMs;
        pump.clearLog();
        pump.setValue("RV", PumpFlowRate);
        clock.start();
        pump.schedulePlugChanges(plugChanges, 0, intervalMs);
        // The window runs on while the device comes and goes.
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > lastReplugMs && pump.isPlugged(), GiveUpMs);
    }
    QTRY_VERIFY_WITH_TIMEOUT(link.isOpen(), GiveUpMs);
    // The line came back with the test options its boxes show.
    QTRY_COMPARE_WITH_TIMEOUT(link.invalidLrc, rig.ui().checkboIncorrectLRC->isChecked(), GiveUpMs);
    const qint64 reopenedMs = clock.elapsed() - lastReplugMs;
    QTRY_VERIFY_WITH_TIMEOUT(received(pump, "00?SI"), GiveUpMs);
    qint64 truthfulMs = -1;
    if (polling) {
        QTRY_VERIFY_WITH_TIMEOUT(shows(Connected) && rig.ui().lineEditVolume->text() == "23.45",
                                 GiveUpMs);
        truthfulMs = clock.elapsed() - lastReplugMs;
        QTest::qWait(1000); // polling goes on, and still nothing from before the loss is sent
    }
    QVERIFY2(writingFrames(pump).isEmpty(), writingFrames(pump).join(' ').constData());
    if (running)
        QCOMPARE(rig.ui().stackedButtonStartPause->currentWidget(), rig.ui().pagePause);
    for (QTextEdit* pane : {rig.ui().textEditTxData, rig.ui().textEditRxData}) {
        const int losses = notes(pane, QStringLiteral("line lost"));
        QVERIFY(losses >= 1);
        QCOMPARE(notes(pane, QStringLiteral("line back")), losses);
    }
    QCOMPARE(openDescriptors(), descriptors);
    QCOMPARE(rig.ui().listWidgetComPorts->currentItem()->text(), pump.linkPath());
    qInfo("MEASURED %s | line open %lld ms and connected with the pump's values %lld ms after the "
          "last replug | %d losses recorded",
          QTest::currentDataTag(), reopenedMs, truthfulMs,
          notes(rig.ui().textEditTxData, QStringLiteral("line lost")));
}

void ReplugTest::cannotOpen_data()
{
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("reason");
    QTest::newRow("directory") << Cause::Directory << "PORT unavailable: not a serial device";
    QTest::newRow("plain file") << Cause::PlainFile << "PORT unavailable: not a serial device";
    QTest::newRow("name that cannot exist") << Cause::ImpossibleName << "PORT missing";
    QTest::newRow("device without access rights")
        << Cause::NoRights
        << "PORT unavailable: permission denied (is your user in the dialout group?)";
    // This test is a copy of the panel, and its holder a port of its own.
    QTest::newRow("held by another copy")
        << Cause::HeldByOther << QStringLiteral("PORT busy: held by DoseDesk copy %1 (process %2)")
                                     .arg(instanceNumber())
                                     .arg(QCoreApplication::applicationPid());
    QTest::newRow("held under another name (a link) by a script, which then dies")
        << Cause::HeldUnderOtherName << "PORT busy: held by process %1 (dosedeskctl)";
}

void ReplugTest::cannotOpen()
{
    QFETCH(Cause, cause);
    QFETCH(QString, reason);
    const auto restoreRights = qScopeGuard([] { overrideRights(true); }); // also on a failure
    QTemporaryDir folder;
    Simulator::PtyPump pump;
    QVERIFY2(pump.start(), qPrintable(pump.errorString()));
    QSerialPort holder(pump.devicePath());
    QProcess script;
    QString path = pump.devicePath();
    switch (cause) {
    case Cause::Directory: path = folder.path(); break;
    case Cause::PlainFile:
        path = folder.filePath(QStringLiteral("plain"));
        QFile(path).open(QIODevice::WriteOnly);
        break;
    case Cause::ImpossibleName: path = QStringLiteral("/dev/") + QString(300, u'x'); break;
    case Cause::NoRights:
        QFile::setPermissions(path, {});
        overrideRights(false);
        break;
    case Cause::HeldUnderOtherName:
        script.start(DOSEDESKCTL, {"--port", path, "status", "wait", "seconds", "600"});
        path = folder.filePath(QStringLiteral("serial-by-id-link"));
        QVERIFY(QFile::link(pump.devicePath(), path));
        QTRY_VERIFY_WITH_TIMEOUT(pump.frameCount() > 0, GiveUpMs);
        reason = reason.arg(script.processId());
        break;
    case Cause::HeldByOther: QVERIFY(holder.open(QIODevice::ReadWrite)); break;
    }
    WindowRig::Options options = WindowRig::withoutPump();
    options.extraPorts = {path};
    WindowRig rig(options);
    QTRY_VERIFY(rig.communication.noAnswer); // the start's check went nowhere
    // Said at the first redraw, with nothing logged as sent and no value the pump never gave;
    // a long reason wraps rather than widening the window.
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    const int width = rig.window->width();
    rig.window->triggerUpdateValues();
    QCOMPARE(rig.ui().labelConnectionState->text(), "PUMP DISCONNECTED (" + reason + ')');
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QVERIFY(rig.window->layout()->minimumSize().width() <= width);
    QCOMPARE(rig.ui().textEditTxData->toPlainText(), QString());
    QCOMPARE(rig.ui().lineEditVolume->text(), QString());
    QCOMPARE(rig.ui().labelVersionFW->text(), Constants::ReadingText);
    QVERIFY(rig.ui().buttonStart->isEnabled());

    // What may pass by itself is looked after: once the rights are back or the other program
    // has let go, the line opens without a click; the rest is not tried again and again.
    overrideRights(true);
    QFile::setPermissions(pump.devicePath(), QFile::ReadOwner | QFile::WriteOwner);
    holder.close();
    script.kill(); // its lock stays behind, naming a process that is gone
    if (cause == Cause::NoRights || cause >= Cause::HeldByOther)
        QTRY_VERIFY_WITH_TIMEOUT(rig.communication.isOpen(), GiveUpMs);
    else
        QCOMPARE(rig.session.reopener().isLooking(),
                 cause == Cause::ImpossibleName);
}

QTEST_MAIN(ReplugTest)
#include "tst_replug.moc"
