#include "formfixture.h"
#include "styles.h"

#include <QImageReader>
#include <QRegularExpression>
#include <QTranslator>
#include <QtTest>

// The window's form: names, types, places, texts, entries, tab order, look and sizes.
class TestMainScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void objectsHaveNameAndType_data();
    void objectsHaveNameAndType();
    void gridPlaces_data();
    void gridPlaces();
    void texts_data();
    void texts();
    void textsUseTheFormContext();
    void comboEntries_data();
    void comboEntries();
    void tabsInOrder();
    void tabOrder();
    void properties_data();
    void properties();
    void picturesLoad_data();
    void picturesLoad();
    void stylesByRole();
    void compactAndExpandedSizes();

private:
    FormFixture* shared = nullptr; // for the tests that only read the form
};

namespace {

// Status and error flags: grid layout, row, pair column, name stem, text.
struct Flag
{
    const char* grid;
    int row;
    int pair;
    const char* stem;
    const char* text;
};

const Flag flags[] = {
    {"gridLayoutStatus", 1, 0, "MotorMotion", "Motor in Motion"},
    {"gridLayoutStatus", 1, 1, "RunModeActive", "Run mode active"},
    {"gridLayoutStatus", 1, 2, "PumpFault", "Pump error"},
    {"gridLayoutStatus", 4, 0, "MotorAdjusted", "Motor adjusted"},
    {"gridLayoutStatus", 4, 1, "DispenseModeActive", "Dispense mode active"},
    {"gridLayoutStatus", 4, 2, "DisplayOn", "Display ON"},
    {"gridLayoutStatus", 5, 0, "MotorLowerDC", "Motor at dead center"},
    {"gridLayoutStatus", 5, 1, "MasterStopActive", "Master stop active"},
    {"gridLayoutStatus", 6, 0, "Input1Active", "Input 1 low/active"},
    {"gridLayoutStatus", 6, 1, "Input2Active", "Input 2 low/active"},
    {"gridLayoutFaults", 1, 0, "ErrorNone", "No error"},
    {"gridLayoutFaults", 1, 1, "Error4_20mATooLow", "Signal 4-20mA too low"},
    {"gridLayoutFaults", 3, 0, "ErrorOverpressure", "Overpressure"},
    {"gridLayoutFaults", 3, 1, "ErrorPowerSupplyFailure", "Power supply failure"},
    {"gridLayoutFaults", 4, 0, "ErrorMotorNotAdj", "Motor not adjusted"},
    {"gridLayoutFaults", 4, 1, "ErrorMaxTempExceeded", "Maximum temperature exceeded"},
    {"gridLayoutFaults", 5, 0, "ErrorNoEncoderSignal", "No encoder signal"},
};

QString iconName(const Flag& flag)
{
    return QStringLiteral("label%1Icon").arg(QLatin1String(flag.stem));
}

QString textName(const Flag& flag)
{
    return QStringLiteral("label%1Text").arg(QLatin1String(flag.stem));
}

const QStringList comboNames = {"comboTypeFluid",  "comboCalPercent", "comboCommAddress",
                                "comboContrast",   "comboDigIn1",     "comboDigIn2",
                                "comboAnalIn",     "comboDigOut",     "comboLanguage",
                                "comboPumpAddress", "comboPumpModel"};

class UpperCaseTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        return qstrcmp(context, "mainScreen") == 0 ? QString::fromUtf8(source).toUpper()
                                                   : QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

void TestMainScreen::initTestCase()
{
    prepareApplicationLook();
    shared = new FormFixture;
}

void TestMainScreen::cleanupTestCase()
{
    delete shared;
}

void TestMainScreen::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("style ?sheet"),
                                            QRegularExpression::CaseInsensitiveOption));
}

