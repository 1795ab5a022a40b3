#include "helpcontent.h"

#include "helpfiles.h"
#include "helphost.h"

#include <QShortcut>
#include <QWhatsThis>
#include <QWidget>

namespace {

QStringList names(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* name : list)
        result << QLatin1String(name);
    return result;
}

} // namespace

const QList<HelpContent::PageControls>& HelpContent::pages()
{
    static const QList<PageControls> table = {
        {"main_screen.html",
         names({"frameTarget", "groupBoxTarget", "frameActual", "groupBoxActual",
                "frameButtonsPrimary", "stackedButtonStartPause", "pageStart", "pagePause",
                "frameStateFeedback", "labelUserAction"})},
        {"stopbutton.html", names({"buttonStop"})},
        {"startbutton.html", names({"buttonStart"})},
        {"primebutton.html", names({"buttonPrime"})},
        {"pausebutton.html", names({"buttonPause"})},
        {"flowrate.html", names({"lineEditVolume", "groupBoxEditVolFlow"})},
        {"modeselect.html", names({"buttonMode", "frameMode"})},
        {"dispensetime.html",
         names({"lineEditTimeHour", "lineEditTimeMin", "lineEditTimeSec",
                "labelTimeTargetUnitHours", "labelTimeTargetUnitMin", "labelTimeTargetUnitSec",
                "frameEditTime", "groupBoxDispenseTime"})},
        {"elapsedtime.html",
         names({"labelTimeActualHour", "labelTimeActualMin", "labelTimeActualSec",
                "labelTimeActualUnitHour", "labelTimeActualUnitMin", "labelTimeActualUnitSec",
                "frameTimeActual", "groupBoxTimeActual"})},
        {"actualvolume.html", names({"labelVolumeActual", "groupBoxVolumeActual"})},
        {"connectionstate.html", names({"labelConnectionState", "labelTransmissionState"})},
        {"settings.html", names({"TabsExtendedSettings", "groupAdvanced"})},
        {"fluidtype.html", names({"comboTypeFluid", "labelTypeFluid"})},
        {"language.html", names({"comboLanguage", "labelLanguage"})},
        {"calibvolume.html", names({"lineEditCalVolume", "labelCalVolume"})},
        {"calibpercent.html", names({"comboCalPercent", "labelCalPercent"})},
        {"calibwizard.html", names({"buttonCalibrate"})},
        {"contrast.html", names({"comboContrast", "labelContrast"})},
        {"autostart.html", names({"checkboAutostart"})},
        {"defval.html", names({"buttonDefaults"})},
        {"maintenance.html", names({"buttonMaintenancePos"})},
        {"input_output.html", names({"inOutGroup", "TabIO"})},
        {"digin1.html", names({"comboDigIn1", "labelDigIn1"})},
        {"digin2.html", names({"comboDigIn2", "labelDigIn2"})},
        {"analin.html", names({"comboAnalIn", "labelAnalIn"})},
        {"digout.html", names({"comboDigOut", "labelDigOut"})},
        {"cycledose.html", names({"tabCyclic"})},
        {"cycle.html", names({"lineEditCycles", "labelCycles", "groupBoxCycles"})},
        {"breaktime.html", names({"lineEditBreakTimeMin", "lineEditBreakTimeSec",
                                  "labelBreakTimeMin", "labelBreakTimeSec", "groupBoxPauseTime"})},
        {"status.html", names({"groupStatus"})},
        {"motormotion.html", names({"labelMotorMotionIcon", "labelMotorMotionText"})},
        {"motoradj.html", names({"labelMotorAdjustedIcon", "labelMotorAdjustedText"})},
        {"motordc.html", names({"labelMotorLowerDCIcon", "labelMotorLowerDCText"})},
        {"in1low.html", names({"labelInput1ActiveIcon", "labelInput1ActiveText"})},
        {"runmodeactive.html", names({"labelRunModeActiveIcon", "labelRunModeActiveText"})},
        {"dispmodeactive.html",
         names({"labelDispenseModeActiveIcon", "labelDispenseModeActiveText"})},
        {"masterstopactive.html",
         names({"labelMasterStopActiveIcon", "labelMasterStopActiveText"})},
        {"in12ow.html", names({"labelInput2ActiveIcon", "labelInput2ActiveText"})},
        {"pumperror.html", names({"labelPumpFaultIcon", "labelPumpFaultText"})},
        {"displayon.html", names({"labelDisplayOnIcon", "labelDisplayOnText"})},
        {"errorflags.html", names({"groupFaults"})},
        {"noerror.html", names({"labelErrorNoneIcon", "labelErrorNoneText"})},
        {"overpressure.html", names({"labelErrorOverpressureIcon", "labelErrorOverpressureText"})},
        {"motoradjustment.html", names({"labelErrorMotorNotAdjIcon", "labelErrorMotorNotAdjText"})},
        {"noencodersignal.html",
         names({"labelErrorNoEncoderSignalIcon", "labelErrorNoEncoderSignalText"})},
        {"signal4_20mAtoolow.html",
         names({"labelError4_20mATooLowIcon", "labelError4_20mATooLowText"})},
        {"powersupplyfail.html",
         names({"labelErrorPowerSupplyFailureIcon", "labelErrorPowerSupplyFailureText"})},
        {"maximumtempexceeded.html",
         names({"labelErrorMaxTempExceededIcon", "labelErrorMaxTempExceededText"})},
        {"comm.html", names({"TabCommunication"})},
        {"commaddress.html", names({"labelCommAddress", "comboCommAddress"})},
        {"testpump.html", names({"buttonTestComm"})},
        {"pumpaddress.html", names({"labelPumpAddress", "comboPumpAddress"})},
        {"locatedaddress.html", names({"labelLocatedAddress", "labelLocatedAddressIndicator"})},
        {"searchpump.html", names({"buttonSearchPump"})},
        {"command.html", names({"lineEditDiscreteCommand", "labelDiscreteCommand"})},
        {"protocolanswer.html", names({"checkboProtAnswer"})},
        {"unusedlrc.html", names({"checkboUnusedLRC"})},
        {"incorrectlrc.html", names({"checkboIncorrectLRC"})},
        {"nocyclicdata.html", names({"checkboNoDataUpdate"})},
        {"comport.html", names({"labelCommuncationPort", "listWidgetComPorts"})},
        {"comportupdate.html", names({"buttonUpdatePorts"})},
        {"commmessage.html", names({"textEditRxData", "textEditTxData", "labelTxData",
                                    "labelRxData", "messagesGroup"})},
        {"nocyclicdatadisp.html", names({"checkboNoCyclicDataDisplay"})},
        {"clearall.html", names({"buttonClearAll"})},
        {"help.html", names({"tabHelp", "helpContentWidget", "helpBrowser"})},
        {"zuldocumentation.html", names({"companyLogo"})},
        {"general.html", names({"groupComm"})},
    };
    return table;
}

