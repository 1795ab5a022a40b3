#include "displayupdate.h"

#include "communication.h"
#include "constants.h"
#include "operationitems.h"
#include "panelsession.h"
#include "panelsettings.h"
#include "portstatus.h"
#include "ui_mainscreen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace {

// Ticks without any answer before the pump counts as lost.
constexpr qint32 SilentTicksTolerated = 10;
// While the pump answers but no answer has named it yet (the answer to its connection check was
// late or garbled), the check is asked again after this many ticks: twice a second at the
// display's pace, one check at a time.
constexpr int UnnamedTicksBeforeCheck = 5;

constexpr int FadeStepPercent = 4;
constexpr int FullOpacityPercent = 100;

// Run modes as the pump reports them.
constexpr int RunModeVolume = 1;
constexpr int RunModeFlowRate = 0;
constexpr int RunModeDispenseFlowRate = 2;

const QString ConnectedStyle = QStringLiteral("color:rgb(0,149,216);");
const QString DisconnectedStyle = QStringLiteral("color:rgb(255,100,0); font-size:12pt;");
// What is wrong with the line, when it knows (a network port that does not connect).
QString lineFaultText(const QString& fault)
{
    return fault.isEmpty() ? QString() : QStringLiteral(": ") + fault;
}

const QColor AcceptedColor(0, 149, 216);
const QColor RefusedColor(255, 0, 0);

// The display runs ten (in stress mode a hundred) times a second: every widget is written only
// when what it shows really changes, since each write re-polishes or re-lays out the widget.
template <typename Widget, typename Value, typename Getter, typename Setter>
void setIfChanged(Widget* widget, Getter get, Setter set, const Value& value)
{
    if ((widget->*get)() != value)
        (widget->*set)(value);
}

template <typename Widget>
void setTextIfChanged(Widget* widget, const QString& text)
{
    setIfChanged(widget, &Widget::text, &Widget::setText, text);
}

void setStyleIfChanged(QWidget* widget, const QString& style)
{
    setIfChanged(widget, &QWidget::styleSheet, &QWidget::setStyleSheet, style);
}

void setCheckedIfChanged(QAbstractButton* button, bool checked)
{
    setIfChanged(button, &QAbstractButton::isChecked, &QAbstractButton::setChecked, checked);
}

// The check boxes launch their commands on every state change: what the display sets is held
// back from them.
void showChecked(QAbstractButton* button, bool checked)
{
    const QSignalBlocker blocker(button);
    setCheckedIfChanged(button, checked);
}

void setIndexIfChanged(QComboBox* combo, int index)
{
    setIfChanged(combo, &QComboBox::currentIndex, &QComboBox::setCurrentIndex, index);
}

// The display leaves alone what the user is working on.
void showCheckedUnlessFocused(QAbstractButton* button, bool checked)
{
    if (!button->hasFocus())
        showChecked(button, checked);
}

void showIndexUnlessFocused(QComboBox* combo, int index)
{
    if (!combo->hasFocus())
        setIndexIfChanged(combo, index);
}

void setPixmapIfChanged(QLabel* label, const QPixmap& pixmap)
{
    if (label->pixmap().cacheKey() != pixmap.cacheKey())
        label->setPixmap(pixmap);
}

// Combo index whose pump code is value: codes lists the codes of the entries from index 1 on;
// any other value selects entry 0.
int comboIndexFor(int value, std::initializer_list<int> codes)
{
    int index = 1;
    for (const int code : codes) {
        if (code == value)
            return index;
        ++index;
    }
    return 0;
}