void TestMainScreen::objectsHaveNameAndType_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    const QList<QPair<const char*, QStringList>> table = {
        {"QDialog", {"mainScreen"}},
        {"QFrame",
         {"informationPanel", "frameLogo", "frame_6", "frameSettingValues", "frameTarget",
          "frameMode", "frameActual", "frameTimeActual", "frameVolumeActual",
          "frameButtonsPrimary", "frameStateFeedback", "statusPanel", "frame_5"}},
        {"FrameEventHandler",
         {"frameEditVolume", "frameEditTime", "frameCalibrationVolume", "frameBreakTime",
          "frameCycles", "frame_4", "frame_3"}},
        {"MouseEventLineEdit",
         {"lineEditVolume", "lineEditTimeHour", "lineEditTimeMin", "lineEditTimeSec",
          "lineEditCalVolume", "lineEditBreakTimeMin", "lineEditBreakTimeSec", "lineEditCycles",
          "lineEditFactoryPumpStrokeVolume", "lineEditFactoryCalVolume"}},
        {"QLineEdit", {"lineEditDiscreteCommand"}},
        {"CommDialogue", {"listWidgetComPorts"}},
        {"QTextEdit", {"textEditTxData", "textEditRxData"}},
        {"QTabWidget", {"TabsExtendedSettings"}},
        {"QStackedWidget", {"stackedButtonStartPause"}},
        {"QWidget",
         {"pageStart", "pagePause", "TabAdvanced", "TabIO", "tabCyclic", "TabStatus",
          "TabCommunication", "tabHelp", "TabFactory"}},
        {"QPushButton",
         {"buttonAdvanced", "buttonMode", "buttonStop", "buttonStart", "buttonPause",
          "buttonPrime", "buttonDefaults", "buttonMaintenancePos", "buttonUpdatePorts",
          "buttonTestComm", "buttonSearchPump", "buttonClearAll", "buttonStressTest"}},
        {"QComboBox", comboNames},
        {"QCheckBox",
         {"checkboAutostart", "checkboProtAnswer", "checkboUnusedLRC", "checkboIncorrectLRC",
          "checkboNoDataUpdate", "checkboNoCyclicDataDisplay", "checkboFactoryMode"}},
        {"QGroupBox",
         {"groupBoxTarget", "groupBoxEditVolFlow", "groupBoxDispenseTime", "groupBoxActual",
          "groupBoxTimeActual", "groupBoxVolumeActual", "groupAdvanced", "inOutGroup",
          "groupBoxPauseTime", "groupBoxCycles", "groupStatus", "groupFaults", "groupComm",
          "messagesGroup"}},
        {"QLabel",
         {"labelHW", "labelVersionHW", "labelFW", "labelVersionFW", "companyLogo",
          "labelTimeTargetUnitHours", "labelTimeTargetUnitMin", "labelTimeTargetUnitSec",
          "labelTimeActualHour", "labelTimeActualMin", "labelTimeActualSec",
          "labelTimeActualUnitHour", "labelTimeActualUnitMin", "labelTimeActualUnitSec",
          "labelVolumeActual", "labelUserAction", "labelTransmissionState",
          "labelConnectionState", "labelTypeFluid", "labelLanguage", "labelCalVolume",
          "labelUnit_ml_2", "labelCalPercent", "labelContrast", "labelDigIn1", "labelDigIn2",
          "labelAnalIn", "labelDigOut", "labelBreakTimeMin", "labelBreakTimeSec", "labelCycles",
          "labelCommuncationPort", "labelPumpAddress", "labelCommAddress", "labelLocatedAddress",
          "labelLocatedAddressIndicator", "labelDiscreteCommand", "labelTxData", "labelRxData",
          "labelFactoryPumpStrokeVolume", "labelFactoryCalVolume", "labelPumpType",
          "labelPumpModel"}},
        {"QGridLayout",
         {"gridLayout_2", "gridLayout_12", "gridLayout_16", "gridLayout_15", "gridLayout_4",
          "gridLayout_6", "gridLayout_5", "gridLayout_7", "gridLayout_8", "gridLayout_10"}},
    };
    for (const auto& [className, names] : table)
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name << QString::fromLatin1(className);
    for (const Flag& flag : flags) {
        QTest::newRow(qPrintable(iconName(flag))) << iconName(flag) << "QLabel";
        QTest::newRow(qPrintable(textName(flag))) << textName(flag) << "QLabel";
    }
}

