#include "mainform.h"

#include "communication.h"
#include "constants.h"
#include "loggingcommandstack.h"
#include "refreshtimer.h"
#include "valuelimits.h"
#include "runview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QStackedWidget>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace {

// Number of the command that reports the receive state of the last exchange, and the place of
// its address-only flag.
constexpr BusinessLogic::CommandSpezifier RxStateSpezifier = 42;
constexpr int AddressOnlyFlag = 3;

// Ticks without any answer before the pump counts as lost.
constexpr qint32 SilentTicksTolerated = 10;

constexpr int FadeStepPercent = 4;
constexpr int FullOpacityPercent = 100;

// The model decides the input limits of the target field.
using GUI::ModelCode02;

// Run modes as the pump reports them.
constexpr int RunModeVolume = 1;
constexpr int RunModeFlowRate = 0;
constexpr int RunModeDispenseFlowRate = 2;

constexpr int InfiniteCycles = 1000;

const QString ConnectedStyle = QStringLiteral("color:rgb(0,149,216);");
const QString DisconnectedStyle = QStringLiteral("color:rgb(255,100,0); font-size:12pt;");
const QString ConnectedText = QStringLiteral("PUMP CONNECTED");
const QString DisconnectedText = QStringLiteral("PUMP DISCONNECTED ");
// What is wrong with the line, when it knows (a network port that does not connect).
QString lineFaultText(const QString& fault)
{
    return fault.isEmpty() ? QString() : QStringLiteral(": ") + fault;
}

const QString AcceptedText = QStringLiteral("COMMAND ACCEPTED");
const QString NotAcceptedText = QStringLiteral("COMMAND NOT ACCEPTED (RANGE)");
const QString NotAnsweredText = QStringLiteral("COMMAND NOT ANSWERED");
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

// A status mark: the bit of a status page that lights an icon, and whether a set or a clear
// bit lights it.
struct StatusMark
{
    int page;
    int bit;
    QLabel* Ui::mainScreen::*icon;
    bool litWhenSet;
};

// Page 1 bit 0 (motor in motion) and page 4 bit 3 (master stop) also drive state; they are read
// separately.
const StatusMark StatusMarks[] = {
    {1, 0, &Ui::mainScreen::labelMotorMotionIcon, true},
    {1, 1, &Ui::mainScreen::labelPumpFaultIcon, true},
    {1, 2, &Ui::mainScreen::labelDisplayOnIcon, false},
    {2, 0, &Ui::mainScreen::labelMotorAdjustedIcon, true},
    {2, 1, &Ui::mainScreen::labelInput1ActiveIcon, true},
    {2, 2, &Ui::mainScreen::labelInput2ActiveIcon, true},
    {2, 3, &Ui::mainScreen::labelMotorLowerDCIcon, true},
    {3, 0, &Ui::mainScreen::labelRunModeActiveIcon, true},
    {4, 0, &Ui::mainScreen::labelDispenseModeActiveIcon, true},
    {4, 3, &Ui::mainScreen::labelMasterStopActiveIcon, false},
    {6, 0, &Ui::mainScreen::labelErrorOverpressureIcon, true},
    {6, 3, &Ui::mainScreen::labelError4_20mATooLowIcon, true},
    {6, 4, &Ui::mainScreen::labelErrorPowerSupplyFailureIcon, true},
    {6, 5, &Ui::mainScreen::labelErrorMotorNotAdjIcon, true},
    {6, 6, &Ui::mainScreen::labelErrorMaxTempExceededIcon, true},
    {6, 7, &Ui::mainScreen::labelErrorNoEncoderSignalIcon, true},
};

constexpr int ErrorPage = 6;
constexpr int UsedBitsMask = 0xFF;

} // namespace

