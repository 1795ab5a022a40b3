#pragma once

#include <QString>

// The style-sheet texts of the window, kept in one place so that every control of a role looks
// the same, and the registration of the compiled-in images.
namespace Styles {

// Run buttons and the dispense-mode button: square blue buttons.
extern const QString styleButtonBase;
// Colour of a run button that is not in effect; appended to styleButtonBase.
extern const QString styleButtonIdle;
// Colour of the run button in effect; appended to styleButtonBase.
extern const QString styleButtonActive;
// Square corners on one side, appended by the pause and prime states.
extern const QString styleSquareLeft;
extern const QString styleSquareRight;
// The dispense-mode menu.
extern const QString styleMenu;
// Secondary buttons and every combo box: grey, with arrow pictures on drop-downs and scroll bars.
extern const QString styleWidgetGrey;
// The settings tab widget.
extern const QString styleTabs;
// Main groups (18 pt titles) on grey, and the two groups of the cycle page on near-white.
extern const QString styleGroupLarge;
extern const QString styleGroupLargeLight;
// Sub-groups (14 pt titles) of the target values (blue titles) and of the actual values.
extern const QString styleGroupSmallTarget;
extern const QString styleGroupSmallActual;
// The two framed panels of target and actual values.
extern const QString stylePanelFrame;
// The flat button that shows or hides the settings tabs.
extern const QString styleButtonAdvanced;
// The frame around a numeric field, with and without the keyboard focus; both borders have the
// same width so that the frame keeps its size.
extern const QString styleFrameFocused;
extern const QString styleFrameNormal;

// Registers the compiled-in images (":/Images/Images/..."); safe to call more than once.
void initResources();

} // namespace Styles
