#pragma once

// Targets outside this library get the form type through this header: their own AUTOUIC would
// look for mainscreen.ui beside their sources if they included the generated header themselves.
#include "ui_mainscreen.h"

// Gives the window's controls their style sheets by role: run buttons, the mode button,
// secondary buttons and combo boxes, the settings tabs, the groups and panels, and the button
// that shows or hides the tabs.
void applyButtonStyles(Ui::mainScreen& ui);
