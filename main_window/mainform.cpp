#include "mainform.h"

#include "buttonstyles.h"
#include "commandtable.h"
#include "commdialogue.h"
#include "communication.h"
#include "constants.h"
#include "helpfiles.h"
#include "helptab.h"
#include "instancenumber.h"
#include "loggingcommandstack.h"
#include "refreshtimer.h"
#include "valuelimits.h"
#include "runview.h"
#include "styles.h"
#include "windowcaptioneventfilter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHelpEngine>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QTextDocument>

namespace Table = BusinessLogic::CommandTable;

const QString mainForm::InvalidValueText = QStringLiteral("INVALID VALUE");

namespace {

constexpr int TxRxLineLimit = 500;
constexpr int ShowDelayMs = 1000;
constexpr int CalibrationSteps = 400; // 80.0 % to 120.0 % in tenths
constexpr int ContrastMaximum = 100;
constexpr int SearchedAddresses = 99;  // the pump search covers 0 to 98
constexpr int HighestAddress = 99;

void fillNumbers(QComboBox* combo, int count)
{
    for (int i = 0; i < count; ++i)
        combo->addItem(QString::number(i));
}

} // namespace

mainForm::mainForm(BusinessLogic::LoggingCommandStack* commandStack,
                   std::vector<BusinessLogic::Command*>* commands, QApplication* application,
                   GUI::RefreshTimer* refresher, Communication* communication,
                   const QStringList& extraPorts)
    : QDialog(nullptr),
      commandStack(commandStack),
      commands(commands),
      displayTimer(this),
      application(application),
      refresher(refresher),
      communication(communication)
{
    setAttribute(Qt::WA_NativeWindow);

    helpCollectionPath = HelpFiles::collectionPath();
    ui.setupUi(this);
    helpFile.setFile(helpCollectionPath);

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

    QTimer::singleShot(ShowDelayMs, this, &mainForm::showMainWindow);

    instanceNumber = ::instanceNumber();
    application->setOrganizationName(Constants::OrganisationName);
    application->setOrganizationDomain(Constants::OrganisationDomain);
    application->setApplicationName(Constants::ApplicationName);
    settings = new QSettings();
    instanceKey = Constants::InstanceKeyPrefix + QString::number(instanceNumber);
    display = std::make_unique<DisplayUpdate>(DisplayUpdate::Parts{
        this, &ui, &items, &choices, commandStack, communication, commands, settings,
        instanceKey + u'/' + Constants::PortSettingsKey, [this] { probeConnection(); }});

    application->setStyleSheet(QStringLiteral("* { color: black }"));
    setFocus(Qt::OtherFocusReason);

    // The list reports every choice twice: as a system port and as a device path. Only the path
    // opens the line, so that a change opens the port once; ports the system does not list
    // (pseudo-terminals, by-id links) have nothing but their path.
    CommDialogue* portList = ui.listWidgetComPorts;
    connect(ui.buttonUpdatePorts, &QPushButton::clicked, portList, &CommDialogue::updatePorts);
    connect(portList, &CommDialogue::comPortPathChange, communication,
            &Communication::setCommPortPath);
    connect(portList, &CommDialogue::comPortChange, this, &mainForm::setComPort);
    connect(portList, &CommDialogue::comPortPathChange, this, &mainForm::setComPortPath);
    watchLine(portList);
    for (const QString& path : extraPorts)
        portList->addExtraPort(path);
    // A network port is not found by any search of the system: the stored one is listed again.
    if (Transport::isNetworkName(storedPortName()))
        portList->addExtraPort(storedPortName());
    portList->selectPort(extraPorts.isEmpty() ? storedPortName() : extraPorts.first());

    for (int i = 0; i <= CalibrationSteps; ++i) {
        const double percent = (800 + i) / 10.0;
        ui.comboCalPercent->addItem(QStringLiteral("%1 %").arg(percent, 0, 'f', 1));
    }
    fillNumbers(ui.comboContrast, ContrastMaximum + 1);
    fillNumbers(ui.comboCommAddress, SearchedAddresses);
    fillNumbers(ui.comboPumpAddress, SearchedAddresses);

    ui.TabsExtendedSettings->removeTab(ui.TabsExtendedSettings->indexOf(ui.TabFactory));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && arguments.at(1) == Constants::FactoryModeArgument)
        ui.TabsExtendedSettings->addTab(ui.TabFactory, QStringLiteral("Factory"));
    ui.TabsExtendedSettings->setCurrentWidget(ui.TabAdvanced);

    ui.comboCommAddress->addItem(QString::number(HighestAddress));
    bool storedIsNumber = false;
    int address = settings->value(instanceKey + u'/' + Constants::AddressSettingsKey, 0)
                      .toInt(&storedIsNumber);
    // A damaged or foreign value must not select an address the frames cannot carry.
    if (!storedIsNumber || address < 0 || address > HighestAddress)
        address = 0;
    ui.comboCommAddress->setCurrentIndex(address);

    ui.checkboProtAnswer->setChecked(true);
    applyButtonStyles(ui);
    // Return confirms what was typed in a field; it must never press a button of the panel
    // (the dialog would press the last focused one: Start, or the mode menu).
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    BusinessLogic::registerMetaTypes();

    connect(&displayTimer, &QTimer::timeout, this, &mainForm::triggerUpdateValues);
    connect(ui.checkboNoDataUpdate, &QCheckBox::stateChanged, refresher,
            [refresher](int state) { refresher->noCyclicDataUpdate(state != Qt::Unchecked); });
    connect(ui.checkboNoCyclicDataDisplay, &QCheckBox::stateChanged, refresher,
            [refresher](int state) { refresher->displayProtocolAnswer(state != Qt::Unchecked); });
    connect(commandStack, &BusinessLogic::CommandStack::sendLastCommandInvalidPositions, this,
            &mainForm::formatRawDataTxPos);
    connect(commandStack, &BusinessLogic::CommandStack::sendLastCommandInvalidReasons, this,
            &mainForm::formatRawDataTxReasons);
    connect(commandStack, &BusinessLogic::CommandStack::sendLastAnswerInvalidPositions, this,
            &mainForm::formatRawDataRxPos);
    connect(commandStack, &BusinessLogic::CommandStack::sendLastAnswerInvalidReasons, this,
            &mainForm::formatRawDataRxReasons);
    // Commands still waiting when the line is found gone would run on a closed line and be lost
    // unseen: they are dropped at once, as the lost connection's clear would a second later.
    connect(communication, &Communication::lineLost, this, [commandStack, refresher] {
        commandStack->clear();
        refresher->clearPending();
    });
    connect(ui.buttonStressTest, &QPushButton::clicked, this,
            &mainForm::launchCmdToggleStressTest);
    connect(ui.checkboNoDataUpdate, &QCheckBox::stateChanged, this, &mainForm::setDataUpdate);
    connect(commandStack, &BusinessLogic::CommandStack::sendLastCommand, this,
            &mainForm::displayRawDataTx);
    connect(commandStack, &BusinessLogic::CommandStack::sendLastAnswer, this,
            &mainForm::displayRawDataRx);
    connect(ui.buttonMode, &QPushButton::released, this, &mainForm::modeReleased);
    connect(ui.buttonClearAll, &QPushButton::clicked, ui.textEditRxData, &QTextEdit::clear);
    connect(ui.buttonClearAll, &QPushButton::clicked, ui.textEditTxData, &QTextEdit::clear);
    connect(ui.buttonSearchPump, &QPushButton::clicked, this, &mainForm::launchCmdSearchPump);

    ui.textEditTxData->document()->setMaximumBlockCount(TxRxLineLimit);
    ui.textEditRxData->document()->setMaximumBlockCount(TxRxLineLimit);

    // The button does not own its menu; the window does, so it goes with the window.
    auto* modeMenu = new QMenu(this);
    actionFlowRate = modeMenu->addAction(QStringLiteral("ml/min"));
    actionVolume = modeMenu->addAction(QStringLiteral("ml"));
    modeMenu->setStyleSheet(Styles::styleMenu);
    ui.buttonMode->setMenu(modeMenu);
    connect(modeMenu, &QMenu::triggered, this, &mainForm::modeSelect);
    connect(modeMenu, &QMenu::aboutToHide, this, &mainForm::modeReleased);
    for (MouseEventLineEdit* field : {ui.lineEditTimeHour, ui.lineEditTimeMin, ui.lineEditTimeSec}) {
        connect(field, &QLineEdit::textChanged, this, &mainForm::changeTime);
        connect(field, &MouseEventLineEdit::editCommitted, this,
                &mainForm::launchCmdSetDispenseTime);
    }

    iconCollapse.addFile(QStringLiteral(":/Images/Images/arrow-37-64.png"));
    iconExpand.addFile(QStringLiteral(":/Images/Images/arrow-102-64.png"));
    connect(ui.buttonAdvanced, &QPushButton::clicked, this, &mainForm::toggleAdvancedScreen);

    updateAttachAll();
    ui.frameEditVolume->setFocus(Qt::OtherFocusReason);

    ui.lineEditVolume->minimum = ValueLimits::VolumeLarge.minimum;
    ui.lineEditVolume->maximum = ValueLimits::VolumeLarge.maximum;
    for (MouseEventLineEdit* field : {ui.lineEditTimeHour, ui.lineEditTimeMin, ui.lineEditTimeSec})
        field->minimum = -1;
    ui.lineEditTimeHour->maximum = ValueLimits::MaxHours;
    ui.lineEditTimeMin->maximum = 60;
    ui.lineEditTimeSec->maximum = 60;
    ui.lineEditCycles->minimum = 0;
    ui.lineEditCycles->maximum = ValueLimits::MaxCycles;

    const HelpTab help = HelpTab::build(ui.tabHelp, helpFile.absoluteFilePath(), this);
    helpEngine = help.helpEngine;
    helpContentWidget = help.helpContentWidget;
    helpBrowser = help.helpBrowser;
    run = new RunPanel(ui, commandStack, communication, instanceNumber, this);

    repaint();
    toggleAdvancedScreen();
}

