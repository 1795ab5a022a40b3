#include "mainform.h"

#include "brokerdialog.h"
#include "buttonstyles.h"
#include "calibrationwizard.h"
#include "commandtable.h"
#include "commdialogue.h"
#include "communication.h"
#include "constants.h"
#include "helpfiles.h"
#include "helptab.h"
#include "instancenumber.h"
#include "loggingcommandstack.h"
#include "panelsession.h"
#include "programoptions.h"
#include "protocolpanel.h"
#include "pumpsearch.h"
#include "readings.h"
#include "refreshtimer.h"
#include "runview.h"
#include "styles.h"
#include "valuelimits.h"
#include "windowcaptioneventfilter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHelpEngine>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>

#include <functional>

namespace Table = BusinessLogic::CommandTable;

const QString mainForm::InvalidValueText = QStringLiteral("INVALID VALUE");

// A control that launches a command of the table when the user works it.
struct mainForm::Launcher
{
    BusinessLogic::CommandSpezifier spezifier;
    std::function<void(mainForm*)> connectControl;
};

namespace {

constexpr int ShowDelayMs = 1000;
constexpr int CalibrationSteps = 400; // 80.0 % to 120.0 % in tenths
constexpr int ContrastMaximum = 100;

void fillNumbers(QComboBox* combo, int count)
{
    for (int i = 0; i < count; ++i)
        combo->addItem(QString::number(i));
}

// What the user does with each kind of control to launch its command.
struct UserSignal
{
    static auto of(QPushButton*) { return &QPushButton::clicked; }
    static auto of(MouseEventLineEdit*) { return &MouseEventLineEdit::editCommitted; }
    // The combos launch on the user's choice only, not when the display sets them.
    static auto of(QComboBox*) { return &QComboBox::activated; }
    static auto of(QCheckBox*) { return &QCheckBox::stateChanged; }
    static auto of(QLineEdit*) { return &QLineEdit::returnPressed; }
};

} // namespace

mainForm::mainForm(GUI::PanelSession& session, QApplication* application,
                   const ProgramOptions& options)
    : QDialog(nullptr),
      panelSession(&session),
      commandStack(&session.stack()),
      commands(&session.table()),
      displayTimer(this),
      application(application),
      refresher(&session.refresher()),
      communication(&session.link()),
      search(&session.search()),
      reopener(&session.reopener())
{
    setAttribute(Qt::WA_NativeWindow);
    helpCollectionPath = HelpFiles::collectionPath();
    ui.setupUi(this);
    helpFile.setFile(helpCollectionPath);
    setupRunButtons();
    QTimer::singleShot(ShowDelayMs, this, &mainForm::showMainWindow);
    setupSettings();
    setupDisplay();
    application->setStyleSheet(QStringLiteral("* { color: black }"));
    setFocus(Qt::OtherFocusReason);
    setupPortList(options.portPaths);
    setupChoiceLists();
    setupFactoryTab(options.factoryMode);
    selectStoredAddress();
    setupButtons();
    connectRefreshCycle();
    readIdentityAfterCheck();
    connectMessagesPanel();
    setupPumpSearch();
    setupModeMenu();
    setupTimeFields();
    setupAdvancedToggle();
    updateAttachAll();
    ui.frameEditVolume->setFocus(Qt::OtherFocusReason);
    setupFieldLimits();
    setupHelp();
    run = new RunPanel(ui, commandStack, communication, instanceNumber, this);
    session.setRunRecorder(&run->recorder());
    protocols = new ProtocolPanel(ui, session, run->recorder(), this);
    buildBrokerLine();
    setupPumps();
    repaint();
    toggleAdvancedScreen();
}

mainForm::~mainForm()
{
    // "offline" goes to the broker while the window still stands.
    bridge.reset();
    // The widgets outlive this body: a field losing the focus while they are torn down would
    // otherwise report its edit to a window whose items are already gone.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    displayTimer.stop();
    // Nothing more goes to the pump for a window that is gone: the session (and its line)
    // outlives it for a moment.
    updateDetachAll();
    search->cancel();
    commandStack->clear();
    delete settings;
}

void mainForm::setupRunButtons()
{
    ui.stackedButtonStartPause->setCurrentWidget(ui.pageStart);
    for (QWidget* page : {ui.pageStart, ui.pagePause}) {
        if (page->layout())
            page->layout()->setContentsMargins(0, 0, 0, 0);
    }
    for (QWidget* widget : {static_cast<QWidget*>(ui.stackedButtonStartPause), ui.pagePause,
                            ui.pageStart}) {
        if (widget->layout())
            widget->layout()->invalidate();
    }
    ui.stackedButtonStartPause->adjustSize();
}