void mainForm::triggerUpdateValues()
{
    // 1. Title. The stored port name changes only when a port is chosen, which also changes
    // the device the link has open: the settings are read again only then.
    const QString openPath = communication->portPath();
    if (!titlePortKnown || openPath != titlePortPath) {
        titlePortName = settings->value(instanceKey + u'/' + Constants::PortSettingsKey).toString();
        titlePortPath = openPath;
        titlePortKnown = true;
    }
    const QString title = QStringLiteral("ZUL DOSEDESK  V") + QStringLiteral(DOSEDESK_VERSION)
                          + QStringLiteral("  (ADDR ")
                          + QString::number(ui.comboCommAddress->currentIndex())
                          + QStringLiteral(", ") + titlePortName + QStringLiteral(")");
    setIfChanged(static_cast<QWidget*>(this), &QWidget::windowTitle, &QWidget::setWindowTitle, title);

    // 2. Address-only answers, as the link keeps them; no traffic on the line.
    QByteArray rxState;
    if (BusinessLogic::Command* rxStateCommand = command(RxStateSpezifier)) {
        rxStateCommand->execute();
        rxState = rxStateCommand->getAnswer();
    }
    const bool addressOnly = rxState.size() > AddressOnlyFlag && rxState.at(AddressOnlyFlag) == '1';

    // 3.-8. Verdicts on the user's commands and connection supervision.
    showActivity(commandStack->takeActivity(), addressOnly);

    // 9. Target volume or flow rate.
    if (!ui.lineEditVolume->hasFocus()) {
        float target = 1.0f;
        if (dispenseMode == 1)
            target = float(itemVolumeTarget.getValue()) / 1000.0f;
        else if (dispenseMode == 0)
            target = float(itemFlowrate.getValue()) / 1000.0f;
        setTextIfChanged(ui.lineEditVolume, targetText(target));
    }

    // 10. Volume delivered.
    setTextIfChanged(ui.labelVolumeActual,
                     QString::number(double(itemVolumeActual.getValue()) / 1000.0, 'f', 3)
                         + QStringLiteral(" ml"));

    // 11. Run mode and the limits of the target field, by the model of the previous tick.
    if (!ui.buttonMode->hasFocus()) {
        const int runMode = itemRunMode.getValue();
        const bool smallPump = pumpType == ModelCode02;
        if (runMode == RunModeVolume) {
            setTextIfChanged(ui.buttonMode, QStringLiteral("     ml     "));
            const ValueLimits::Range limits =
                smallPump ? ValueLimits::VolumeSmall : ValueLimits::VolumeLarge;
            ui.lineEditVolume->minimum = limits.minimum;
            ui.lineEditVolume->maximum = limits.maximum;
            setIfChanged(ui.groupBoxEditVolFlow, &QGroupBox::title, &QGroupBox::setTitle,
                         QStringLiteral("Volume"));
            dispenseMode = 1;
        } else if (runMode == RunModeFlowRate || runMode == RunModeDispenseFlowRate) {
            setTextIfChanged(ui.buttonMode, QStringLiteral("   ml/min   "));
            const ValueLimits::Range limits =
                smallPump ? ValueLimits::FlowSmall : ValueLimits::FlowLarge;
            ui.lineEditVolume->minimum = limits.minimum;
            ui.lineEditVolume->maximum = limits.maximum;
            setIfChanged(ui.groupBoxEditVolFlow, &QGroupBox::title, &QGroupBox::setTitle,
                         QStringLiteral("Flow rate"));
            dispenseMode = 0;
        }
    }

    // 12. Dispense time.
    if (!ui.lineEditTimeHour->hasFocus() && !ui.lineEditTimeMin->hasFocus()
        && !ui.lineEditTimeSec->hasFocus()) {
        const QString time = itemDispenseTime.getText();
        setTextIfChanged(ui.lineEditTimeHour, twoDigits(numberAt(time, 0, 2)));
        setTextIfChanged(ui.lineEditTimeMin, twoDigits(numberAt(time, 2, 2)));
        setTextIfChanged(ui.lineEditTimeSec, twoDigits(numberAt(time, 4, 2)));
    }

    // 13. Status and error panel.
    const auto bitSet = [this](int page, int bit) {
        return (itemStatus.getStatus(page) & (1 << bit)) != 0;
    };
    const bool moving = bitSet(1, 0);
    motionStarted = motionStarted || (moving && !motorInMotion);
    motorInMotion = moving;
    masterStopActive = !bitSet(4, 3);
    for (const StatusMark& mark : StatusMarks)
        setPixmapIfChanged(ui.*mark.icon,
                           bitSet(mark.page, mark.bit) == mark.litWhenSet ? bulletGreen : bulletGrey);
    setPixmapIfChanged(ui.labelErrorNoneIcon, (itemStatus.getStatus(ErrorPage) & UsedBitsMask) == 0
                                                  ? bulletGreen
                                                  : bulletGrey);

    // 14. Number of cycles.
    if (!ui.lineEditCycles->hasFocus()) {
        const int cycles = itemVolumeNumber.getValue();
        setTextIfChanged(ui.lineEditCycles, cycles <= 1                ? QStringLiteral("OFF")
                                            : cycles == InfiniteCycles ? QStringLiteral("INF")
                                                                       : QString::number(cycles));
    }

    // 15. Pause between cycles.
    if (!ui.lineEditBreakTimeMin->hasFocus() && !ui.lineEditBreakTimeSec->hasFocus()) {
        const int breakTime = itemVolumeBreakTime.getValue();
        setTextIfChanged(ui.lineEditBreakTimeMin, QString::number(breakTime / 60));
        setTextIfChanged(ui.lineEditBreakTimeSec, QString::number(breakTime % 60));
    }

    // 16. Elapsed or remaining time, and the run buttons following the motor.
    if (motorInMotion) {
        const QString elapsed = itemTimeElapsed.getText();
        const float seconds = floatAt(elapsed, 4, 2);
        const float hundredths = floatAt(elapsed, 6, 2);
        const int targetHours = GUI::readInteger(ui.lineEditTimeHour->text());
        const int targetMinutes = GUI::readInteger(ui.lineEditTimeMin->text());
        const int targetSeconds = GUI::readInteger(ui.lineEditTimeSec->text());
        if (targetHours > 0 || targetMinutes > 0 || targetSeconds > 0) {
            // Remaining time, borrowing from the next larger unit.
            float second = std::round(float(targetSeconds) - seconds) - hundredths / 100.0f;
            float borrow = 0.0f;
            if (second < 0.0f) {
                second += 60.0f;
                borrow = -1.0f;
            }
            float minute = std::round(float(targetMinutes) - floatAt(elapsed, 2, 2)) + borrow;
            borrow = 0.0f;
            if (minute < 0.0f) {
                minute += 60.0f;
                borrow = -1.0f;
            }
            const float hour = std::round(float(targetHours) - floatAt(elapsed, 0, 2)) + borrow;
            setTextIfChanged(ui.labelTimeActualHour, twoDigits(roundHalfAway(hour)));
            setTextIfChanged(ui.labelTimeActualMin, twoDigits(roundHalfAway(minute)));
            setTextIfChanged(ui.labelTimeActualSec, twoDigits(roundHalfAway(second)));
        } else {
            setTextIfChanged(ui.labelTimeActualHour, elapsed.mid(0, 2));
            setTextIfChanged(ui.labelTimeActualMin, elapsed.mid(2, 2));
            setTextIfChanged(ui.labelTimeActualSec,
                             twoDigits(roundHalfAway(seconds + hundredths / 100.0f)));
        }
        if (motionStarted)
            setIfChanged(ui.stackedButtonStartPause, &QStackedWidget::currentWidget,
                         &QStackedWidget::setCurrentWidget, static_cast<QWidget*>(ui.pagePause));
    } else {
        if (masterStopActive) {
            setTextIfChanged(ui.labelTimeActualHour, ui.lineEditTimeHour->text());
            setTextIfChanged(ui.labelTimeActualMin, ui.lineEditTimeMin->text());
            setTextIfChanged(ui.labelTimeActualSec, ui.lineEditTimeSec->text());
        }
        if (motionStarted) {
            setIfChanged(ui.stackedButtonStartPause, &QStackedWidget::currentWidget,
                         &QStackedWidget::setCurrentWidget, static_cast<QWidget*>(ui.pageStart));
            motionStarted = false;
        }
    }

    // 17. Settings controls. Autostart's launch slot listens to every state change, so its
    // signals are held back; the combos launch on user activation only.
    if (!ui.checkboAutostart->hasFocus())
        showChecked(ui.checkboAutostart, itemAutostart.getValue() != 0);
    if (!ui.comboAnalIn->hasFocus())
        setIndexIfChanged(ui.comboAnalIn, comboIndexFor(itemAnalogIn.getValue(), {0, 3, 1, 2}));
    if (!ui.comboDigIn1->hasFocus()) {
        const int index = comboIndexFor(itemDigitalIn1.getValue(), {1, 6});
        if (isStartStopEntry(index))
            digitalIn1Exclusive = true;
        setIndexIfChanged(ui.comboDigIn1, index);
    }
    if (!ui.comboDigIn2->hasFocus()) {
        const int index = comboIndexFor(itemDigitalIn2.getValue(), {1, 6, 8, 9, 10});
        if (isStartStopEntry(index))
            digitalIn2Exclusive = true;
        setIndexIfChanged(ui.comboDigIn2, index);
    }
    if (!ui.comboDigOut->hasFocus())
        setIndexIfChanged(ui.comboDigOut, comboIndexFor(itemDigitalOut.getValue(), {1, 2, 3, 4}));
    if (!ui.comboLanguage->hasFocus())
        setIndexIfChanged(ui.comboLanguage, itemLanguage.getValue());
    if (!ui.comboCalPercent->hasFocus())
        setIndexIfChanged(ui.comboCalPercent, itemCustomCalibrationPercentage.getValue() / 10 - 800);
    if (!ui.comboTypeFluid->hasFocus())
        setIndexIfChanged(ui.comboTypeFluid, itemPumpProfileCharacteristic.getValue());
    if (!ui.comboContrast->hasFocus())
        setIndexIfChanged(ui.comboContrast, itemContrast.getValue());

    // 18. Firmware version and pump model.
    const QString version = itemModelVersion.getText();
    setTextIfChanged(ui.labelVersionFW, QStringLiteral("V") + QString::number(numberAt(version, 5, 2))
                                            + QStringLiteral(".")
                                            + QString::number(numberAt(version, 7, 3)));
    pumpType = numberAt(version, 0, 5);
    const QString model = GUI::pumpModelName(pumpType);
    setTextIfChanged(ui.labelPumpModel, model);
    setTextIfChanged(ui.labelVersionHW, model);

    // 19. Link and factory controls; showing the pump's state sends nothing back.
    if (!ui.checkboProtAnswer->hasFocus())
        showChecked(ui.checkboProtAnswer, itemProtocolAnswer.getValue() != 0);
    if (!ui.comboPumpAddress->hasFocus())
        setIndexIfChanged(ui.comboPumpAddress, itemAddress.getValue());
    if (!ui.comboPumpModel->hasFocus())
        setIndexIfChanged(ui.comboPumpModel, itemFactoryPumpModel.getValue());
    if (!ui.checkboFactoryMode->hasFocus())
        showChecked(ui.checkboFactoryMode, itemFactoryMode.getValue() != 0);
    if (!ui.lineEditFactoryPumpStrokeVolume->hasFocus())
        setTextIfChanged(ui.lineEditFactoryPumpStrokeVolume,
                         QString::number(double(itemFactoryStrokeVolume.getValue()) / 10.0, 'f', 2));

    // 20. The run record hears when the pump went silent.
    run->displayTick(connectionLost);
}