// Entries 1 and 2 of the digital-input combos hold the start/stop functions.
bool isStartStopEntry(int index)
{
    return index == 1 || index == 2;
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

// Whole number of a part of an item text; 0 when it is none.
int numberAt(const QString& text, int position, int length)
{
    return GUI::readInteger(QStringView(text).mid(position, length));
}

float floatAt(const QString& text, int position, int length)
{
    return QStringView(text).mid(position, length).toFloat();
}

constexpr int SecondsPerMinute = 60;
constexpr int SecondsPerHour = 3600;

int roundHalfAway(float value)
{
    return int(std::lround(value));
}

// Four significant digits from 0.1 up (12.5 -> "12.50", 100 -> "100.0"). Zero, negative and
// very large values keep a sensible number of decimals instead of feeding log10 nonsense.
QString targetText(float value)
{
    constexpr int MaxDecimals = 10;
    const double magnitude = std::floor(std::log10(std::fabs(double(value)) + 0.0000001));
    const int decimals = int(qBound(0.0, 3.0 - magnitude, double(MaxDecimals)));
    return QString::number(double(value), 'f', decimals);
}

// A status mark: the icon lit while its status flag holds.
struct StatusMark
{
    Engine::StatusFlag flag;
    QLabel* Ui::mainScreen::*icon;
};

// Motion and master stop also drive state; they are read separately.
const StatusMark StatusMarks[] = {
    {Engine::StatusFlag::MotorInMotion, &Ui::mainScreen::labelMotorMotionIcon},
    {Engine::StatusFlag::PumpError, &Ui::mainScreen::labelPumpFaultIcon},
    {Engine::StatusFlag::DisplayOn, &Ui::mainScreen::labelDisplayOnIcon},
    {Engine::StatusFlag::MotorAdjusted, &Ui::mainScreen::labelMotorAdjustedIcon},
    {Engine::StatusFlag::Input1Active, &Ui::mainScreen::labelInput1ActiveIcon},
    {Engine::StatusFlag::Input2Active, &Ui::mainScreen::labelInput2ActiveIcon},
    {Engine::StatusFlag::MotorAtDeadCentre, &Ui::mainScreen::labelMotorLowerDCIcon},
    {Engine::StatusFlag::RunModeActive, &Ui::mainScreen::labelRunModeActiveIcon},
    {Engine::StatusFlag::DispenseModeActive, &Ui::mainScreen::labelDispenseModeActiveIcon},
    {Engine::StatusFlag::MasterStopActive, &Ui::mainScreen::labelMasterStopActiveIcon},
    {Engine::StatusFlag::Overpressure, &Ui::mainScreen::labelErrorOverpressureIcon},
    {Engine::StatusFlag::Signal420TooLow, &Ui::mainScreen::labelError4_20mATooLowIcon},
    {Engine::StatusFlag::PowerSupplyFailure, &Ui::mainScreen::labelErrorPowerSupplyFailureIcon},
    {Engine::StatusFlag::MotorNotAdjusted, &Ui::mainScreen::labelErrorMotorNotAdjIcon},
    {Engine::StatusFlag::MaximumTemperatureExceeded,
     &Ui::mainScreen::labelErrorMaxTempExceededIcon},
    {Engine::StatusFlag::NoEncoderSignal, &Ui::mainScreen::labelErrorNoEncoderSignalIcon},
};

} // namespace

DisplayUpdate::DisplayUpdate(Parts parts)
    : parts(std::move(parts)),
      ui(*this->parts.ui),
      items(*this->parts.items),
      choices(*this->parts.choices),
      bulletGrey(QStringLiteral(":/Images/Images/1406229026_bullet-grey.png")),
      bulletGreen(QStringLiteral(":/Images/Images/1406229038_bullet-green.png"))
{
}

void DisplayUpdate::tick()
{
    showTitle();
    showActivity(parts.commandStack->takeActivity());
    showClosedPort();
    showTarget();
    showVolumeActual();
    showRunMode();
    showDispenseTime();
    showStatusMarks();
    showCycles();
    showBreakTime();
    showRunTime();
    showSettings();
    showModelAndFirmware();
    showLinkAndFactory();
}