void mainForm::setupSettings()
{
    instanceNumber = ::instanceNumber();
    application->setOrganizationName(Constants::OrganisationName);
    application->setOrganizationDomain(Constants::OrganisationDomain);
    application->setApplicationName(Constants::ApplicationName);
    settings = new QSettings();
    stored.load(*settings, instanceNumber);
    // Shown in the broker's settings; the bridge starts once the program says so.
    brokerSettings.load(*settings, instanceNumber);
}

void mainForm::setupDisplay()
{
    // A long reason wraps inside the window rather than widening it for good; room for two lines
    // is kept from the start, so that the window keeps its size and layout when it does.
    QLabel* state = ui.labelConnectionState;
    state->setWordWrap(true);
    state->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    state->setFixedHeight(2 * state->fontMetrics().lineSpacing());
    state->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    display = std::make_unique<DisplayUpdate>(
        DisplayUpdate::Parts{this, &ui, &items, &choices, commandStack, communication, &stored,
                             panelSession, [this] { return shownPumpName(); },
                             [this] { probeConnection(); }, [this] { queueProbe(); }});
}

// The list reports every choice twice: as a system port and as a device path. Only the path
// opens the line, so that a change opens the port once; ports the system does not list
// (pseudo-terminals, by-id links) have nothing but their path.
void mainForm::setupPortList(const QStringList& extraPorts)
{
    CommDialogue* portList = ui.listWidgetComPorts;
    connect(ui.buttonUpdatePorts, &QPushButton::clicked, portList, &CommDialogue::updatePorts);
    connect(portList, &CommDialogue::comPortPathChange, communication,
            &Communication::setCommPortPath);
    connect(portList, &CommDialogue::comPortChange, this, &mainForm::setComPort);
    connect(portList, &CommDialogue::comPortPathChange, this, &mainForm::setComPortPath);
    watchLine(portList, reopener);
    for (const QString& path : extraPorts)
        portList->addExtraPort(path);
    // A network port is not found by any search of the system: the stored one is listed again.
    if (Transport::isNetworkName(storedPortName()))
        portList->addExtraPort(storedPortName());
    portList->selectPort(extraPorts.isEmpty() ? storedPortName() : extraPorts.first());
}

void mainForm::setupChoiceLists()
{
    for (int i = 0; i <= CalibrationSteps; ++i) {
        const double percent = (800 + i) / 10.0;
        ui.comboCalPercent->addItem(QStringLiteral("%1 %").arg(percent, 0, 'f', 1));
    }
    fillNumbers(ui.comboContrast, ContrastMaximum + 1);
    fillNumbers(ui.comboCommAddress, Engine::SearchedAddresses);
    fillNumbers(ui.comboPumpAddress, Engine::SearchedAddresses);
}

void mainForm::setupFactoryTab(bool factoryMode)
{
    ui.TabsExtendedSettings->removeTab(ui.TabsExtendedSettings->indexOf(ui.TabFactory));
    if (factoryMode)
        ui.TabsExtendedSettings->addTab(ui.TabFactory, QStringLiteral("Factory"));
    ui.TabsExtendedSettings->setCurrentWidget(ui.TabAdvanced);
}

void mainForm::selectStoredAddress()
{
    ui.comboCommAddress->addItem(QString::number(GUI::PanelSettings::HighestAddress));
    ui.comboCommAddress->setCurrentIndex(stored.address);
}

void mainForm::setupButtons()
{
    ui.checkboProtAnswer->setChecked(true);
    applyButtonStyles(ui);
    // Return confirms what was typed in a field; it must never press a button of the panel
    // (the dialog would press the last focused one: Start, or the mode menu).
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    BusinessLogic::registerMetaTypes();
}

void mainForm::connectRefreshCycle()
{
    connect(&displayTimer, &QTimer::timeout, this, &mainForm::triggerUpdateValues);
    connect(ui.checkboNoDataUpdate, &QCheckBox::stateChanged, refresher,
            [refresher = refresher](int state) {
                refresher->noCyclicDataUpdate(state != Qt::Unchecked);
            });
    connect(ui.checkboNoCyclicDataDisplay, &QCheckBox::stateChanged, refresher,
            [refresher = refresher](int state) {
                refresher->displayProtocolAnswer(state != Qt::Unchecked);
            });
    // Commands still waiting when the line is found gone would run on a closed line and be lost
    // unseen: they are dropped at once, as the lost connection's clear would a second later.
    connect(communication, &Communication::lineLost, this,
            [commandStack = commandStack, refresher = refresher] {
                commandStack->clear();
                refresher->clearPending();
            });
    connect(ui.buttonStressTest, &QPushButton::clicked, this,
            &mainForm::launchCmdToggleStressTest);
    connect(ui.checkboNoDataUpdate, &QCheckBox::stateChanged, this, &mainForm::setDataUpdate);
}