void TestMainScreen::objectsHaveNameAndType()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    FormFixture& form = *shared;
    QList<QObject*> found = form.dialog.findChildren<QObject*>(name);
    if (form.dialog.objectName() == name)
        found.append(&form.dialog);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
}

void TestMainScreen::gridPlaces_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<int>>("place"); // row, column, row span, column span

    const QList<std::tuple<const char*, const char*, QList<int>>> places = {
        {"gridLayout_2", "informationPanel", {0, 0, 1, 1}},
        {"gridLayout_2", "TabsExtendedSettings", {0, 1, 1, 1}},
        {"gridLayout_2", "buttonAdvanced", {0, 2, 1, 1}},
        {"gridLayout_2", "frameLogo", {1, 0, 1, 3}},
        {"gridLayout_12", "frame_6", {0, 0, 1, 1}},
        {"gridLayout_12", "companyLogo", {0, 5, 1, 1}},
        {"gridLayout_16", "frameSettingValues", {0, 0, 1, 1}},
        {"gridLayout_16", "frameButtonsPrimary", {1, 0, 1, 1}},
        {"gridLayout_16", "frameStateFeedback", {2, 0, 1, 1}},
        {"gridLayout_4", "buttonStop", {0, 0, 1, 1}},
        {"gridLayout_4", "stackedButtonStartPause", {0, 1, 1, 1}},
        {"gridLayout_4", "buttonPrime", {1, 0, 1, 2}},
        {"gridLayout_6", "labelTypeFluid", {0, 0, 1, 1}},
        {"gridLayout_6", "comboTypeFluid", {0, 1, 1, 1}},
        {"gridLayout_6", "labelLanguage", {1, 0, 1, 1}},
        {"gridLayout_6", "comboLanguage", {1, 1, 1, 1}},
        {"gridLayout_6", "labelCalVolume", {3, 0, 1, 1}},
        {"gridLayout_6", "frameCalibrationVolume", {3, 1, 1, 1}},
        {"gridLayout_6", "labelCalPercent", {4, 0, 1, 1}},
        {"gridLayout_6", "comboCalPercent", {4, 1, 1, 1}},
        {"gridLayout_6", "labelContrast", {5, 0, 1, 1}},
        {"gridLayout_6", "comboContrast", {5, 1, 1, 1}},
        {"gridLayout_5", "labelDigIn1", {0, 0, 1, 1}},
        {"gridLayout_5", "comboDigIn1", {0, 1, 1, 1}},
        {"gridLayout_5", "labelDigIn2", {1, 0, 1, 1}},
        {"gridLayout_5", "comboDigIn2", {1, 1, 1, 1}},
        {"gridLayout_5", "labelAnalIn", {2, 0, 1, 1}},
        {"gridLayout_5", "comboAnalIn", {2, 1, 1, 1}},
        {"gridLayout_5", "labelDigOut", {3, 0, 1, 1}},
        {"gridLayout_5", "comboDigOut", {3, 1, 1, 1}},
        {"gridLayout_7", "labelCommuncationPort", {0, 0, 1, 1}},
        {"gridLayout_7", "listWidgetComPorts", {0, 1, 1, 2}},
        {"gridLayout_7", "buttonUpdatePorts", {0, 3, 1, 1}},
        {"gridLayout_7", "labelPumpAddress", {1, 0, 1, 1}},
        {"gridLayout_7", "comboCommAddress", {1, 1, 1, 1}},
        {"gridLayout_7", "checkboProtAnswer", {1, 3, 1, 1}},
        {"gridLayout_7", "labelCommAddress", {2, 0, 1, 1}},
        {"gridLayout_7", "comboPumpAddress", {2, 1, 1, 1}},
        {"gridLayout_7", "buttonTestComm", {2, 2, 1, 1}},
        {"gridLayout_7", "checkboUnusedLRC", {2, 3, 1, 1}},
        {"gridLayout_7", "labelLocatedAddress", {3, 0, 1, 1}},
        {"gridLayout_7", "labelLocatedAddressIndicator", {3, 1, 1, 1}},
        {"gridLayout_7", "buttonSearchPump", {3, 2, 1, 1}},
        {"gridLayout_7", "checkboIncorrectLRC", {3, 3, 1, 1}},
        {"gridLayout_7", "labelDiscreteCommand", {4, 0, 1, 1}},
        {"gridLayout_7", "lineEditDiscreteCommand", {4, 1, 1, 2}},
        {"gridLayout_7", "checkboNoDataUpdate", {4, 3, 1, 1}},
        {"gridLayout_8", "labelTxData", {0, 0, 1, 1}},
        {"gridLayout_8", "labelRxData", {0, 3, 1, 1}},
        {"gridLayout_8", "textEditTxData", {1, 0, 1, 2}},
        {"gridLayout_8", "textEditRxData", {1, 3, 1, 2}},
        {"gridLayout_8", "checkboNoCyclicDataDisplay", {7, 0, 1, 1}},
        {"gridLayout_8", "buttonClearAll", {7, 3, 1, 1}},
        {"gridLayout_10", "checkboFactoryMode", {0, 0, 1, 1}},
        {"gridLayout_10", "labelFactoryPumpStrokeVolume", {2, 0, 1, 2}},
        {"gridLayout_10", "frame_4", {2, 3, 1, 1}},
        {"gridLayout_10", "labelFactoryCalVolume", {3, 0, 1, 1}},
        {"gridLayout_10", "frame_3", {3, 3, 1, 1}},
        {"gridLayout_10", "labelPumpType", {5, 0, 1, 1}},
        {"gridLayout_10", "comboPumpModel", {5, 1, 1, 1}},
        {"gridLayout_10", "frame_5", {5, 3, 1, 1}},
        {"gridLayout_10", "buttonStressTest", {8, 2, 1, 2}},
    };
    for (const auto& [grid, name, place] : places)
        QTest::newRow(name) << QString::fromLatin1(grid) << QString::fromLatin1(name) << place;
    for (const Flag& flag : flags) {
        const QString grid = QString::fromLatin1(flag.grid);
        QTest::newRow(qPrintable(iconName(flag)))
            << grid << iconName(flag) << QList<int>{flag.row, 2 * flag.pair, 1, 1};
        QTest::newRow(qPrintable(textName(flag)))
            << grid << textName(flag) << QList<int>{flag.row, 2 * flag.pair + 1, 1, 1};
    }
}

