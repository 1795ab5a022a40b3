#include "mainform.h"

#include "commandtable.h"
#include "constants.h"
#include "loggingcommandstack.h"
#include "panelsession.h"
#include "pumpsearch.h"
#include "pumpspanel.h"
#include "refreshtimer.h"
#include "reply.h"
#include "styles.h"
#include "valuelimits.h"

#include <QSignalBlocker>

#include <algorithm>
#include <array>

namespace Table = BusinessLogic::CommandTable;

namespace {

constexpr int StressDisplayMs = 10;

qint32 checkedState(int state)
{
    return state != Qt::Unchecked ? 1 : 0;
}

// Pump function of a digital input for the entry chosen in its combo box; entries 1 and 2 are
// the start/stop functions that only one input may hold.
qint32 inputFunction(int index, int lastEntry)
{
    static constexpr std::array<qint32, 6> functions{0, 1, 6, 8, 9, 10};
    return index >= 0 && index <= lastEntry ? functions[std::size_t(index)] : 0;
}

bool isStartStop(int index)
{
    return index == 1 || index == 2;
}

// Look of one run button: the colour of the state in effect, and which corners are square.
struct RunLook
{
    enum Corners { Round, SquareLeft, SquareRight };
    bool active;
    Corners corners;
};

void styleRunButtons(Ui::mainScreen& ui, RunLook start, RunLook pause, RunLook stop, RunLook prime)
{
    auto apply = [](QPushButton* button, RunLook look) {
        QString sheet = Styles::styleButtonBase
            + (look.active ? Styles::styleButtonActive : Styles::styleButtonIdle);
        if (look.corners == RunLook::SquareLeft)
            sheet += Styles::styleSquareLeft;
        else if (look.corners == RunLook::SquareRight)
            sheet += Styles::styleSquareRight;
        button->setStyleSheet(sheet);
    };
    apply(ui.buttonStart, start);
    apply(ui.buttonPause, pause);
    apply(ui.buttonStop, stop);
    apply(ui.buttonPrime, prime);
}

constexpr RunLook Active{true, RunLook::Round};
constexpr RunLook Idle{false, RunLook::Round};
constexpr RunLook ActiveLeft{true, RunLook::SquareLeft};
constexpr RunLook ActiveRight{true, RunLook::SquareRight};
constexpr RunLook IdleLeft{false, RunLook::SquareLeft};
constexpr RunLook IdleRight{false, RunLook::SquareRight};

// A change of the link: the display stands still and the queue is dropped while it is made;
// the display timer starts again by the usual rule afterwards.
class LinkChange
{
public:
    LinkChange(mainForm& window, BusinessLogic::CommandStack* stack) : window(window)
    {
        window.timer().stop();
        stack->clear();
    }
    ~LinkChange() { window.restartDisplayTimer(); }
    LinkChange(const LinkChange&) = delete;
    LinkChange& operator=(const LinkChange&) = delete;

private:
    mainForm& window;
};

} // namespace

void mainForm::launchCmdStart()
{
    queue(Table::start.spezifier, 0, Origin::UrgentUser);
    styleRunButtons(ui, Active, Active, Idle, Idle);
}

void mainForm::launchCmdStop()
{
    queue(Table::stop.spezifier, 0, Origin::UrgentUser);
    styleRunButtons(ui, Idle, Idle, Active, Idle);
}

void mainForm::launchCmdPause()
{
    queue(Table::pause.spezifier, 0, Origin::UrgentUser);
    styleRunButtons(ui, ActiveRight, ActiveLeft, IdleLeft, IdleRight);
}

void mainForm::launchCmdPrime()
{
    queue(Table::prime.spezifier, 0);
    styleRunButtons(ui, IdleRight, IdleLeft, IdleLeft, ActiveRight);
}

void mainForm::launchCmdSetVolume()
{
    const bool volumeMode = choices.dispenseMode == 1;
    if (choices.dispenseMode > 1)
        return;
    const Engine::Quantity quantity =
        volumeMode ? Engine::Quantity::DispenseVolume : Engine::Quantity::FlowRate;
    sendTyped(volumeMode ? Table::setVolume.spezifier : Table::setFlowRate.spezifier,
              volumeMode ? static_cast<GUI::OperationItem*>(&items.volumeTarget) : &items.flowrate,
              Engine::judge(quantity, ui.lineEditVolume->text(), panelSession->pumpModel()));
}