void DisplayUpdate::showTitle()
{
    const QString name = parts.pumpName();
    const QString title = QStringLiteral("ZUL DOSEDESK  V") + QStringLiteral(DOSEDESK_VERSION)
                          + (name.isEmpty() ? QString() : QStringLiteral("  ") + name)
                          + QStringLiteral("  (ADDR ")
                          + QString::number(ui.comboCommAddress->currentIndex())
                          + QStringLiteral(", ") + parts.settings->port + QStringLiteral(")");
    setIfChanged(parts.window, &QWidget::windowTitle, &QWidget::setWindowTitle, title);
}

void DisplayUpdate::showActivity(const Activity& activity)
{
    showVerdicts(activity);
    // The pump's address alone, the answer to the connection check, proves that the pump at this
    // address is there. A note on the user's typing stays until the next action or verdict.
    if (activity.named > 0)
        showConnected();
    superviseConnection(activity);
}

// Acceptance of the user's commands, fading out after each verdict. Of several in one tick the
// worst is shown, so that no refusal is hidden by a later success.
void DisplayUpdate::showVerdicts(const Activity& activity)
{
    using Verdict = BusinessLogic::CommandStack::Verdict;
    if (fadeAlpha > 0)
        fadeAlpha -= FadeStepPercent;
    if (!activity.verdicts.empty()) {
        const Verdict worst = *std::max_element(activity.verdicts.begin(), activity.verdicts.end());
        fadeColor = worst == Verdict::Accepted ? AcceptedColor : RefusedColor;
        fadeAlpha = FullOpacityPercent;
        if (worst != Verdict::NotAnswered)
            showConnected();
        setTextIfChanged(ui.labelTransmissionState,
                         worst == Verdict::Accepted  ? Constants::CommandAcceptedText
                         : worst == Verdict::Refused ? Constants::CommandRefusedText
                                                     : Constants::CommandNotAnsweredText);
        setTextIfChanged(ui.labelUserAction, QString());
    }
    showFade();
}

void DisplayUpdate::showFade()
{
    setStyleIfChanged(ui.labelTransmissionState, QStringLiteral("color:rgba(%1,%2,%3,%4%);")
                                                     .arg(fadeColor.red())
                                                     .arg(fadeColor.green())
                                                     .arg(fadeColor.blue())
                                                     .arg(fadeAlpha));
}

// A tick is silent when its exchanges all went unanswered, and one answer in it is enough to
// hear the pump; a tick without any exchange (a closed line between polling bursts, an idle
// window) counts as the last one with traffic did.
void DisplayUpdate::superviseConnection(const Activity& activity)
{
    if (activity.exchanges > 0)
        lastTickSilent = activity.answered == 0;
    if (lastTickSilent)
        countSilentTick();
    else
        noteAnswering();
}

void DisplayUpdate::countSilentTick()
{
    // A line that knows what is wrong with it (a network port that does not connect) says so at
    // once rather than after the silent ticks.
    const QString lineFault = parts.communication->lineFault();
    --connectionCountdown;
    if (connectionCountdown > 0 && lineFault.isEmpty())
        return;
    setStyleIfChanged(ui.labelConnectionState, DisconnectedStyle);
    setTextIfChanged(ui.labelConnectionState,
                     Constants::pumpDisconnectedText(parts.communication->portStatus().text())
                         + lineFaultText(lineFault));
    setTextIfChanged(ui.labelTransmissionState, QString());
    setTextIfChanged(ui.labelUserAction, QString());
    parts.commandStack->clear();
    connectionLost = true;
    // Probes again; the countdown stays spent, so every silent tick probes anew.
    parts.probeConnection();
    fadeAlpha = FullOpacityPercent;
}