void TestMainScreen::gridPlaces()
{
    QFETCH(QString, grid);
    QFETCH(QString, name);
    QFETCH(QList<int>, place);
    FormFixture& form = *shared;
    auto* layout = form.dialog.findChild<QGridLayout*>(grid);
    auto* widget = form.dialog.findChild<QWidget*>(name);
    QVERIFY(layout && widget);
    const int index = layout->indexOf(widget);
    QVERIFY2(index >= 0, "not in this grid");
    QList<int> actual(4);
    layout->getItemPosition(index, &actual[0], &actual[1], &actual[2], &actual[3]);
    QCOMPARE(actual, place);
}

void TestMainScreen::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QList<QPair<const char*, const char*>> table = {
        {"labelHW", "Pump type"}, {"labelVersionHW", "UNKNOWN"}, {"labelFW", "Firmware"},
        {"labelVersionFW", "V1.000"}, {"companyLogo", ""}, {"buttonAdvanced", ""},
        {"groupBoxTarget", "Target"}, {"groupBoxEditVolFlow", "Flowrate"},
        {"lineEditVolume", ""}, {"buttonMode", "   ml/min   "},
        {"groupBoxDispenseTime", "Dispense Time"}, {"lineEditTimeHour", "0"},
        {"labelTimeTargetUnitHours", "h"}, {"lineEditTimeMin", "0"},
        {"labelTimeTargetUnitMin", "min"}, {"lineEditTimeSec", "0"},
        {"labelTimeTargetUnitSec", "sec"}, {"groupBoxActual", "Actual"},
        {"groupBoxTimeActual", "Time elapsed"}, {"labelTimeActualHour", "0"},
        {"labelTimeActualUnitHour", "h"}, {"labelTimeActualMin", "0"},
        {"labelTimeActualUnitMin", "min"}, {"labelTimeActualSec", "0"},
        {"labelTimeActualUnitSec", "sec"}, {"groupBoxVolumeActual", "Volume"},
        {"labelVolumeActual", " 0.000 ml"}, {"buttonStop", "Stop   "},
        {"buttonStart", "Start    "}, {"buttonPause", "Pause"}, {"buttonPrime", "Prime"},
        {"labelUserAction", ""}, {"labelTransmissionState", ""}, {"labelConnectionState", ""},
        {"groupAdvanced", "Additional Settings"}, {"labelTypeFluid", "Fluid type"},
        {"labelLanguage", "Language"}, {"labelCalVolume", "Calibration volume"},
        {"labelUnit_ml_2", "ml"}, {"labelCalPercent", "Calibration %"},
        {"labelContrast", "Contrast LCD"}, {"checkboAutostart", "Auto start"},
        {"buttonDefaults", " Default values"}, {"buttonMaintenancePos", "Maintenance"},
        {"inOutGroup", "Inputs / Outputs"}, {"labelDigIn1", "Digital input 1"},
        {"labelDigIn2", "Digital input 2"}, {"labelAnalIn", "Analog input"},
        {"labelDigOut", "Digital output"}, {"groupBoxPauseTime", "Pause time"},
        {"lineEditBreakTimeMin", "0"}, {"labelBreakTimeMin", "min"},
        {"lineEditBreakTimeSec", "0"}, {"labelBreakTimeSec", "sec"},
        {"groupBoxCycles", "Cycles"}, {"lineEditCycles", "0"}, {"labelCycles", "Cycles"},
        {"groupStatus", "Status flags"}, {"groupFaults", "Errors"},
        {"groupComm", "Communication"}, {"labelCommuncationPort", "Communication port"},
        {"buttonUpdatePorts", "Update Port Information"},
        {"labelPumpAddress", "Communication Address"}, {"checkboProtAnswer", "Protocol Answer"},
        {"labelCommAddress", "Set pump address"}, {"buttonTestComm", "Test"},
        {"checkboUnusedLRC", "Unused LRC"}, {"labelLocatedAddress", "Located address"},
        {"labelLocatedAddressIndicator", "NONE"}, {"buttonSearchPump", "Search Pump"},
        {"checkboIncorrectLRC", " Incorrect LRC"}, {"labelDiscreteCommand", "Command"},
        {"lineEditDiscreteCommand", ""}, {"checkboNoDataUpdate", "No cyclic data"},
        {"messagesGroup", "Communication messages"},
        {"labelTxData", "Transmitted data with time stamp"},
        {"labelRxData", "Received data with time stamp"},
        {"checkboNoCyclicDataDisplay", "Do not display any cyclic data"},
        {"buttonClearAll", "Clear all"}, {"checkboFactoryMode", "Factory Mode"},
        {"labelFactoryPumpStrokeVolume", "Factory calibration pump stroke volume [ul]"},
        {"labelFactoryCalVolume", "Factory calibration volume [ml]"},
        {"labelPumpType", "Pump type"}, {"labelPumpModel", ""},
        {"buttonStressTest", "Stress test of communication"},
    };
    for (const auto& [name, text] : table)
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text);
    for (const Flag& flag : flags) {
        QTest::newRow(qPrintable(iconName(flag))) << iconName(flag) << QString();
        QTest::newRow(qPrintable(textName(flag))) << textName(flag) << QString::fromUtf8(flag.text);
    }
}