void mainForm::launchCmdSetDispenseTime()
{
    const QStringList parts{ui.lineEditTimeHour->text().trimmed(),
                            ui.lineEditTimeMin->text().trimmed(),
                            ui.lineEditTimeSec->text().trimmed()};
    sendTyped(Table::setDispenseTime.spezifier, &items.dispenseTime,
              Engine::judgeTime(parts.join(u':')));
}

void mainForm::launchCmdSetDispenseBreakTime()
{
    sendTyped(Table::setDispenseVolumeBreakTime.spezifier, &items.volumeBreakTime,
              Engine::judgeBreak(ui.lineEditBreakTimeMin->text(), ui.lineEditBreakTimeSec->text()));
}

void mainForm::launchCmdSetDispenseNumber()
{
    sendTyped(Table::setDispenseVolumeNumber.spezifier, &items.volumeNumber,
              Engine::judge(Engine::Quantity::Cycles, ui.lineEditCycles->text()));
}

void mainForm::launchCmdSetCustomCalibrationVolume()
{
    sendTyped(Table::setCustCalVol.spezifier, nullptr,
              Engine::judge(Engine::Quantity::CalibrationVolume, ui.lineEditCalVolume->text()));
}

void mainForm::launchCmdSetFactoryMeasuredCalVolume()
{
    sendTyped(
        Table::setFactoryMeasuredCalVolume.spezifier, nullptr,
        Engine::judge(Engine::Quantity::CalibrationVolume, ui.lineEditFactoryCalVolume->text()));
}

void mainForm::launchCmdSetFactoryMeasuredPumpStrokeVolume()
{
    if (sendTyped(Table::setFactoryPumpStrokeVolume.spezifier, nullptr,
                  Engine::judge(Engine::Quantity::StrokeVolume,
                                ui.lineEditFactoryPumpStrokeVolume->text())))
        ui.lineEditFactoryPumpStrokeVolume->setModified(false);
}

bool mainForm::sendTyped(BusinessLogic::CommandSpezifier spezifier, GUI::OperationItem* shownIn,
                         const Engine::Verdict& verdict)
{
    if (!verdict.value) {
        ui.labelUserAction->setText(InvalidValueText + QStringLiteral(": ") + verdict.reason);
        return false;
    }
    ui.labelUserAction->clear();
    queue(spezifier, *verdict.value);
    if (shownIn)
        shownIn->setValue(*verdict.value);
    return true;
}

void mainForm::launchCmdSetAnalogIn(int index)
{
    static constexpr std::array<qint32, 5> functions{9, 0, 3, 1, 2};
    const qint32 function =
        index >= 0 && index < int(functions.size()) ? functions[std::size_t(index)] : 9;
    queue(Table::setAnalogInput.spezifier, function);
    items.analogIn.setValue(function);
}

void mainForm::launchCmdSetDigitalIn1(int index)
{
    launchInputFunction(Table::setDigitalIn1.spezifier, index, inputFunction(index, 2),
                        {ui.comboDigIn1, items.digitalIn1, choices.digitalIn1Exclusive},
                        {ui.comboDigIn2, items.digitalIn2, choices.digitalIn2Exclusive});
}

void mainForm::launchCmdSetDigitalIn2(int index)
{
    launchInputFunction(Table::setDigitalIn2.spezifier, index, inputFunction(index, 5),
                        {ui.comboDigIn2, items.digitalIn2, choices.digitalIn2Exclusive},
                        {ui.comboDigIn1, items.digitalIn1, choices.digitalIn1Exclusive});
}

void mainForm::launchInputFunction(BusinessLogic::CommandSpezifier spezifier, int index,
                                   qint32 function, DigitalInput chosen, DigitalInput other)
{
    chosen.exclusive = isStartStop(index);
    queue(spezifier, function);
    chosen.item.setValue(function);
    if (!chosen.exclusive || !other.exclusive)
        return;
    // Whether the other input gave up its start/stop function is the pump's to say: it is read
    // back at once, and its list shows that answer, not a guess.
    BusinessLogic::CommandStack::Request readBack;
    readBack.command = command(spezifier == Table::setDigitalIn1.spezifier
                                   ? Table::getDigitalIn2.spezifier
                                   : Table::getDigitalIn1.spezifier);
    BusinessLogic::Reply* reply = commandStack->submit(readBack, this);
    GUI::OperationItem& shown = other.item;
    connect(reply, &BusinessLogic::Reply::finished, this, [reply, &shown] {
        reply->deleteLater();
        if (reply->outcome() == Answer::Outcome::Answered && reply->answer().fromPump)
            shown.setAnswer(reply->answer());
    });
}

