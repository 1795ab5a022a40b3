// The window with the program's composition against the simulated pump running as its own
// process: connect, run, stop, lose the pump and get it back.
//
// Pictures of the three states go to $DOSEDESK_SCREENSHOT_DIR when that is set (the README's
// pictures are made that way); without it they go to a temporary folder.

#include "simulatorprocess.h"
#include "windowrig.h"

#include <QElapsedTimer>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Connected = QStringLiteral("PUMP CONNECTED");
const QString Missing = QStringLiteral("PUMP DISCONNECTED (PORT missing)");

constexpr int ConnectTimeoutMs = 10000;
// Not the address the window starts with, so that the user has to find the pump. Its answer to
// the communication check is a frame holding only the address, which names it as connected.
constexpr int PumpAddress = 12;
constexpr int LossLimitMs = 2000;

double shownVolume(const Ui::mainScreen& ui)
{
    return ui.labelVolumeActual->text().section(u' ', 0, 0).toDouble();
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectRunStopLoseAndRecover();

private:
    bool startPump();
    void saveScreenshot(const QString& name);

    QTemporaryDir folder;
    QString linkPath;
    QString screenshotDir;
    std::unique_ptr<Simulator::SimulatorProcess> pump;
    std::unique_ptr<WindowRig> rig;
};

void EndToEndTest::initTestCase()
{
    QVERIFY(folder.isValid());
    linkPath = folder.filePath(QStringLiteral("velor"));
    screenshotDir = qEnvironmentVariable("DOSEDESK_SCREENSHOT_DIR", folder.path());
    QVERIFY2(!Simulator::SimulatorProcess::locateProgram().isEmpty(), "velor-pump-sim not built");
    QVERIFY2(startPump(), qPrintable(pump->errorString()));
}

void EndToEndTest::cleanupTestCase()
{
    if (rig)
        rig->window->hide();
    rig.reset();
    pump.reset();
}

bool EndToEndTest::startPump()
{
    pump = std::make_unique<Simulator::SimulatorProcess>();
    return pump->start({QStringLiteral("--link"), linkPath, QStringLiteral("--address"),
                        QString::number(PumpAddress)});
}

void EndToEndTest::saveScreenshot(const QString& name)
{
    // A picture is documentation, not a result: failing to write one is only reported.
    const QString path = screenshotDir + u'/' + name;
    if (!rig->window->grab().save(path))
        qWarning("could not write %s", qPrintable(path));
}

void EndToEndTest::connectRunStopLoseAndRecover()
{
    WindowRig::Options options;
    options.withPump = false;
    options.polling = true;
    options.extraPorts = {linkPath};
    rig = std::make_unique<WindowRig>(options);
    Ui::mainScreen& ui = rig->ui();
    rig->window->show();
    rig->window->toggleAdvancedScreen();
    ui.TabsExtendedSettings->setCurrentWidget(ui.TabStatus);
    QVERIFY(QTest::qWaitForWindowExposed(rig->window.get()));

    // The window starts at address 0, where nobody answers; the user chooses the pump's address
    // and tests the line.
    QTest::qWait(1500);
    QVERIFY(rig->window->isConnectionLost());
    ui.comboCommAddress->setCurrentIndex(PumpAddress);
    emit ui.comboCommAddress->activated(PumpAddress);
    ui.buttonTestComm->click();

    // Connected: the communication check is answered and the polled values come in.
    QTRY_COMPARE_WITH_TIMEOUT(ui.labelConnectionState->text(), Connected, ConnectTimeoutMs);
    QVERIFY(!rig->window->isConnectionLost());
    QCOMPARE(rig->window->windowTitle(),
             QStringLiteral("ZUL DOSEDESK  V1.0.4  (ADDR %1, %2)").arg(PumpAddress).arg(linkPath));
    QTRY_COMPARE_WITH_TIMEOUT(ui.labelPumpModel->text(), QStringLiteral("VELOR 10"), ConnectTimeoutMs);
    QCOMPARE(ui.labelVersionFW->text(), QStringLiteral("V1.23"));
    QCOMPARE(rig->window->timer().interval(), 100);
    saveScreenshot(QStringLiteral("state-connected.png"));

    // Running: the motor moves, the pause page replaces Start and the volume rises.
    const double before = shownVolume(ui);
    QTest::mouseClick(ui.buttonStart, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ui.stackedButtonStartPause->currentWidget(), ui.pagePause, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(shownVolume(ui) > before + 0.1, 5000);
    // "COMMAND ACCEPTED" is not awaited here: the display samples only the last exchange of
    // each tick, and polled readings can follow the Start within one tick.
    saveScreenshot(QStringLiteral("state-running.png"));

    // Stopped: Start comes back and the volume stands still.
    QTest::mouseClick(ui.buttonStop, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ui.stackedButtonStartPause->currentWidget(), ui.pageStart, 3000);
    const double stopped = shownVolume(ui);
    QTest::qWait(1200);
    QCOMPARE(shownVolume(ui), stopped);

    // The pump process ends: the link loses its device and the window says so in time.
    pump->stop();
    QElapsedTimer lost;
    lost.start();
    QTRY_COMPARE_WITH_TIMEOUT(ui.labelConnectionState->text(), Missing, LossLimitMs + 1000);
    qInfo("the lost pump was shown after %lld ms", lost.elapsed());
    QVERIFY2(lost.elapsed() <= LossLimitMs, qPrintable(QString::number(lost.elapsed())));
    QVERIFY(rig->window->isConnectionLost());
    QCOMPARE(rig->window->timer().interval(), 500);
    saveScreenshot(QStringLiteral("state-disconnected.png"));

    // The pump comes back on the same path; choosing the port again reconnects.
    QVERIFY2(startPump(), qPrintable(pump->errorString()));
    QTest::mouseClick(ui.buttonUpdatePorts, Qt::LeftButton);
    ui.listWidgetComPorts->selectPort(linkPath);
    QTRY_VERIFY_WITH_TIMEOUT(!rig->window->isConnectionLost(), ConnectTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(ui.labelConnectionState->text(), Connected, ConnectTimeoutMs);
    QCOMPARE(rig->window->timer().interval(), 100);
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