void TestMainScreen::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    FormFixture& form = *shared;
    QObject* object = form.dialog.findChild<QObject*>(name);
    QVERIFY(object);
    const char* property = qobject_cast<QGroupBox*>(object) ? "title" : "text";
    QCOMPARE(object->property(property).toString(), text);
}

void TestMainScreen::textsUseTheFormContext()
{
    FormFixture form;
    QCOMPARE(form.dialog.windowTitle(), "ZUL DoseDesk");
    UpperCaseTranslator translator;
    QCoreApplication::installTranslator(&translator);
    form.ui.retranslateUi(&form.dialog);
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(form.dialog.windowTitle(), "ZUL DOSEDESK");
    QCOMPARE(form.ui.buttonStop->text(), "STOP   ");
    QCOMPARE(form.ui.comboDigIn2->itemText(5), "RESET & PRIME");
}

void TestMainScreen::comboEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("entries");
    const QStringList inputOne = {"OFF", "Level Start/Stop", "Edge Start/Stop"};
    QTest::newRow("comboTypeFluid")
        << "comboTypeFluid"
        << QStringList{"STANDARD", "DEGASSING", "VISCOSITY 100cSt", "VISCOSITY 500cSt"};
    QTest::newRow("comboLanguage") << "comboLanguage"
                                   << QStringList{"English", "German",  "French",  "Spanish",
                                                  "Italian", "Chinese", "Japanese"};
    QTest::newRow("comboDigOut") << "comboDigOut"
                                 << QStringList{"Alarm", "Motor ON", "Volume End",
                                                "6 Pulses per Rev.", "Pulse per 100ul"};
    QTest::newRow("comboDigIn1") << "comboDigIn1" << inputOne;
    QTest::newRow("comboDigIn2") << "comboDigIn2"
                                 << inputOne + QStringList{"Reset", "Prime/Drain", "Reset & Prime"};
    QTest::newRow("comboAnalIn") << "comboAnalIn"
                                 << QStringList{"OFF", "0 .. 10 V", "0 .. 5 V", "0 .. 20 mA",
                                                "4 .. 20 mA"};
    QTest::newRow("comboPumpModel")
        << "comboPumpModel"
        << QStringList{"PX10-S", "PX10-RC", "PX02-S", "PX02-RC", "PX10-RCP", "PX02-RCP"};
    for (const char* filledAtRunTime :
         {"comboCalPercent", "comboContrast", "comboCommAddress", "comboPumpAddress"})
        QTest::newRow(filledAtRunTime) << filledAtRunTime << QStringList{};
}