void DisplayUpdate::noteAnswering()
{
    if (connectionLost) {
        // The pump answers again, so the disconnection text no longer holds; naming the pump as
        // connected is left to an acknowledge or an address-only answer.
        if (ui.labelConnectionState->text().startsWith(Constants::PumpDisconnectedText))
            ui.labelConnectionState->clear();
        // The focus stays where the user put it: a field being typed into would commit.
        connectionLost = false;
        // Drop the cyclic commands that piled up while the pump was silent and ask for the
        // pump's address once more: when only readings follow, its address-only answer is what
        // names it connected again. Also back from 500 ms to the normal interval; a running
        // timer is left alone otherwise, so that the 10 ms stress mode survives the answers it
        // provokes.
        parts.probeConnection();
        unnamedTicks = 0;
    } else if (ui.labelConnectionState->text() != Constants::PumpConnectedText
               && ++unnamedTicks >= UnnamedTicksBeforeCheck) {
        // Readings are answered, yet nothing has named the pump: ask who it is once more.
        parts.queueConnectionCheck();
        unnamedTicks = 0;
    }
    connectionCountdown = SilentTicksTolerated;
}

void DisplayUpdate::showConnected()
{
    setStyleIfChanged(ui.labelConnectionState, ConnectedStyle);
    setTextIfChanged(ui.labelConnectionState, Constants::PumpConnectedText);
}

// A port that did not open says why at once: there is no answer to wait for. A network port
// connecting in the background says so itself.
void DisplayUpdate::showClosedPort()
{
    const PortStatus& status = parts.communication->portStatus();
    if (!connectionLost || parts.communication->isOpen()
        || status.reason() == PortStatus::Reason::Connecting)
        return;
    setStyleIfChanged(ui.labelConnectionState, DisconnectedStyle);
    setTextIfChanged(ui.labelConnectionState, Constants::pumpDisconnectedText(status.text()));
}

// Target volume or flow rate; empty until the pump has reported it.
void DisplayUpdate::showTarget()
{
    if (ui.lineEditVolume->hasFocus())
        return;
    const GUI::OperationItem* shown = nullptr;
    if (choices.dispenseMode == 1)
        shown = &items.volumeTarget;
    else if (choices.dispenseMode == 0)
        shown = &items.flowrate;
    if (shown && !shown->isKnown()) {
        setTextIfChanged(ui.lineEditVolume, QString());
        return;
    }
    const float target = shown ? float(shown->getValue()) / 1000.0f : 1.0f;
    setTextIfChanged(ui.lineEditVolume, targetText(target));
}

void DisplayUpdate::showVolumeActual()
{
    setTextIfChanged(ui.labelVolumeActual,
                     QString::number(double(items.volumeActual.getValue()) / 1000.0, 'f', 3)
                         + QStringLiteral(" ml"));
}

// Run mode and the limits of the target field, by the model of the pump at hand.
void DisplayUpdate::showRunMode()
{
    if (ui.buttonMode->hasFocus())
        return;
    const int runMode = items.runMode.getValue();
    if (runMode == RunModeVolume) {
        const Engine::Limits limits =
            Engine::limitsOf(Engine::Quantity::DispenseVolume, parts.session->pumpModel());
        showRunModeAs(QStringLiteral("     ml     "), QStringLiteral("Volume"), limits.minimum,
                      limits.maximum, 1);
    } else if (runMode == RunModeFlowRate || runMode == RunModeDispenseFlowRate) {
        const Engine::Limits limits =
            Engine::limitsOf(Engine::Quantity::FlowRate, parts.session->pumpModel());
        showRunModeAs(QStringLiteral("   ml/min   "), QStringLiteral("Flow rate"), limits.minimum,
                      limits.maximum, 0);
    }
}

void DisplayUpdate::showRunModeAs(const QString& button, const QString& title, double minimum,
                                  double maximum, quint8 dispenseMode)
{
    setTextIfChanged(ui.buttonMode, button);
    ui.lineEditVolume->minimum = minimum;
    ui.lineEditVolume->maximum = maximum;
    setIfChanged(ui.groupBoxEditVolFlow, &QGroupBox::title, &QGroupBox::setTitle, title);
    choices.dispenseMode = dispenseMode;
}

void DisplayUpdate::showDispenseTime()
{
    if (ui.lineEditTimeHour->hasFocus() || ui.lineEditTimeMin->hasFocus()
        || ui.lineEditTimeSec->hasFocus())
        return;
    const QString time = items.dispenseTime.getText();
    setTextIfChanged(ui.lineEditTimeHour, twoDigits(numberAt(time, 0, 2)));
    setTextIfChanged(ui.lineEditTimeMin, twoDigits(numberAt(time, 2, 2)));
    setTextIfChanged(ui.lineEditTimeSec, twoDigits(numberAt(time, 4, 2)));
}

