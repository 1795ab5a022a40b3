#include "buttonstyles.h"

#include "styles.h"
#include "ui_mainscreen.h"

#include <initializer_list>

namespace {

void setSheet(std::initializer_list<QWidget*> widgets, const QString& sheet)
{
    for (QWidget* widget : widgets)
        widget->setStyleSheet(sheet);
}

} // namespace

void applyButtonStyles(Ui::mainScreen& ui)
{
    setSheet({ui.buttonStart, ui.buttonPause, ui.buttonStop, ui.buttonPrime},
             Styles::styleButtonBase + Styles::styleButtonIdle);
    setSheet({ui.buttonMode}, Styles::styleButtonBase);
    setSheet({ui.buttonTestComm, ui.buttonStressTest, ui.buttonSearchPump, ui.buttonCalibrate,
              ui.buttonDefaults, ui.buttonMaintenancePos, ui.buttonUpdatePorts, ui.comboTypeFluid,
              ui.comboCalPercent, ui.comboCommAddress, ui.comboContrast, ui.comboDigIn1,
              ui.comboDigIn2, ui.comboAnalIn, ui.comboDigOut, ui.comboLanguage, ui.comboPumpAddress,
              ui.comboPumpModel},
             Styles::styleWidgetGrey);
    setSheet({ui.TabsExtendedSettings}, Styles::styleTabs);

    setSheet({ui.groupBoxTarget, ui.groupBoxActual, ui.groupAdvanced, ui.inOutGroup,
              ui.groupStatus, ui.groupFaults, ui.groupComm, ui.messagesGroup},
             Styles::styleGroupLarge);
    setSheet({ui.groupBoxPauseTime, ui.groupBoxCycles}, Styles::styleGroupLargeLight);
    setSheet({ui.groupBoxEditVolFlow, ui.groupBoxDispenseTime}, Styles::styleGroupSmallTarget);
    setSheet({ui.groupBoxTimeActual, ui.groupBoxVolumeActual}, Styles::styleGroupSmallActual);
    setSheet({ui.frameTarget, ui.frameActual}, Styles::stylePanelFrame);
    setSheet({ui.buttonAdvanced}, Styles::styleButtonAdvanced);
}