void TestMainScreen::comboEntries()
{
    QFETCH(QString, name);
    QFETCH(QStringList, entries);
    QDialog dialog;
    Ui::mainScreen ui;
    ui.setupUi(&dialog);
    auto* combo = dialog.findChild<QComboBox*>(name);
    QVERIFY(combo);
    QStringList actual;
    for (int i = 0; i < combo->count(); ++i)
        actual.append(combo->itemText(i));
    QCOMPARE(actual, entries);
}

void TestMainScreen::tabsInOrder()
{
    QDialog dialog;
    Ui::mainScreen ui;
    ui.setupUi(&dialog);
    const QStringList pages = {"TabAdvanced", "TabIO", "tabCyclic", "TabStatus",
                               "TabCommunication", "tabHelp", "TabFactory"};
    const QStringList labels = {"Settings", "I/O", "Cycle", "Status", "Communication", "Help",
                                "Factory"};
    QCOMPARE(ui.TabsExtendedSettings->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i) {
        QCOMPARE(ui.TabsExtendedSettings->widget(i)->objectName(), pages[i]);
        QCOMPARE(ui.TabsExtendedSettings->tabText(i), labels[i]);
    }
    // The window gives the help tab its own layout later.
    QVERIFY(!ui.tabHelp->layout());
}