// The settings combos report user choices only (activated), so every choice is sent, also a
// repeated one: what the pump holds may have changed since, by its keys or a reset.
void mainForm::launchCmdSetDigitalOut(int index)
{
    if (index < 0 || index > 4)
        return;
    queue(Table::setDigitalOut.spezifier, index);
    items.digitalOut.setValue(index);
}

void mainForm::launchCmdSetLanguage(int index)
{
    queue(Table::setLanguage.spezifier, index);
    items.language.setValue(index);
}

void mainForm::launchCmdSetCustomCalibrationPercentage(int index)
{
    const qint32 hundredths = (index * 5 + 4000) * 2;
    queue(Table::setCustCalPercent.spezifier, hundredths);
    // The item holds what the pump reports, the percentage in hundredths, from which the display
    // picks the combo entry.
    items.customCalibrationPercentage.setValue(hundredths);
}

void mainForm::launchCmdSetAutostart(int state)
{
    queue(Table::setAutostart.spezifier, checkedState(state));
    items.autostart.setValue(checkedState(state));
}

void mainForm::launchCmdSetPumpProfileCharacteristics(int)
{
    const int index = ui.comboTypeFluid->currentIndex();
    queue(Table::setPumpProfileCharacteristic.spezifier, index);
    items.pumpProfileCharacteristic.setValue(index);
}

void mainForm::launchCmdSetDisplayContrast(int)
{
    const int index = ui.comboContrast->currentIndex();
    queue(Table::setDisplayContrast.spezifier, index);
    items.contrast.setValue(index);
}

void mainForm::launchCmdSetProtocolAnswer(int state)
{
    queue(Table::setProtocolAnswer.spezifier, checkedState(state));
    items.protocolAnswer.setValue(checkedState(state));
}

void mainForm::launchCmdSetFactoryMode(int state)
{
    queue(Table::setFactoryMode.spezifier, checkedState(state));
    items.factoryMode.setValue(checkedState(state));
}

void mainForm::launchCmdSetPumpModel(int index)
{
    queue(Table::setPumpModel.spezifier, index);
}

void mainForm::launchCmdSetFactoryDefaults()
{
    queue(Table::setFactoryDefaults.spezifier, 0);
}

void mainForm::launchCmdSetMaintenancePos()
{
    queue(Table::setMaintenancePos.spezifier, 1);
}

void mainForm::launchCmdSetCommAddress(int index)
{
    queue(Table::setCommAddress.spezifier, index);
    stored.address = index;
    saveSettings();
    // Built after the controls are wired, which set the address once on their own.
    if (fleet) {
        fleet->setPanelAddress(index);
        pumps->markShown(fleet->panelPump());
    }
}

void mainForm::setDiscreteCommand()
{
    commandStack->addCommand(command(Table::setDiscreteCommand.spezifier),
                             ui.lineEditDiscreteCommand->text().toUtf8());
}

void mainForm::launchCmdExecuteCommCheck()
{
    const LinkChange change(*this, commandStack);
    queue(Table::setCommAddress.spezifier, ui.comboCommAddress->currentIndex());
    queue(Table::executeCommCheck.spezifier, 0);
}

void mainForm::probeConnection()
{
    const LinkChange change(*this, commandStack);
    queueProbe();
}

void mainForm::queueProbe()
{
    queue(Table::setCommAddress.spezifier, ui.comboCommAddress->currentIndex(), Origin::Polled);
    queue(Table::executeCommCheck.spezifier, 0, Origin::Polled);
}

void mainForm::launchCmdSetPumpAddress(int index)
{
    const LinkChange change(*this, commandStack);
    queue(Table::setPumpAddress.spezifier, index);
    items.address.setValue(index);
}

void mainForm::launchCmdSetInvalidLRC(int state)
{
    const LinkChange change(*this, commandStack);
    queue(Table::setInvalidLrc.spezifier, checkedState(state));
}

void mainForm::launchCmdSetUnusedLRC(int state)
{
    const LinkChange change(*this, commandStack);
    queue(Table::setUnusedLrc.spezifier, checkedState(state));
}