void mainForm::showActivity(const BusinessLogic::CommandStack::Activity& activity,
                            bool addressOnly)
{
    using Verdict = BusinessLogic::CommandStack::Verdict;
    // Acceptance of the user's commands, fading out after each verdict. Of several in one tick
    // the worst is shown, so that no refusal is hidden by a later success.
    if (fadeAlpha > 0)
        fadeAlpha -= FadeStepPercent;
    if (!activity.verdicts.empty()) {
        const Verdict worst = *std::max_element(activity.verdicts.begin(), activity.verdicts.end());
        fadeColor = worst == Verdict::Accepted ? AcceptedColor : RefusedColor;
        fadeAlpha = FullOpacityPercent;
        if (worst != Verdict::NotAnswered) {
            setStyleIfChanged(ui.labelConnectionState, ConnectedStyle);
            setTextIfChanged(ui.labelConnectionState, ConnectedText);
        }
        setTextIfChanged(ui.labelTransmissionState, worst == Verdict::Accepted  ? AcceptedText
                                                    : worst == Verdict::Refused ? NotAcceptedText
                                                                                : NotAnsweredText);
        setTextIfChanged(ui.labelUserAction, QString());
    }
    setStyleIfChanged(ui.labelTransmissionState,
                      QStringLiteral("color:rgba(%1,%2,%3,%4%);")
                          .arg(fadeColor.red())
                          .arg(fadeColor.green())
                          .arg(fadeColor.blue())
                          .arg(fadeAlpha));

    // Connection supervision: a tick is silent when its exchanges all went unanswered, and one
    // answer in it is enough to hear the pump; a tick without any exchange (a closed line
    // between polling bursts, an idle window) counts as the last one with traffic did.
    if (activity.exchanges > 0)
        lastTickSilent = activity.answered == 0;
    // A line that knows what is wrong with it (a network port that does not connect) says so at
    // once rather than after the silent ticks.
    const QString lineFault = communication->lineFault();
    if (lastTickSilent) {
        --connectionCountdown;
        if (connectionCountdown <= 0 || !lineFault.isEmpty()) {
            setStyleIfChanged(ui.labelConnectionState, DisconnectedStyle);
            setTextIfChanged(ui.labelConnectionState,
                             DisconnectedText + u'(' + communication->portStatus().text() + u')'
                                 + lineFaultText(lineFault));
            setTextIfChanged(ui.labelTransmissionState, QString());
            setTextIfChanged(ui.labelUserAction, QString());
            commandStack->clear();
            connectionLost = true;
            // Probes again; the countdown stays spent, so every silent tick probes anew.
            probeConnection();
            fadeAlpha = FullOpacityPercent;
        }
    } else {
        if (connectionLost) {
            // The pump answers again, so the disconnection text no longer holds; naming the
            // pump as connected is left to an acknowledge or an address-only answer.
            if (ui.labelConnectionState->text().startsWith(DisconnectedText))
                ui.labelConnectionState->clear();
            setFocus(Qt::ActiveWindowFocusReason);
            connectionLost = false;
            // Drop the cyclic commands that piled up while the pump was silent and ask for the
            // pump's address once more: when only readings follow, its address-only answer is
            // what names it connected again. Also back from 500 ms to the normal interval; a
            // running timer is left alone otherwise, so that the 10 ms stress mode survives the
            // answers it provokes.
            probeConnection();
        }
        connectionCountdown = SilentTicksTolerated;
    }

    // A frame holding only the address also shows that the pump is there.
    if (addressOnly) {
        setStyleIfChanged(ui.labelConnectionState, ConnectedStyle);
        setTextIfChanged(ui.labelConnectionState, ConnectedText);
        setTextIfChanged(ui.labelUserAction, QString());
    }
}

void mainForm::feedAnswer(const Answer& answer)
{
    for (const auto& [item, list] : pollingPlan()) {
        if (item->getCommandSpezifier() == answer.spezifier) {
            item->setAnswer(answer);
            return;
        }
    }
}