void TestMainScreen::tabOrder()
{
    const QStringList order = {
        "lineEditVolume", "buttonMode", "lineEditTimeHour", "lineEditTimeMin", "lineEditTimeSec",
        "buttonPause", "buttonStop", "buttonPrime", "TabsExtendedSettings", "comboTypeFluid",
        "comboLanguage", "lineEditCalVolume", "comboCalPercent", "comboContrast",
        "checkboAutostart", "buttonDefaults", "buttonMaintenancePos", "comboDigIn1", "comboDigIn2",
        "comboAnalIn", "comboDigOut", "lineEditCycles", "lineEditBreakTimeMin",
        "lineEditBreakTimeSec", "comboCommAddress", "comboPumpAddress", "buttonStart",
        "buttonTestComm", "lineEditDiscreteCommand", "buttonSearchPump", "checkboProtAnswer",
        "checkboUnusedLRC", "checkboIncorrectLRC", "checkboNoDataUpdate",
        "checkboNoCyclicDataDisplay", "buttonClearAll", "checkboFactoryMode",
        "lineEditFactoryPumpStrokeVolume", "lineEditFactoryCalVolume", "comboPumpModel",
        "buttonStressTest", "buttonAdvanced"};
    QDialog dialog;
    Ui::mainScreen ui;
    ui.setupUi(&dialog);

    // Walk the focus chain once from the first field; the listed widgets must come in order.
    QWidget* first = dialog.findChild<QWidget*>(order.first());
    QStringList met;
    QWidget* widget = first;
    do {
        if (order.contains(widget->objectName()))
            met.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != first);
    QCOMPARE(met, order);
}

void TestMainScreen::properties_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<qlonglong>("expected");
    const QList<std::tuple<const char*, const char*, qlonglong>> table = {
        {"labelVersionHW", "maximumHeight", 20},
        {"labelVersionFW", "maximumHeight", 20},
        {"companyLogo", "maximumWidth", 100},
        {"companyLogo", "maximumHeight", 50},
        {"companyLogo", "scaledContents", true},
        {"frameMode", "maximumWidth", 100},
        {"frameEditTime", "minimumWidth", 200},
        {"lineEditTimeHour", "minimumWidth", 35},
        {"lineEditTimeMin", "minimumWidth", 35},
        {"lineEditTimeSec", "minimumWidth", 35},
        {"frameVolumeActual", "maximumWidth", 120},
        {"buttonStop", "minimumWidth", 180},
        {"buttonPrime", "minimumHeight", 50},
        {"buttonDefaults", "maximumWidth", 200},
        {"buttonMaintenancePos", "minimumWidth", 200},
        {"buttonStop", "focusPolicy", Qt::StrongFocus},
        {"buttonStart", "focusPolicy", Qt::StrongFocus},
        {"buttonPause", "focusPolicy", Qt::StrongFocus},
        {"buttonPrime", "focusPolicy", Qt::StrongFocus},
        {"textEditTxData", "focusPolicy", Qt::NoFocus},
        {"textEditRxData", "focusPolicy", Qt::NoFocus},
        {"textEditTxData", "readOnly", true},
        {"textEditRxData", "readOnly", true},
        {"buttonAdvanced", "flat", true},
        {"checkboAutostart", "checked", false},
        {"checkboNoCyclicDataDisplay", "checked", true},
        {"stackedButtonStartPause", "currentIndex", 0},
        {"listWidgetComPorts", "maximumHeight", 30},
        {"listWidgetComPorts", "horizontalScrollBarPolicy", Qt::ScrollBarAlwaysOff},
        {"listWidgetComPorts", "editTriggers", QAbstractItemView::NoEditTriggers},
        {"listWidgetComPorts", "selectionMode", QAbstractItemView::SingleSelection},
        {"listWidgetComPorts", "verticalScrollMode", QAbstractItemView::ScrollPerItem},
        {"listWidgetComPorts", "resizeMode", QListView::Adjust},
        {"listWidgetComPorts", "spacing", 2},
        {"listWidgetComPorts", "viewMode", QListView::ListMode},
        {"listWidgetComPorts", "selectionRectVisible", false},
        {"comboDigIn1", "layoutDirection", Qt::LeftToRight},
        {"comboDigIn2", "layoutDirection", Qt::LeftToRight},
        {"comboAnalIn", "layoutDirection", Qt::LeftToRight},
        {"comboDigOut", "layoutDirection", Qt::LeftToRight},
    };
    for (const auto& [name, property, expected] : table)
        QTest::addRow("%s.%s", name, property) << QString::fromLatin1(name) << QByteArray(property)
                                               << expected;
}