// The pump's identity is known as soon as the connection check finds the pump,
// not with the slow rotation seconds later. A line that is lost may come back to another pump.
void mainForm::readIdentityAfterCheck()
{
    connect(commandStack, &BusinessLogic::CommandStack::sendAnswer, this,
            [this](const Answer& answer) {
                if (!answer.fromPump || answer.aside || search->isRunning())
                    return;
                if (answer.spezifier == Table::getModelVersion.spezifier)
                    items.modelVersion.setAnswer(answer);
                if (answer.spezifier == Table::executeCommCheck.spezifier
                    && !items.modelVersion.isKnown())
                    queue(Table::getModelVersion.spezifier, 0, Origin::Polled);
            });
    connect(communication, &Communication::lineLost, this, [this] { items.modelVersion.forget(); });
}

void mainForm::connectMessagesPanel()
{
    ui.messagesGroup->attach(commandStack, ui.textEditTxData, ui.textEditRxData,
                             ui.buttonClearAll);
}

void mainForm::setupPumpSearch()
{
    // The same search for whoever starts it, the button or a script: the window shows it.
    connect(search, &GUI::PumpSearch::started, this, &mainForm::showSearchStarted);
    connect(search, &GUI::PumpSearch::found, this, &mainForm::showFoundPump);
    connect(search, &GUI::PumpSearch::notFound, this, &mainForm::showNoPump);
    connect(search, &GUI::PumpSearch::interrupted, this, [this] {
        ui.labelLocatedAddressIndicator->setText(
            communication->isOpen() ? QStringLiteral("search interrupted")
                                    : QStringLiteral("search interrupted: line lost"));
        endSearch();
    });
    connect(ui.buttonSearchPump, &QPushButton::clicked, this, &mainForm::launchCmdSearchPump);
    connect(ui.buttonCalibrate, &QPushButton::clicked, this, &mainForm::openCalibrationWizard);
}

// Beside the window, so that the window keeps showing what the pump does meanwhile.
void mainForm::openCalibrationWizard()
{
    auto* wizard = new CalibrationWizard(*panelSession, this);
    wizard->setAttribute(Qt::WA_DeleteOnClose);
    wizard->setWindowFlag(Qt::Window);
    connect(wizard, &CalibrationWizard::helpPageWanted, this,
            [this](const QString& page) { showHelpPage(HelpFiles::pageUrl(page)); });
    connect(wizard, &CalibrationWizard::stopWanted, this, &mainForm::launchCmdStop);
    wizard->show();
}

// The button does not own its menu; the window does, so it goes with the window.
void mainForm::setupModeMenu()
{
    connect(ui.buttonMode, &QPushButton::released, this, &mainForm::modeReleased);
    auto* modeMenu = new QMenu(this);
    actionFlowRate = modeMenu->addAction(QStringLiteral("ml/min"));
    actionVolume = modeMenu->addAction(QStringLiteral("ml"));
    modeMenu->setStyleSheet(Styles::styleMenu);
    ui.buttonMode->setMenu(modeMenu);
    connect(modeMenu, &QMenu::triggered, this, &mainForm::modeSelect);
    connect(modeMenu, &QMenu::aboutToHide, this, &mainForm::modeReleased);
}

void mainForm::setupTimeFields()
{
    for (MouseEventLineEdit* field :
         {ui.lineEditTimeHour, ui.lineEditTimeMin, ui.lineEditTimeSec}) {
        connect(field, &MouseEventLineEdit::wheelStepped, this, &mainForm::changeTime);
        connect(field, &MouseEventLineEdit::editCommitted, this,
                &mainForm::launchCmdSetDispenseTime);
    }
}

void mainForm::setupAdvancedToggle()
{
    iconCollapse.addFile(QStringLiteral(":/Images/Images/arrow-37-64.png"));
    iconExpand.addFile(QStringLiteral(":/Images/Images/arrow-102-64.png"));
    connect(ui.buttonAdvanced, &QPushButton::clicked, this, &mainForm::toggleAdvancedScreen);
}