void mainForm::setDataUpdate()
{
    restartDisplayTimer();
    // The other pumps' readings stop with the panel's own.
    if (fleet)
        fleet->setPolling(ui.checkboNoDataUpdate->checkState() == Qt::Unchecked);
}

void mainForm::launchCmdToggleStressTest()
{
    const bool normalPace = displayTimer.interval() == Constants::DisplayIntervalMs;
    displayTimer.stop();
    commandStack->clear(); // also drops the readings awaiting their answers
    if (normalPace)
        displayTimer.start(StressDisplayMs);
    else
        restartDisplayTimer();
}

void mainForm::updateAttachAll()
{
    for (const auto& [item, list] : items.pollingPlan())
        refresher->attach(item, list);
}

void mainForm::updateDetachAll()
{
    // Detaching removes every occurrence, so items listed twice need no second call.
    GUI::OperationData* previous = nullptr;
    for (const auto& entry : items.pollingPlan()) {
        if (entry.first != previous)
            refresher->detach(entry.first);
        previous = entry.first;
    }
}

// The wheel steps a time field one beyond its limits (60 s, -1 min): the step carries into the
// next field, within the longest dispense time. Typed text stays as typed, for the pump's rules
// to judge.
void mainForm::changeTime()
{
    const std::pair<QLineEdit*, qint64> parts[] = {{ui.lineEditTimeHour, Engine::SecondsPerHour},
                                                   {ui.lineEditTimeMin, Engine::SecondsPerMinute},
                                                   {ui.lineEditTimeSec, 1}};
    qint64 total = 0;
    for (const auto& [field, weight] : parts) {
        bool ok = false;
        const qint64 number = field->text().trimmed().toInt(&ok);
        // A typo stays visible, so that sending it is refused rather than read as zero.
        if (!ok)
            return;
        total += weight * number;
    }
    total = std::clamp<qint64>(total, 0, ValueLimits::LongestDispenseSeconds);

    // Rewriting the fields reports text changes of its own; they must not come back here.
    const QSignalBlocker hourBlocker(ui.lineEditTimeHour);
    const QSignalBlocker minuteBlocker(ui.lineEditTimeMin);
    const QSignalBlocker secondBlocker(ui.lineEditTimeSec);
    auto twoDigits = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    ui.lineEditTimeSec->setText(twoDigits(total % Engine::SecondsPerMinute));
    ui.lineEditTimeMin->setText(
        twoDigits(total / Engine::SecondsPerMinute % Engine::SecondsPerMinute));
    ui.lineEditTimeHour->setText(twoDigits(total / Engine::SecondsPerHour));
}

void mainForm::modeSelect(QAction* action)
{
    if (action == actionFlowRate) {
        ui.buttonMode->setText(QStringLiteral("   ml/min   "));
        choices.dispenseMode = 0;
        queue(Table::setRunMode.spezifier, 0);
    } else if (action == actionVolume) {
        ui.buttonMode->setText(QStringLiteral("     ml     "));
        choices.dispenseMode = 1;
        queue(Table::setDispenseModeVolume.spezifier, 0);
    }
    items.runMode.setValue(choices.dispenseMode);
    ui.buttonMode->clearFocus();
}

void mainForm::modeReleased()
{
    ui.buttonMode->clearFocus();
}

void mainForm::launchCmdSearchPump()
{
    // The panel takes the first pump that answers, as ever; the others are offered for the
    // list once every address has been asked.
    search->start(ui.comboCommAddress->count(), GUI::PumpSearch::Scope::EveryPump);
}

void mainForm::showSearchStarted()
{
    foundInThisSearch = false;
    // Polling pauses while the probes have the line; the readings queued before them still run.
    displayTimer.stop();
    updateDetachAll();
}

void mainForm::showFoundPump(int address)
{
    // The panel shows the first pump found; later ones are named beside it.
    if (foundInThisSearch) {
        ui.labelLocatedAddressIndicator->setText(ui.labelLocatedAddressIndicator->text() + u','
                                                 + QString::number(address));
        return;
    }
    foundInThisSearch = true;
    items.commCheck.setValue(address);
    ui.labelLocatedAddressIndicator->setText(items.commCheck.getText());
    ui.comboCommAddress->setCurrentIndex(address);
    launchCmdSetCommAddress(address);
}

void mainForm::showNoPump()
{
    ui.labelLocatedAddressIndicator->setText(QStringLiteral("NONE"));
}

void mainForm::endSearch()
{
    updateAttachAll();
    restartDisplayTimer();
}