HelpContent::HelpContent(HelpHost* window)
{
    QWidget* host = window->hostWidget();
    shortcut = new QShortcut(QKeySequence::HelpContents, host);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, [window] { window->activateHelp(); });
    // Shift+F1 asks what a control is, as the title bar's "?" button does.
    whatsThisShortcut = new QShortcut(QKeySequence::WhatsThis, host);
    whatsThisShortcut->setContext(Qt::ApplicationShortcut);
    connect(whatsThisShortcut, &QShortcut::activated, this, [] { QWhatsThis::enterWhatsThisMode(); });

    for (const PageControls& entry : pages()) {
        for (const QString& name : entry.controls) {
            // A name given twice in the tree gets its page on every control that carries it.
            for (QObject* control : host->findChildren<QObject*>(name))
                control->setProperty(HelpFiles::pageProperty, entry.page);
        }
    }
}

HelpContent::~HelpContent()
{
    // The key belongs to this object's job; without it the window must not keep a dead binding.
    delete shortcut;
    delete whatsThisShortcut;
}

QStringList HelpContent::missingControls(const QObject* window)
{
    QStringList missing;
    for (const PageControls& entry : pages()) {
        for (const QString& name : entry.controls) {
            if (!window->findChild<QObject*>(name))
                missing << name;
        }
    }
    return missing;
}