void mainForm::setupFieldLimits()
{
    const Engine::Limits target = Engine::limitsOf(Engine::Quantity::DispenseVolume);
    ui.lineEditVolume->minimum = target.minimum;
    ui.lineEditVolume->maximum = target.maximum;
    for (MouseEventLineEdit* field : {ui.lineEditTimeHour, ui.lineEditTimeMin, ui.lineEditTimeSec})
        field->minimum = -1;
    ui.lineEditTimeHour->maximum = ValueLimits::MaxHours;
    ui.lineEditTimeMin->maximum = 60;
    ui.lineEditTimeSec->maximum = 60;
    ui.lineEditCycles->minimum = 0;
    ui.lineEditCycles->maximum = Engine::InfiniteCycles;
}

void mainForm::setupHelp()
{
    const HelpTab help = HelpTab::build(ui.tabHelp, helpFile.absoluteFilePath(), this);
    helpEngine = help.helpEngine;
    helpContentWidget = help.helpContentWidget;
    helpBrowser = help.helpBrowser;
}

void mainForm::attachCommand(BusinessLogic::Command* command)
{
    const BusinessLogic::CommandSpezifier spezifier = command->getCommandSpezifier();
    // at() rather than [] : a number beyond the table must not write past it.
    commands->at(static_cast<std::size_t>(spezifier)) = command;
    for (const Launcher& entry : launchers()) {
        if (entry.spezifier == spezifier)
            entry.connectControl(this);
    }
}

template <typename Control, typename Slot>
mainForm::Launcher mainForm::launcher(BusinessLogic::CommandSpezifier spezifier, Control* control,
                                      Slot slot)
{
    return {spezifier, [control, slot](mainForm* window) {
                connect(control, UserSignal::of(control), window, slot);
            }};
}

std::vector<mainForm::Launcher> mainForm::launchers()
{
    return {
        launcher(Table::start.spezifier, ui.buttonStart, &mainForm::launchCmdStart),
        launcher(Table::stop.spezifier, ui.buttonStop, &mainForm::launchCmdStop),
        launcher(Table::prime.spezifier, ui.buttonPrime, &mainForm::launchCmdPrime),
        launcher(Table::pause.spezifier, ui.buttonPause, &mainForm::launchCmdPause),
        launcher(Table::setVolume.spezifier, ui.lineEditVolume, &mainForm::launchCmdSetVolume),
        launcher(Table::setDispenseVolumeBreakTime.spezifier, ui.lineEditBreakTimeSec,
                 &mainForm::launchCmdSetDispenseBreakTime),
        launcher(Table::setDispenseVolumeBreakTime.spezifier, ui.lineEditBreakTimeMin,
                 &mainForm::launchCmdSetDispenseBreakTime),
        launcher(Table::setDispenseVolumeNumber.spezifier, ui.lineEditCycles,
                 &mainForm::launchCmdSetDispenseNumber),
        launcher(Table::setAnalogInput.spezifier, ui.comboAnalIn, &mainForm::launchCmdSetAnalogIn),
        launcher(Table::setDigitalIn1.spezifier, ui.comboDigIn1, &mainForm::launchCmdSetDigitalIn1),
        launcher(Table::setDigitalIn2.spezifier, ui.comboDigIn2, &mainForm::launchCmdSetDigitalIn2),
        launcher(Table::setDigitalOut.spezifier, ui.comboDigOut, &mainForm::launchCmdSetDigitalOut),
        launcher(Table::setLanguage.spezifier, ui.comboLanguage, &mainForm::launchCmdSetLanguage),
        launcher(Table::setCustCalVol.spezifier, ui.lineEditCalVolume,
                 &mainForm::launchCmdSetCustomCalibrationVolume),
        launcher(Table::setCustCalPercent.spezifier, ui.comboCalPercent,
                 &mainForm::launchCmdSetCustomCalibrationPercentage),
        launcher(Table::setAutostart.spezifier, ui.checkboAutostart,
                 &mainForm::launchCmdSetAutostart),
        launcher(Table::setPumpProfileCharacteristic.spezifier, ui.comboTypeFluid,
                 &mainForm::launchCmdSetPumpProfileCharacteristics),
        launcher(Table::setDisplayContrast.spezifier, ui.comboContrast,
                 &mainForm::launchCmdSetDisplayContrast),
        launcher(Table::executeCommCheck.spezifier, ui.buttonTestComm,
                 &mainForm::launchCmdExecuteCommCheck),
        launcher(Table::setProtocolAnswer.spezifier, ui.checkboProtAnswer,
                 &mainForm::launchCmdSetProtocolAnswer),
        launcher(Table::setPumpAddress.spezifier, ui.comboPumpAddress,
                 &mainForm::launchCmdSetPumpAddress),
        launcher(Table::setCommAddress.spezifier, ui.comboCommAddress,
                 &mainForm::launchCmdSetCommAddress),
        launcher(Table::setInvalidLrc.spezifier, ui.checkboIncorrectLRC,
                 &mainForm::launchCmdSetInvalidLRC),
        launcher(Table::setUnusedLrc.spezifier, ui.checkboUnusedLRC,
                 &mainForm::launchCmdSetUnusedLRC),
        launcher(Table::setDiscreteCommand.spezifier, ui.lineEditDiscreteCommand,
                 &mainForm::setDiscreteCommand),
        launcher(Table::setFactoryDefaults.spezifier, ui.buttonDefaults,
                 &mainForm::launchCmdSetFactoryDefaults),
        launcher(Table::setFactoryMode.spezifier, ui.checkboFactoryMode,
                 &mainForm::launchCmdSetFactoryMode),
        launcher(Table::setFactoryMeasuredCalVolume.spezifier, ui.lineEditFactoryCalVolume,
                 &mainForm::launchCmdSetFactoryMeasuredCalVolume),
        launcher(Table::setMaintenancePos.spezifier, ui.buttonMaintenancePos,
                 &mainForm::launchCmdSetMaintenancePos),
        launcher(Table::setPumpModel.spezifier, ui.comboPumpModel,
                 &mainForm::launchCmdSetPumpModel),
        launcher(Table::setFactoryPumpStrokeVolume.spezifier, ui.lineEditFactoryPumpStrokeVolume,
                 &mainForm::launchCmdSetFactoryMeasuredPumpStrokeVolume),
    };
}

