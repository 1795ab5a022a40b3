#pragma once

#include "commandstack.h"
#include "displayupdate.h"
#include "helphost.h"
#include "mqttbridge.h"
#include "operationitems.h"
#include "panelsettings.h"
#include "pumpfleet.h"
#include "pumpvalues.h"
#include "ui_mainscreen.h"

#include <QDialog>
#include <QFileInfo>
#include <QIcon>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QApplication;
class QMessageBox;
class QHelpContentWidget;
class QHelpEngine;
class QSettings;
class Communication;
class CommDialogue;
class HelpBrowser;
class LineReopener;
class ProtocolPanel;
class PumpsPanel;
class RunPanel;
struct Answer;
struct ProgramOptions;

namespace BusinessLogic {
class LoggingCommandStack;
} // namespace BusinessLogic

namespace GUI {
class PanelSession;
class PumpSearch;
class RefreshTimer;
} // namespace GUI

// The program's only window: targets, run buttons, live values, settings, traffic and help.
class QLabel;

class mainForm : public QDialog, public HelpHost
{
    Q_OBJECT

public:
    // options.portPaths: device paths the system does not list (pseudo-terminals, by-id links);
    // when given, the first of them is chosen at start instead of the stored port.
    // options.factoryMode shows the factory tab.
    mainForm(GUI::PanelSession& session, QApplication* application, const ProgramOptions& options);
    ~mainForm() override;

    void attachCommand(BusinessLogic::Command* command);
    void startCommunication();
    QString storedPortName() const;

    // Interval rule of the display timer: stopped while "No cyclic data" is checked, else
    // 500 ms while the pump is silent and 100 ms while it answers.
    void restartDisplayTimer();

    // HelpHost
    QByteArray helpFileData(const QUrl& url) override;
    void showHelpPage(const QUrl& url) override;
    QWidget* hostWidget() override { return this; }

    // Read access for the entry point and the tests.
    Ui::mainScreen& form() { return ui; }
    QTimer& timer() { return displayTimer; }
    bool isConnectionLost() const { return display->isConnectionLost(); }
    // The group of this copy's stored settings.
    QString settingsPrefix() const;
    // Hands an answer straight to the operation item that takes it, as the refresh cycle does
    // when the answer is due; lets the tests and the benchmark set what the display shows.
    void feedAnswer(const Answer& answer);
    // The run record, its chart and progress bar.
    RunPanel& runPanel() { return *run; }
    // The protocol tab.
    ProtocolPanel& protocolPanel() { return *protocols; }
    // The pump address chosen in the window.
    int chosenAddress() const;
    // Publishes the pump on the broker the settings name (none: the bridge is off), replacing
    // the bridge there was.
    void startBridge(const Control::BridgeSettings& settings);
    // The broker bridge's state, in a line of the Communication tab.
    void showBrokerState(const QString& text);
    // What became of a command that came from outside the window, in the verdict line and,
    // before its frames, in the message panes.
    void showRemoteVerdict(const QString& text);
    // The pumps of this panel and what each last told; the list beside the panel shows them.
    Control::PumpFleet& pumpFleet() { return *fleet; }
    // Adds the pump at this address of the line, the panel's own first; a refusal is noted
    // under the list and returned (empty: added).
    QString addPump(const QString& port, int address, const QString& name = {});
    // Makes the panel show and control the pump of this row of the list.
    void showPump(int row);
    // The name of the pump the panel shows, when it is in the list.
    QString shownPumpName() const;
    // Stop to every pump of the panel, its own first.
    void stopAllPumps();

protected:
    // Escape does not close the window: the panel is no question to be dismissed.
    void keyPressEvent(QKeyEvent* event) override;
    // Closing while the pump works for the window asks first what becomes of the pump.
    void closeEvent(QCloseEvent* event) override;

public slots:
    void showMainWindow();
    void toggleAdvancedScreen();
    // Opens the settings at the tab of this title (any case); false when there is none.
    bool openTab(const QString& title);
    void activateHelp() override;
    void triggerUpdateValues();
    void setComPort(const QSerialPortInfo& info);
    void setComPortPath(const QString& path);

    void launchCmdStart();
    void launchCmdStop();
    void launchCmdPrime();
    void launchCmdPause();
    void launchCmdSetVolume();
    void launchCmdSetDispenseTime();
    void launchCmdSetDispenseBreakTime();
    void launchCmdSetDispenseNumber();
    void launchCmdSetCustomCalibrationVolume();
    void launchCmdSetFactoryMeasuredCalVolume();
    void launchCmdSetFactoryMeasuredPumpStrokeVolume();
    void launchCmdSetAnalogIn(int index);
    void launchCmdSetDigitalIn1(int index);
    void launchCmdSetDigitalIn2(int index);
    void launchCmdSetDigitalOut(int index);
    void launchCmdSetLanguage(int index);
    void launchCmdSetCustomCalibrationPercentage(int index);
    void openCalibrationWizard();
    void launchCmdSetAutostart(int state);
    void launchCmdSetPumpProfileCharacteristics(int index);
    void launchCmdSetDisplayContrast(int index);
    void launchCmdSetProtocolAnswer(int state);
    void launchCmdSetFactoryMode(int state);
    void launchCmdSetPumpModel(int index);
    void launchCmdSetFactoryDefaults();
    void launchCmdSetMaintenancePos();
    void launchCmdSetCommAddress(int index);
    void setDiscreteCommand();
    void launchCmdExecuteCommCheck();
    void launchCmdSetPumpAddress(int index);
    void launchCmdSetInvalidLRC(int state);
    void launchCmdSetUnusedLRC(int state);
    void setDataUpdate();
    void launchCmdToggleStressTest();
    void updateAttachAll();
    void updateDetachAll();
    void changeTime();
    void modeSelect(QAction* action);
    void modeReleased();
    void launchCmdSearchPump();
    void showSearchStarted();

private:
    using Origin = BusinessLogic::CommandStack::Origin;

