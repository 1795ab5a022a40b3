#include "panelrig.h"

#include "commandtable.h"
#include "constants.h"
#include "instancenumber.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

namespace {

// Body of a SetDispenseVolumeNumber frame after the two address digits.
const QByteArray CyclesCode = QByteArray(BusinessLogic::CommandTable::setDispenseVolumeNumber.body);

// The cycle count of a frame (STX, address, code, value, ETX, check byte), or -1 for another.
int cyclesOf(const QByteArray& frame)
{
    if (frame.size() < 6 || frame.mid(3, CyclesCode.size()) != CyclesCode)
        return -1;
    const QByteArray value = frame.mid(3 + CyclesCode.size(), frame.size() - 5 - CyclesCode.size());
    bool ok = false;
    const int count = value.toInt(&ok);
    return ok ? count : -1;
}

} // namespace

const QString PanelRig::ConnectedText = QStringLiteral("PUMP CONNECTED");
const QString PanelRig::DisconnectedOpenText = QStringLiteral("PUMP DISCONNECTED (PORT opend)");
const QString PanelRig::DisconnectedUnavailableText =
    QStringLiteral("PUMP DISCONNECTED (PORT unavailable)");
const QString PanelRig::DisconnectedMissingText = QStringLiteral("PUMP DISCONNECTED (PORT missing)");

void RecordingStack::clear()
{
    ++clears;
    LoggingCommandStack::clear();
}

void RecordingStack::logCommand(Platform::SystemTime* time)
{
    runs.append({current ? current->getSentFrame() : QByteArray(), link.isOpen()});
    LoggingCommandStack::logCommand(time);
}

StallProbe::StallProbe()
{
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last - TickMs);
        last = now;
    });
    reset();
    timer.start(TickMs);
}

void StallProbe::reset()
{
    clock.start();
    last = 0;
    longest = 0;
}

Simulator::PtyPump::Options PanelRig::pumpOptions(const QString& link)
{
    Simulator::PtyPump::Options options;
    options.linkPath = link;
    options.pacing = true;
    options.turnaroundMs = 2;
    return options;
}

PanelRig::PanelRig(const Options& options)
    // The serial port's lock file is named after the link, so every rig needs its own name.
    : pump(pumpOptions(folder.filePath(QFileInfo(folder.path()).fileName() + QStringLiteral("-pump")))),
      table(BusinessLogic::CommandTableSize, nullptr),
      refresher(&stack, &table)
{
    // Every rig starts like a first start of this copy: no stored port, address 0.
    const QString prefix = Constants::InstanceKeyPrefix + QString::number(instanceNumber());
    QSettings stored(Constants::OrganisationName, Constants::ApplicationName);
    stored.remove(prefix);
    for (auto setting = options.storedSettings.cbegin(); setting != options.storedSettings.cend(); ++setting)
        stored.setValue(prefix + u'/' + setting.key(), setting.value());
    stored.sync();
    QStringList ports;
    if (pump.start() && options.offerPump)
        ports << pump.linkPath();
    commands = BusinessLogic::createAllCommands(&communication);
    window = std::make_unique<mainForm>(&stack, &table, qApp, &refresher, &communication, ports);
    for (const auto& command : commands)
        window->attachCommand(command.get());
    ui().checkboNoCyclicDataDisplay->setChecked(!options.logCyclicFrames);
    window->startCommunication();
    window->timer().start(window->isConnectionLost() ? 500 : 100);
}

PanelRig::~PanelRig()
{
    window.reset();
    pump.stop();
}

qint64 PanelRig::waitUntil(const std::function<bool()>& condition, int limitMs)
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

void PanelRig::runFor(int ms, const std::function<void()>& watch)
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

void PanelRig::typeCycles(int count)
{
    ui().lineEditCycles->setText(QString::number(count));
    window->launchCmdSetDispenseNumber();
}

QList<int> PanelRig::cyclesReceived() const
{
    QList<int> counts;
    for (const QByteArray& frame : pump.receivedFrames()) {
        const int count = cyclesOf(frame);
        if (count >= 0)
            counts << count;
    }
    return counts;
}

QList<int> PanelRig::cyclesRun(bool onClosedLine) const
{
    QList<int> counts;
    for (const RecordingStack::Run& run : stack.runs) {
        const int count = cyclesOf(run.frame);
        if (count >= 0 && run.lineOpen != onClosedLine)
            counts << count;
    }
    return counts;
}

int PanelRig::readingFramesReceived() const
{
    int count = 0;
    for (const QByteArray& frame : pump.receivedFrames())
        count += frame.size() > 3 && frame.at(3) == '?';
    return count;
}

void PanelRig::choosePortAgain()
{
    ui().buttonUpdatePorts->click();
    // The rebuilt list names no port until the user turns the drum to the pump's entry (or the
    // next paint takes the entry in the middle, which opens it just as well).
    ui().listWidgetComPorts->selectPort(pump.linkPath());
}
