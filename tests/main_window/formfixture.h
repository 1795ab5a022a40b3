#pragma once

#include "buttonstyles.h"

#include <QDialog>
#include <QMenu>

// The window's form prepared the way the main window prepares it: styles applied, run-time combo
// entries filled, the factory tab removed, the mode menu attached.
struct FormFixture
{
    FormFixture();

    // Hides the settings tabs and shrinks the dialog to its layout's minimum, as the window does.
    void showCompact();
    // Shows the settings tabs and grows the dialog to its layout's minimum.
    void showExpanded();

    QDialog dialog;
    Ui::mainScreen ui;
    QMenu modeMenu;

private:
    void fitToMinimum();
};

// Application-wide settings the program makes before it builds the window.
void prepareApplicationLook();