mainForm::~mainForm()
{
    // The widgets outlive this body: a field losing the focus while they are torn down would
    // otherwise report its edit to a window whose items are already gone.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    displayTimer.stop();
    delete settings;
}

void mainForm::attachCommand(BusinessLogic::Command* command)
{
    const BusinessLogic::CommandSpezifier spezifier = command->getCommandSpezifier();
    // at() rather than [] : a number beyond the table must not write past it.
    commands->at(static_cast<std::size_t>(spezifier)) = command;

    auto onClick = [this](QPushButton* button, void (mainForm::*slot)()) {
        connect(button, &QPushButton::clicked, this, slot);
    };
    auto onEdited = [this](MouseEventLineEdit* field, void (mainForm::*slot)()) {
        connect(field, &MouseEventLineEdit::editCommitted, this, slot);
    };
    auto onChoice = [this](QComboBox* combo, void (mainForm::*slot)(int)) {
        connect(combo, &QComboBox::activated, this, slot);
    };
    auto onCheck = [this](QCheckBox* box, void (mainForm::*slot)(int)) {
        connect(box, &QCheckBox::stateChanged, this, slot);
    };

    switch (spezifier) {
    case Table::start.spezifier: onClick(ui.buttonStart, &mainForm::launchCmdStart); break;
    case Table::stop.spezifier: onClick(ui.buttonStop, &mainForm::launchCmdStop); break;
    case Table::prime.spezifier: onClick(ui.buttonPrime, &mainForm::launchCmdPrime); break;
    case Table::pause.spezifier: onClick(ui.buttonPause, &mainForm::launchCmdPause); break;
    case Table::setVolume.spezifier:
        onEdited(ui.lineEditVolume, &mainForm::launchCmdSetVolume);
        break;
    case Table::setDispenseVolumeBreakTime.spezifier:
        onEdited(ui.lineEditBreakTimeSec, &mainForm::launchCmdSetDispenseBreakTime);
        onEdited(ui.lineEditBreakTimeMin, &mainForm::launchCmdSetDispenseBreakTime);
        break;
    case Table::setDispenseVolumeNumber.spezifier:
        onEdited(ui.lineEditCycles, &mainForm::launchCmdSetDispenseNumber);
        break;
    case Table::setAnalogInput.spezifier:
        onChoice(ui.comboAnalIn, &mainForm::launchCmdSetAnalogIn);
        break;
    case Table::setDigitalIn1.spezifier:
        onChoice(ui.comboDigIn1, &mainForm::launchCmdSetDigitalIn1);
        break;
    case Table::setDigitalIn2.spezifier:
        onChoice(ui.comboDigIn2, &mainForm::launchCmdSetDigitalIn2);
        break;
    case Table::setDigitalOut.spezifier:
        onChoice(ui.comboDigOut, &mainForm::launchCmdSetDigitalOut);
        break;
    case Table::setLanguage.spezifier:
        onChoice(ui.comboLanguage, &mainForm::launchCmdSetLanguage);
        break;
    case Table::setCustCalVol.spezifier:
        onEdited(ui.lineEditCalVolume, &mainForm::launchCmdSetCustomCalibrationVolume);
        break;
    case Table::setCustCalPercent.spezifier:
        onChoice(ui.comboCalPercent, &mainForm::launchCmdSetCustomCalibrationPercentage);
        break;
    case Table::setAutostart.spezifier:
        onCheck(ui.checkboAutostart, &mainForm::launchCmdSetAutostart);
        break;
    case Table::setPumpProfileCharacteristic.spezifier:
        onChoice(ui.comboTypeFluid, &mainForm::launchCmdSetPumpProfileCharacteristics);
        break;
    case Table::setDisplayContrast.spezifier:
        onChoice(ui.comboContrast, &mainForm::launchCmdSetDisplayContrast);
        break;
    case Table::executeCommCheck.spezifier:
        onClick(ui.buttonTestComm, &mainForm::launchCmdExecuteCommCheck);
        break;
    case Table::setProtocolAnswer.spezifier:
        onCheck(ui.checkboProtAnswer, &mainForm::launchCmdSetProtocolAnswer);
        break;
    case Table::setPumpAddress.spezifier:
        onChoice(ui.comboPumpAddress, &mainForm::launchCmdSetPumpAddress);
        break;
    case Table::setCommAddress.spezifier:
        onChoice(ui.comboCommAddress, &mainForm::launchCmdSetCommAddress);
        break;
    case Table::setInvalidLrc.spezifier:
        onCheck(ui.checkboIncorrectLRC, &mainForm::launchCmdSetInvalidLRC);
        break;
    case Table::setUnusedLrc.spezifier:
        onCheck(ui.checkboUnusedLRC, &mainForm::launchCmdSetUnusedLRC);
        break;
    case Table::setDiscreteCommand.spezifier:
        connect(ui.lineEditDiscreteCommand, &QLineEdit::returnPressed, this,
                &mainForm::setDiscreteCommand);
        break;
    case Table::setFactoryDefaults.spezifier:
        onClick(ui.buttonDefaults, &mainForm::launchCmdSetFactoryDefaults);
        break;
    case Table::setFactoryMode.spezifier:
        onCheck(ui.checkboFactoryMode, &mainForm::launchCmdSetFactoryMode);
        break;
    case Table::setFactoryMeasuredCalVolume.spezifier:
        onEdited(ui.lineEditFactoryCalVolume, &mainForm::launchCmdSetFactoryMeasuredCalVolume);
        break;
    case Table::setMaintenancePos.spezifier:
        onClick(ui.buttonMaintenancePos, &mainForm::launchCmdSetMaintenancePos);
        break;
    case Table::setPumpModel.spezifier:
        onChoice(ui.comboPumpModel, &mainForm::launchCmdSetPumpModel);
        break;
    case Table::setFactoryPumpStrokeVolume.spezifier:
        onEdited(ui.lineEditFactoryPumpStrokeVolume,
                 &mainForm::launchCmdSetFactoryMeasuredPumpStrokeVolume);
        break;
    default:
        break;
    }
}