void mainForm::startCommunication()
{
    commandStack->clear();
    launchCmdSetCommAddress(ui.comboCommAddress->currentIndex());
    probeConnection();
}

int mainForm::chosenAddress() const
{
    return ui.comboCommAddress->currentIndex();
}

// The button that opens the broker's settings, and the bridge's state beside it.
void mainForm::buildBrokerLine()
{
    const QString& page = BrokerDialog::HelpPage;
    brokerButton = helpedButton(ui.TabCommunication, QStringLiteral("buttonBroker"),
                                QStringLiteral("MQTT broker…"), BrokerDialog::Description, page);
    brokerState = new QLabel(QStringLiteral("MQTT broker: off"), ui.TabCommunication);
    brokerState->setObjectName(QStringLiteral("labelBrokerState"));
    brokerState->setWordWrap(true);
    brokerState->setAccessibleName(QStringLiteral("Broker bridge"));
    brokerState->setAccessibleDescription(BrokerDialog::Description);
    brokerState->setProperty(HelpFiles::pageProperty, page);
    auto* line = new QHBoxLayout;
    line->addWidget(brokerButton);
    line->addWidget(brokerState, 1);
    ui.layoutTabCommunication->addLayout(line);
    connect(brokerButton, &QPushButton::clicked, this, &mainForm::editBroker);
}

void mainForm::startBridge(const Control::BridgeSettings& settings)
{
    bridge.reset();
    brokerSettings = settings;
    if (settings.broker.isEmpty())
        return showBrokerState(QStringLiteral("off"));
    bridge = std::make_unique<Control::MqttBridge>(*panelSession, settings);
    connect(bridge.get(), &Control::MqttBridge::stateChanged, this, &mainForm::showBrokerState);
    connect(bridge.get(), &Control::MqttBridge::commandNoted, this, &mainForm::showRemoteVerdict);
    QString error;
    if (!bridge->start(chosenAddress(), &error)) {
        bridge.reset();
        showBrokerState(error);
    }
}

// What the user sets is stored for this copy and takes effect at once.
void mainForm::editBroker()
{
    auto* dialog = new BrokerDialog(brokerSettings, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const Control::BridgeSettings edited = dialog->settings();
        edited.save(*settings, instanceNumber);
        startBridge(edited);
    });
    dialog->open();
}

void mainForm::showBrokerState(const QString& text)
{
    brokerState->setText(QStringLiteral("MQTT broker: ") + text);
}

