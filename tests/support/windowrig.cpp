#include "windowrig.h"

#include "commandtable.h"
#include "constants.h"
#include "instancenumber.h"
#include "panelwindow.h"
#include "portstatus.h"
#include "programoptions.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>

namespace {

const QByteArray CyclesCode = QByteArray(BusinessLogic::CommandTable::setDispenseVolumeNumber.body);

// The cycle count of a frame (STX, address, code, value, ETX, check byte), or -1 for another.
int cyclesOf(const QByteArray& frame)
{
    if (frame.size() < 6 || frame.mid(3, CyclesCode.size()) != CyclesCode)
        return -1;
    bool ok = false;
    const int count = frame.mid(3 + CyclesCode.size(), frame.size() - 5 - CyclesCode.size()).toInt(&ok);
    return ok ? count : -1;
}

Simulator::PtyPump::Options pumpOptions(const WindowRig::Options& options, const QTemporaryDir& folder)
{
    Simulator::PtyPump::Options pump;
    pump.address = options.pumpAddress;
    pump.furtherPumps = options.furtherPumps;
    pump.pacing = options.realLine;
    pump.turnaroundMs = options.realLine ? 2 : 0;
    pump.trueFactor = options.pumpTrueFactor;
    // The serial port's lock file is named after the link, so every rig needs its own name.
    if (options.realLine)
        pump.linkPath = folder.filePath(QFileInfo(folder.path()).fileName() + QStringLiteral("-pump"));
    return pump;
}

} // namespace

const QString WindowRig::ConnectedText = Constants::PumpConnectedText;
const QString WindowRig::DisconnectedOpenText =
    Constants::pumpDisconnectedText(PortStatus::open().text());
const QString WindowRig::DisconnectedMissingText =
    Constants::pumpDisconnectedText(PortStatus::missing().text());

void RecordingStack::clear()
{
    ++clears;
    LoggingCommandStack::clear();
}

void RecordingStack::logCommand(Platform::SystemTime* time)
{
    {
        const QMutexLocker locker(&runsLock);
        ran.append({current ? current->getSentFrame() : QByteArray(), link.isOpen()});
    }
    LoggingCommandStack::logCommand(time);
}

QList<RecordingStack::Run> RecordingStack::runs() const
{
    const QMutexLocker locker(&runsLock);
    return ran;
}

void RecordingStack::forgetRuns()
{
    const QMutexLocker locker(&runsLock);
    ran.clear();
}

WindowRig::WindowRig(const Options& options) : pump(pumpOptions(options, folder))
{
    // As the program does: the window never waits for the pump.
    if (options.lineThread)
        session.startLineThread();
    const QString prefix = GUI::PanelSettings::group(instanceNumber());
    QSettings stored(Constants::OrganisationName, Constants::ApplicationName);
    if (options.freshSettings)
        stored.remove(prefix);
    for (auto setting = options.storedSettings.cbegin(); setting != options.storedSettings.cend(); ++setting)
        stored.setValue(prefix + u'/' + setting.key(), setting.value());
    stored.sync();
    QStringList ports = options.extraPorts;
    pump.setFaults(options.pumpFaults);
    if (options.withPump && pump.start())
        ports.prepend(options.realLine ? pump.linkPath() : pump.devicePath());
    ProgramOptions windowOptions;
    windowOptions.portPaths = ports;
    window = openPanelWindow(session, qApp, windowOptions);
    if (options.realLine)
        ui().checkboNoCyclicDataDisplay->setChecked(!options.logCyclicFrames);
    else if (!options.polling)
        ui().checkboNoDataUpdate->setChecked(true);
    window->startCommunication();
    if (options.realLine)
        window->restartDisplayTimer();
    // The communication check of the start goes to address 0, and a pump there is asked who it
    // is at once; what follows is the test's.
    else if (pump.isRunning() && waitForBody(options.pumpAddress == 0 ? "00?SV" : "00?SI"))
        pump.clearLog();
}

WindowRig::~WindowRig()
{
    // Hidden first: a field that loses the focus while the window is being destroyed would
    // still report its edit to the half-destroyed window.
    if (window)
        window->hide();
    window.reset();
    pump.stop();
}

WindowRig::Options WindowRig::withoutPump()
{
    Options options;
    options.withPump = false;
    return options;
}

WindowRig::Options WindowRig::onRealLine()
{
    Options options;
    options.realLine = true;
    options.polling = true;
    return options;
}

QList<QByteArray> WindowRig::bodies() const
{
    QList<QByteArray> result;
    for (const QByteArray& frame : pump.receivedFrames())
        result.append(frame.mid(1, frame.size() - 3));
    return result;
}

QList<QByteArray> WindowRig::commandBodies() const
{
    QList<QByteArray> result;
    for (const QByteArray& body : bodies())
        if (body.mid(2, 1) != "?") // after the two digits of the address
            result.append(body);
    return result;
}

bool WindowRig::waitForBody(const QByteArray& body, int timeoutMs)
{
    return waitUntil([&] { return bodies().contains(body); }, timeoutMs) >= 0;
}

QList<QByteArray> WindowRig::bodiesUntilMarker()
{
    const QByteArray marker =
        ui().comboCommAddress->currentText().rightJustified(2, u'0').toLatin1() + "?SV";
    stack.addCommand(table.at(BusinessLogic::CommandTable::getModelVersion.spezifier), 0, false);
    if (!waitForBody(marker))
        return {QByteArrayLiteral("<marker never arrived>")};
    QList<QByteArray> received = bodies();
    received.resize(received.lastIndexOf(marker));
    return received;
}

qint64 WindowRig::waitUntil(const std::function<bool()>& condition, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > limitMs)
            return -1;
        QTest::qWait(5);
    }
    return waited.elapsed();
}

void WindowRig::runFor(int ms, const std::function<void()>& watch)
{
    QElapsedTimer ran;
    ran.start();
    while (ran.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (watch)
            watch();
        QTest::qSleep(1);
    }
}

void WindowRig::typeCycles(int count)
{
    ui().lineEditCycles->setText(QString::number(count));
    window->launchCmdSetDispenseNumber();
}

QList<int> WindowRig::cyclesReceived() const
{
    QList<int> counts;
    for (const QByteArray& frame : pump.receivedFrames())
        if (const int count = cyclesOf(frame); count >= 0)
            counts << count;
    return counts;
}

QList<int> WindowRig::cyclesRun(bool onClosedLine) const
{
    QList<int> counts;
    for (const RecordingStack::Run& run : stack.runs())
        if (const int count = cyclesOf(run.frame); count >= 0 && run.lineOpen != onClosedLine)
            counts << count;
    return counts;
}

int WindowRig::readingFramesReceived() const
{
    int count = 0;
    for (const QByteArray& frame : pump.receivedFrames())
        count += frame.size() > 3 && frame.at(3) == '?';
    return count;
}

void WindowRig::choosePortAgain()
{
    ui().buttonUpdatePorts->click();
    // The rebuilt list names no port until the user turns the drum to the pump's entry.
    ui().listWidgetComPorts->selectPort(pump.linkPath());
}