// Status and error panel.
void DisplayUpdate::showStatusMarks()
{
    const auto holds = [this](Engine::StatusFlag flag) {
        return Engine::holds(flag, items.status.getStatus(Engine::flagBit(flag).word));
    };
    const bool moving = holds(Engine::StatusFlag::MotorInMotion);
    motionStarted = motionStarted || (moving && !motorInMotion);
    motorInMotion = moving;
    masterStopActive = holds(Engine::StatusFlag::MasterStopActive);
    for (const StatusMark& mark : StatusMarks)
        setPixmapIfChanged(ui.*mark.icon, holds(mark.flag) ? bulletGreen : bulletGrey);
    const bool noError = (items.status.getStatus(Engine::ErrorWord) & Engine::ErrorBits) == 0;
    setPixmapIfChanged(ui.labelErrorNoneIcon, noError ? bulletGreen : bulletGrey);
}

void DisplayUpdate::showCycles()
{
    if (ui.lineEditCycles->hasFocus())
        return;
    setTextIfChanged(ui.lineEditCycles, Engine::cyclesText(items.volumeNumber.getValue()));
}

// Pause between cycles.
void DisplayUpdate::showBreakTime()
{
    if (ui.lineEditBreakTimeMin->hasFocus() || ui.lineEditBreakTimeSec->hasFocus())
        return;
    const int breakTime = items.volumeBreakTime.getValue();
    setTextIfChanged(ui.lineEditBreakTimeMin, QString::number(breakTime / 60));
    setTextIfChanged(ui.lineEditBreakTimeSec, QString::number(breakTime % 60));
}

// Elapsed or remaining time, and the run buttons following the motor.
void DisplayUpdate::showRunTime()
{
    if (motorInMotion) {
        showTimeInMotion();
        if (motionStarted)
            showRunButton(ui.pagePause);
        return;
    }
    if (masterStopActive)
        showRunTimeText(ui.lineEditTimeHour->text(), ui.lineEditTimeMin->text(),
                        ui.lineEditTimeSec->text());
    if (motionStarted) {
        showRunButton(ui.pageStart);
        motionStarted = false;
    }
}

void DisplayUpdate::showTimeInMotion()
{
    const QString elapsed = items.timeElapsed.getText();
    const int targetHours = GUI::readInteger(ui.lineEditTimeHour->text());
    const int targetMinutes = GUI::readInteger(ui.lineEditTimeMin->text());
    const int targetSeconds = GUI::readInteger(ui.lineEditTimeSec->text());
    if (targetHours > 0 || targetMinutes > 0 || targetSeconds > 0) {
        showRemainingTime(elapsed, targetHours, targetMinutes, targetSeconds);
        return;
    }
    const float seconds = floatAt(elapsed, 4, 2) + floatAt(elapsed, 6, 2) / 100.0f;
    showRunTimeText(elapsed.mid(0, 2), elapsed.mid(2, 2), twoDigits(roundHalfAway(seconds)));
}

// Remaining time, rounded to whole seconds as a whole: 59.6 s left shows as 00:01:00.
void DisplayUpdate::showRemainingTime(const QString& elapsed, int hours, int minutes, int seconds)
{
    const float done = floatAt(elapsed, 0, 2) * SecondsPerHour
                       + floatAt(elapsed, 2, 2) * SecondsPerMinute + floatAt(elapsed, 4, 2)
                       + floatAt(elapsed, 6, 2) / 100.0f;
    const int target = hours * SecondsPerHour + minutes * SecondsPerMinute + seconds;
    const int left = std::max(0, roundHalfAway(float(target) - done));
    showRunTimeText(twoDigits(left / SecondsPerHour),
                    twoDigits(left / SecondsPerMinute % SecondsPerMinute),
                    twoDigits(left % SecondsPerMinute));
}

