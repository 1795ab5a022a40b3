#pragma once

#include "command.h"
#include "commandstack.h"
#include "pumpvalues.h"
#include "readings.h"

#include <QColor>
#include <QPixmap>
#include <QString>

#include <functional>
#include <initializer_list>
#include <vector>

class Communication;
class QComboBox;
class QWidget;
struct OperationItems;

namespace Ui {
class mainScreen;
} // namespace Ui

namespace GUI {
class PanelSession;
class PanelSettings;
} // namespace GUI

// What the user's commands and the display both decide: whether the target field holds a volume
// (1) or a flow rate (0), and which digital input holds the start/stop function.
struct PanelChoices
{
    quint8 dispenseMode = 0;
    bool digitalIn1Exclusive = false;
    bool digitalIn2Exclusive = false;
};

// The window's cyclic display: every tick shows the operation items and judges the line from
// what it did since the previous tick. Everything it carries from tick to tick is kept here.
class DisplayUpdate
{
public:
    // What the display reads and writes besides its own state.
    struct Parts
    {
        QWidget* window;
        Ui::mainScreen* ui;
        OperationItems* items;
        PanelChoices* choices;
        BusinessLogic::CommandStack* commandStack;
        Communication* communication;
        // The stored port name is shown in the title.
        const GUI::PanelSettings* settings;
        // Told the model of the pump at hand as the window shows it; the target field and the
        // socket's verbs take its limits.
        GUI::PanelSession* session;
        // The name of the pump the panel shows, when it has one; the title gives it.
        std::function<QString()> pumpName;
        // Asks the pump who it is, stopping the display while the request is queued.
        std::function<void()> probeConnection;
        // Asks it behind whatever is queued, leaving the queue and the display alone.
        std::function<void()> queueConnectionCheck;
    };

    explicit DisplayUpdate(Parts parts);

    void tick();
    bool isConnectionLost() const { return connectionLost; }

private:
    using Activity = BusinessLogic::CommandStack::Activity;

    void showTitle();

    // Verdict line and connection supervision from what the line did since the last tick.
    void showActivity(const Activity& activity);
    void showVerdicts(const Activity& activity);
    void showFade();
    void superviseConnection(const Activity& activity);
    void countSilentTick();
    void noteAnswering();
    void showConnected();
    void showClosedPort();

    void showTarget();
    void showVolumeActual();
    void showRunMode();
    void showRunModeAs(const QString& button, const QString& title, double minimum,
                       double maximum, quint8 dispenseMode);
    void showDispenseTime();
    void showStatusMarks();
    void showCycles();
    void showBreakTime();
    void showRunTime();
    void showTimeInMotion();
    void showRemainingTime(const QString& elapsed, int hours, int minutes, int seconds);
    void showRunTimeText(const QString& hours, const QString& minutes, const QString& seconds);
    void showRunButton(QWidget* page);
    void showSettings();
    void showDigitalInput(QComboBox* combo, int value, std::initializer_list<int> codes,
                          bool& exclusive);
    void showModelAndFirmware();
    void showLinkAndFactory();

    Parts parts;
    Ui::mainScreen& ui;
    OperationItems& items;
    PanelChoices& choices;
    QPixmap bulletGrey;
    QPixmap bulletGreen;

    bool motorInMotion = false;
    bool masterStopActive = true;
    bool motionStarted = false;
    bool connectionLost = true;
    qint32 connectionCountdown = 10;
    // Answered ticks since the connection check was last asked while the pump was not named.
    int unnamedTicks = 0;
    // Whether the last tick with traffic heard nothing at all.
    bool lastTickSilent = false;
    // Fading of the verdict line, and the pump model by the previous tick.
    int fadeAlpha = 100;
    QColor fadeColor{0, 149, 216};
    int pumpType = 0;
};