    // Construction, in the order the constructor calls them.
    void setupRunButtons();
    void setupSettings();
    void setupDisplay();
    void setupPortList(const QStringList& extraPorts);
    void setupChoiceLists();
    void setupFactoryTab(bool factoryMode);
    void selectStoredAddress();
    void setupButtons();
    void connectRefreshCycle();
    void readIdentityAfterCheck();
    void connectMessagesPanel();
    void setupPumpSearch();
    void setupModeMenu();
    void setupTimeFields();
    void setupAdvancedToggle();
    void setupFieldLimits();
    void setupHelp();
    // The controls that launch the commands of the table, in the order they are connected.
    struct Launcher;
    std::vector<Launcher> launchers();
    template <typename Control, typename Slot>
    static Launcher launcher(BusinessLogic::CommandSpezifier spezifier, Control* control,
                             Slot slot);

    BusinessLogic::Command* command(int spezifier) const;
    void queue(int spezifier, qint32 parameter, Origin origin = Origin::User);
    // Asks the pump for its address on the chosen address, as the window's own check of the
    // link rather than a command of the user's.
    void probeConnection();
    // Asks the pump at the chosen address who it is, behind whatever is queued.
    void queueProbe();
    // The window's part of the pump search: what it shows, and polling and display stopped
    // while it runs.
    void showFoundPump(int address);
    void showNoPump();
    void endSearch();
    void centreWindow();
    // Reopens the chosen port by itself when its device comes back, and records the gap.
    void watchLine(CommDialogue* portList, LineReopener* reopener);
    void showPumpOnAnswer(QMetaObject::Connection& answerWait);
    // What closing would leave behind unattended: a run of the pump, a protocol between its
    // cycles, or the search; empty when nothing.
    QString workAtClose() const;
    void askBeforeClosing(const QString& work);
    void closeAnswered(int role);
    // Sends Stop and closes once it has gone on the line (or the queue was dropped).
    void stopThenClose();
    // A time-stamped line about the link itself in both panes of the messages panel.
    void noteLineEvent(const QString& event, Qt::GlobalColor colour);
    void saveSettings();

    // Sends a typed value the pump's rules accept, and shows it in the item (if any) until the
    // pump reports its own; false, with nothing sent and the reason in labelUserAction, when
    // they refuse it.
    bool sendTyped(BusinessLogic::CommandSpezifier spezifier, GUI::OperationItem* shownIn,
                   const Engine::Verdict& verdict);

    // A digital input as the slots change it.
    struct DigitalInput
    {
        QComboBox* combo;
        GUI::OperationItem& item;
        bool& exclusive;
    };
    // Sends the function chosen for one input (its combo entry index); when both inputs would
    // then hold the start/stop function, the other gives it up.
    void launchInputFunction(BusinessLogic::CommandSpezifier spezifier, int index,
                             qint32 function, DigitalInput chosen, DigitalInput other);

    QString helpCollectionPath;
    QFileInfo helpFile;
    QIcon iconExpand;
    QIcon iconCollapse;
    QAction* actionFlowRate = nullptr;
    QAction* actionVolume = nullptr;
    qint32 instanceNumber = 0;
    Ui::mainScreen ui;
    GUI::PanelSession* panelSession;
    BusinessLogic::LoggingCommandStack* commandStack;
    std::vector<BusinessLogic::Command*>* commands;
    QTimer displayTimer;
    QApplication* application;
    GUI::RefreshTimer* refresher;
    Communication* communication;
    bool advancedShown = true;
    bool savedNoDataUpdate = true;
    QSettings* settings = nullptr;
    // This copy's stored settings as the window last chose them.
    GUI::PanelSettings stored;

    OperationItems items;
    PanelChoices choices;
    std::unique_ptr<DisplayUpdate> display;

    QHelpEngine* helpEngine = nullptr;
    QHelpContentWidget* helpContentWidget = nullptr;
    HelpBrowser* helpBrowser = nullptr;
    RunPanel* run = nullptr;
    ProtocolPanel* protocols = nullptr;
    QLabel* brokerState = nullptr;
    QPushButton* brokerButton = nullptr;
    Control::BridgeSettings brokerSettings;
    std::unique_ptr<Control::MqttBridge> bridge;
    void buildBrokerLine();
    void editBroker();
    std::unique_ptr<Control::PumpFleet> fleet;
    QString chosenLine; // the port's path as last chosen in the list
    PumpsPanel* pumps = nullptr;
    void setupPumps();
    void addPumpByHand();
    void offerFoundPumps(const QList<int>& addresses);
    GUI::PumpSearch* search = nullptr;
    LineReopener* reopener = nullptr;
    QMessageBox* closeQuestion = nullptr;
    bool closeAgreed = false;
    bool foundInThisSearch = false;

    // Shown in labelUserAction, before the reason, when the pump's rules refuse a typed value;
    // nothing is sent then.
    static const QString InvalidValueText;

public:
    // The question on closing: what still runs, and the answers besides Cancel.
    static const QString PumpRunningText;
    static const QString SearchRunningText;
    static const QString ProtocolRunningText;
    static const QString StopItText;
    static const QString LeaveItRunningText;
};