void DisplayUpdate::showRunTimeText(const QString& hours, const QString& minutes,
                                    const QString& seconds)
{
    setTextIfChanged(ui.labelTimeActualHour, hours);
    setTextIfChanged(ui.labelTimeActualMin, minutes);
    setTextIfChanged(ui.labelTimeActualSec, seconds);
}

void DisplayUpdate::showRunButton(QWidget* page)
{
    setIfChanged(ui.stackedButtonStartPause, &QStackedWidget::currentWidget,
                 &QStackedWidget::setCurrentWidget, page);
}

// Settings controls. Autostart's launch slot listens to every state change, so its signals are
// held back; the combos launch on user activation only.
void DisplayUpdate::showSettings()
{
    showCheckedUnlessFocused(ui.checkboAutostart, items.autostart.getValue() != 0);
    showIndexUnlessFocused(ui.comboAnalIn, comboIndexFor(items.analogIn.getValue(), {0, 3, 1, 2}));
    showDigitalInput(ui.comboDigIn1, items.digitalIn1.getValue(), {1, 6},
                     choices.digitalIn1Exclusive);
    showDigitalInput(ui.comboDigIn2, items.digitalIn2.getValue(), {1, 6, 8, 9, 10},
                     choices.digitalIn2Exclusive);
    showIndexUnlessFocused(ui.comboDigOut,
                           comboIndexFor(items.digitalOut.getValue(), {1, 2, 3, 4}));
    showIndexUnlessFocused(ui.comboLanguage, items.language.getValue());
    showIndexUnlessFocused(ui.comboCalPercent,
                           items.customCalibrationPercentage.getValue() / 10 - 800);
    showIndexUnlessFocused(ui.comboTypeFluid, items.pumpProfileCharacteristic.getValue());
    showIndexUnlessFocused(ui.comboContrast, items.contrast.getValue());
}

void DisplayUpdate::showDigitalInput(QComboBox* combo, int value, std::initializer_list<int> codes,
                                     bool& exclusive)
{
    if (combo->hasFocus())
        return;
    const int index = comboIndexFor(value, codes);
    exclusive = isStartStopEntry(index);
    setIndexIfChanged(combo, index);
}

// Nothing made up while the pump has not told who it is.
void DisplayUpdate::showModelAndFirmware()
{
    if (!items.modelVersion.isKnown()) {
        for (QLabel* label : {ui.labelVersionFW, ui.labelPumpModel, ui.labelVersionHW})
            setTextIfChanged(label, Constants::ReadingText);
        pumpType = 0;
        parts.session->setPumpModel(Engine::Model::Unknown);
        return;
    }
    const QString version = items.modelVersion.getText();
    setTextIfChanged(ui.labelVersionFW, Engine::firmwareText(version));
    pumpType = Engine::modelCodeOf(version);
    parts.session->setPumpModel(Engine::modelOf(pumpType));
    const QString model = GUI::pumpModelName(pumpType);
    setTextIfChanged(ui.labelPumpModel, model);
    setTextIfChanged(ui.labelVersionHW, model);
}

// Showing the pump's state sends nothing back.
void DisplayUpdate::showLinkAndFactory()
{
    showCheckedUnlessFocused(ui.checkboProtAnswer, items.protocolAnswer.getValue() != 0);
    showIndexUnlessFocused(ui.comboPumpAddress, items.address.getValue());
    showIndexUnlessFocused(ui.comboPumpModel, items.factoryPumpModel.getValue());
    showCheckedUnlessFocused(ui.checkboFactoryMode, items.factoryMode.getValue() != 0);
    if (!ui.lineEditFactoryPumpStrokeVolume->hasFocus()) {
        const double strokeVolume = double(items.factoryStrokeVolume.getValue()) / 10.0;
        setTextIfChanged(ui.lineEditFactoryPumpStrokeVolume,
                         QString::number(strokeVolume, 'f', 2));
    }
}