void mainForm::startCommunication()
{
    commandStack->clear();
    launchCmdSetCommAddress(ui.comboCommAddress->currentIndex());
    probeConnection();
}

QString mainForm::storedPortName() const
{
    return settings
        ->value(instanceKey + u'/' + Constants::PortSettingsKey, Constants::DefaultPortName)
        .toString();
}

void mainForm::restartDisplayTimer()
{
    if (ui.checkboNoDataUpdate->checkState() != Qt::Unchecked)
        displayTimer.stop();
    else
        displayTimer.start(display->isConnectionLost() ? 500 : 100);
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

void mainForm::showMainWindow()
{
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
    settings->setValue(instanceKey + u'/' + Constants::PortSettingsKey, info.portName());
}

void mainForm::setComPortPath(const QString& path)
{
    // Opening a device turns the "incorrect LRC" option off; the box must say so.
    {
        const QSignalBlocker blocker(ui.checkboIncorrectLRC);
        ui.checkboIncorrectLRC->setChecked(communication->invalidLrc);
    }
    // A device known only by its path is listed by that path, so that is the name to store; it
    // follows comPortChange, which stored an empty name for it.
    if (ui.listWidgetComPorts->extraPorts().contains(path))
        settings->setValue(instanceKey + u'/' + Constants::PortSettingsKey, path);
}

void mainForm::triggerUpdateValues()
{
    display->tick();
    // The run record hears when the pump went silent.
    run->displayTick(display->isConnectionLost());
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