void mainForm::showRemoteVerdict(const QString& text)
{
    ui.labelUserAction->setText(text);
    // The frames that follow in the panes are marked by where they came from.
    ui.messagesGroup->noteLineEvent(text, Qt::darkMagenta);
}

QString mainForm::storedPortName() const
{
    return stored.port;
}

QString mainForm::settingsPrefix() const
{
    return GUI::PanelSettings::group(instanceNumber);
}

void mainForm::saveSettings()
{
    stored.save(*settings, instanceNumber);
}

void mainForm::restartDisplayTimer()
{
    if (ui.checkboNoDataUpdate->checkState() != Qt::Unchecked)
        displayTimer.stop();
    else
        displayTimer.start(display->isConnectionLost() ? Constants::SilentDisplayIntervalMs
                                                    : Constants::DisplayIntervalMs);
}

QByteArray mainForm::helpFileData(const QUrl& url)
{
    return helpEngine ? helpEngine->fileData(url) : QByteArray();
}

void mainForm::showHelpPage(const QUrl& url)
{
    HelpTab{helpEngine, helpContentWidget, helpBrowser}.showPage(url);
}

void mainForm::activateHelp()
{
    if (!advancedShown)
        toggleAdvancedScreen();
    ui.TabsExtendedSettings->setCurrentWidget(ui.tabHelp);
    showHelpPage(HelpFiles::startPage());
}

bool mainForm::openTab(const QString& title)
{
    QTabWidget* tabs = ui.TabsExtendedSettings;
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i).compare(title, Qt::CaseInsensitive) != 0)
            continue;
        if (tabs->widget(i) == ui.tabHelp) {
            activateHelp();
            return true;
        }
        if (!advancedShown)
            toggleAdvancedScreen();
        tabs->setCurrentIndex(i);
        return true;
    }
    return false;
}

void mainForm::showMainWindow()
{
    if (!closeAgreed)
        show();
}

void mainForm::toggleAdvancedScreen()
{
    savedNoDataUpdate = ui.checkboNoDataUpdate->checkState() != Qt::Unchecked;
    ui.checkboNoDataUpdate->setChecked(false);

    QWidget* previousTab = ui.TabsExtendedSettings->currentWidget();
    setSizeIncrement(0, 1);
    if (advancedShown) {
        ui.TabsExtendedSettings->hide();
        adjustSize();
        centreWindow();
        ui.buttonAdvanced->setIcon(iconCollapse);
    } else {
        ui.TabsExtendedSettings->show();
        ui.TabsExtendedSettings->setCurrentWidget(ui.TabStatus);
        adjustSize();
        centreWindow();
        ui.TabsExtendedSettings->setCurrentWidget(previousTab);
        ui.buttonAdvanced->setIcon(iconExpand);
    }

    advancedShown = !advancedShown;
    ui.checkboNoDataUpdate->setChecked(savedNoDataUpdate);
    repaint();
}

void mainForm::centreWindow()
{
    QWidget* active = QApplication::activeWindow();
    QScreen* screen = active ? active->screen() : QGuiApplication::primaryScreen();
    WindowCaptionEventFilter::centreOnScreen(this, screen);
}

void mainForm::setComPort(const QSerialPortInfo& info)
{
    stored.port = info.portName();
    saveSettings();
}

void mainForm::setComPortPath(const QString& path)
{
    // Opening a device turns the "incorrect LRC" option off; the box must say so.
    {
        const QSignalBlocker blocker(ui.checkboIncorrectLRC);
        ui.checkboIncorrectLRC->setChecked(false);
    }
    // A device known only by its path is listed by that path, so that is the name to store; it
    // follows comPortChange, which stored an empty name for it.
    chosenLine = path;
    if (fleet)
        fleet->setLine(path);
    if (ui.listWidgetComPorts->extraPorts().contains(path)) {
        stored.port = path;
        saveSettings();
    }
}

void mainForm::triggerUpdateValues()
{
    display->tick();
    // The run record hears when the pump went silent.
    run->displayTick(display->isConnectionLost());
    protocols->displayTick();
}

void mainForm::feedAnswer(const Answer& answer)
{
    for (const auto& [item, list] : items.pollingPlan()) {
        if (item->getCommandSpezifier() == answer.spezifier) {
            item->setAnswer(answer);
            return;
        }
    }
}

BusinessLogic::Command* mainForm::command(int spezifier) const
{
    return commands->at(static_cast<std::size_t>(spezifier));
}

void mainForm::queue(int spezifier, qint32 parameter, Origin origin)
{
    commandStack->addCommand(command(spezifier), parameter, true, origin);
}