void TestMainScreen::properties()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(qlonglong, expected);
    QObject* object = shared->dialog.findChild<QObject*>(name);
    QVERIFY(object);
    const QVariant value = object->property(property.constData());
    QVERIFY(value.isValid());
    QCOMPARE(value.toLongLong(), expected);
}

void TestMainScreen::picturesLoad_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file :
         {"arrow-102-64.png", "arrow-37-64.png", "1406229026_bullet-grey.png",
          "1406229038_bullet-green.png", "controls_stop-512.png", "519570-066_Play-512.png",
          "519571-067_Pause-512.png", "controls_fast_forward-512.png", "arrow_sans_down-256.png",
          "arrow_sans_up-256.png", "ZUL LOGO_CMYK_small.png", "ZUL_LOGO_RGB.ico"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

void TestMainScreen::picturesLoad()
{
    QFETCH(QString, file);
    QImageReader reader(":/Images/Images/" + file);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QVERIFY(image.hasAlphaChannel());
    if (file.endsWith(".ico"))
        QVERIFY(reader.imageCount() > 1);
}

void TestMainScreen::stylesByRole()
{
    FormFixture form;
    const QString runIdle = Styles::styleButtonBase + Styles::styleButtonIdle;
    for (QPushButton* run : {form.ui.buttonStart, form.ui.buttonPause, form.ui.buttonStop,
                             form.ui.buttonPrime})
        QCOMPARE(run->styleSheet(), runIdle);
    QCOMPARE(form.ui.buttonMode->styleSheet(), Styles::styleButtonBase);

    const QList<QComboBox*> combos = form.dialog.findChildren<QComboBox*>();
    QCOMPARE(combos.size(), comboNames.size());
    for (QComboBox* combo : combos)
        QCOMPARE(combo->styleSheet(), Styles::styleWidgetGrey);
    for (QGroupBox* group : form.dialog.findChildren<QGroupBox*>())
        QVERIFY2(group->styleSheet().startsWith("QGroupBox"), qPrintable(group->objectName()));

    // Every sheet must parse: polish each page of the tabs once.
    form.showExpanded();
    form.dialog.show();
    for (int i = 0; i < form.ui.TabsExtendedSettings->count(); ++i) {
        form.ui.TabsExtendedSettings->setCurrentIndex(i);
        QVERIFY(!form.dialog.grab().isNull());
    }
    form.ui.comboCalPercent->showPopup();
    QVERIFY(!form.dialog.grab().isNull());
}

void TestMainScreen::compactAndExpandedSizes()
{
    FormFixture form;
    QCOMPARE(form.dialog.size(), QSize(1132, 678));
    QVERIFY(!form.dialog.windowIcon().isNull());

    form.dialog.show();
    form.showCompact();
    const QSize compact = form.dialog.size();
    for (QWidget* shown : {static_cast<QWidget*>(form.ui.informationPanel),
                           static_cast<QWidget*>(form.ui.frameLogo),
                           static_cast<QWidget*>(form.ui.buttonAdvanced)}) {
        QVERIFY(shown->isVisible());
        QVERIFY(form.dialog.rect().contains(shown->geometry()));
    }
    QVERIFY(!form.ui.TabsExtendedSettings->isVisible());

    form.showExpanded();
    const QSize expanded = form.dialog.size();
    QVERIFY(form.ui.TabsExtendedSettings->isVisible());
    QVERIFY(form.dialog.rect().contains(form.ui.TabsExtendedSettings->geometry()));

    QVERIFY2(compact.width() < expanded.width() - 300, qPrintable(QString("%1x%2 / %3x%4")
                                                                 .arg(compact.width())
                                                                 .arg(compact.height())
                                                                 .arg(expanded.width())
                                                                 .arg(expanded.height())));
    QVERIFY(compact.height() <= expanded.height());
    // The panel must fit a small laptop screen in both states.
    QVERIFY(compact.width() <= 700 && compact.height() <= 720);
    QVERIFY(expanded.width() <= 1366 && expanded.height() <= 720);
}

QTEST_MAIN(TestMainScreen)
#include "tst_mainscreen.moc"
