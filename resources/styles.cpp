#include "styles.h"

namespace {

// A group box with its title inside the top padding, 5 px in from the left.
QString groupSheet(int topPadding, int topMargin, int pointSize, const char* background,
                   const char* titleColour)
{
    QString sheet = QStringLiteral("QGroupBox { border: none; padding-top: %1px; margin: 0px; "
                                   "margin-top: %2px; font-family: \"Arial\"; font-size: %3pt; "
                                   "background-color: %4; }\n"
                                   "QGroupBox::title { subcontrol-origin: margin; "
                                   "subcontrol-position: top left; left: 5px; top: %2px;")
                        .arg(topPadding)
                        .arg(topMargin)
                        .arg(pointSize)
                        .arg(QLatin1String(background));
    if (titleColour)
        sheet += QStringLiteral(" color: %1;").arg(QLatin1String(titleColour));
    return sheet + QStringLiteral(" }\n");
}

// The same declarations for the normal, hover and pressed states of a push button.
QString allButtonStates(const char* declarations)
{
    const QString body = QLatin1String(declarations);
    return QStringLiteral("QPushButton { ") + body + QStringLiteral(" }\nQPushButton:hover { ")
           + body + QStringLiteral(" }\nQPushButton:pressed { ") + body + QStringLiteral(" }\n");
}

// A colour sheet for a run button: background, hover and pressed shades.
QString buttonColours(const char* normal, const char* hover, const char* pressed)
{
    return QStringLiteral("QPushButton { background-color: %1; }\n"
                          "QPushButton:hover { background-color: %2; }\n"
                          "QPushButton:pressed { background-color: %3; }\n")
        .arg(QLatin1String(normal), QLatin1String(hover), QLatin1String(pressed));
}

QString frameSheet(const char* borderColour)
{
    return QStringLiteral("FrameEventHandler { border: 2px solid %1; "
                          "background-color: rgb(240,240,240); }\n")
        .arg(QLatin1String(borderColour));
}

// Square blue push button; pressing sinks the border, nothing else changes.
QString buttonBase()
{
    const QString common = QStringLiteral(
        "font-family: \"Arial\"; background-color: rgb(0,149,216); "
        "border-top-left-radius: 0px; border-top-right-radius: 0px; "
        "border-bottom-left-radius: 0px; border-bottom-right-radius: 0px; padding: 5px; }\n");
    const QString raised = QStringLiteral("{ border: 1px outset grey; ") + common;
    return QStringLiteral("QPushButton ") + raised + QStringLiteral("QPushButton:hover ") + raised
           + QStringLiteral("QPushButton:pressed { border: 2px inset grey; ") + common
           + QStringLiteral("QPushButton::menu-indicator { background-color: rgb(0,149,216); }\n");
}

constexpr const char* blue = "rgb(0,149,216)";

} // namespace

namespace Styles {

const QString styleButtonBase = buttonBase();

const QString styleButtonIdle =
    buttonColours("rgb(0,149,216)", "rgba(0,149,216,75%)", "rgba(0,149,216,50%)");

const QString styleButtonActive =
    buttonColours("rgb(0,188,255)", "rgba(0,188,255,75%)", "rgba(0,188,255,40%)");

const QString styleSquareLeft =
    allButtonStates("border-top-left-radius: 0px; border-bottom-left-radius: 0px;");

const QString styleSquareRight =
    allButtonStates("border-top-right-radius: 0px; border-bottom-right-radius: 0px;");

const QString styleMenu = QStringLiteral(
    "QMenu { background-color: rgba(0,188,255,100%); font-family: \"Arial\"; font-size: 14pt; }\n"
    "QMenu::item:selected { background-color: rgba(0,188,255,25%); }\n");

const QString styleWidgetGrey = QStringLiteral(
    "QWidget { font-family: \"Arial\"; font-size: 14pt; border: 1px outset grey; "
    "background-color: rgb(240,240,240); border-radius: 0px; padding: 5px; }\n"
    "QWidget:hover { background-color: rgb(248,248,248); }\n"
    "QWidget:pressed { border: 2px inset grey; background-color: rgb(250,250,250); }\n"
    "QWidget:selected { border: 2px inset grey; background-color: rgb(248,248,248); }\n"
    "QComboBox { combobox-popup: 0; }\n"
    "QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right; "
    "width: 24px; height: 24px; right: 2px; border: none; background-color: rgb(240,240,240); }\n"
    "QComboBox::down-arrow { image: url(:/Images/Images/arrow_sans_down-256.png); "
    "width: 24px; height: 24px; }\n"
    "QScrollBar:vertical { background: transparent; border: 1px solid grey; width: 24px; "
    "margin: 23px 0px 23px 0px; padding: 0px; }\n"
    "QScrollBar::handle:vertical { background-color: rgb(0,149,216); border: none; "
    "min-height: 40px; }\n"
    "QScrollBar::sub-line:vertical { subcontrol-origin: margin; subcontrol-position: top; "
    "height: 23px; width: 22px; background-color: rgb(212,208,200); }\n"
    "QScrollBar::add-line:vertical { subcontrol-origin: margin; subcontrol-position: bottom; "
    "height: 23px; width: 22px; background-color: rgb(212,208,200); }\n"
    "QScrollBar::up-arrow:vertical { image: url(:/Images/Images/arrow_sans_up-256.png); "
    "width: 24px; height: 24px; }\n"
    "QScrollBar::down-arrow:vertical { image: url(:/Images/Images/arrow_sans_down-256.png); "
    "width: 24px; height: 24px; }\n"
    "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { "
    "background-color: rgb(240,240,240); }\n"
    "QAbstractItemView { margin: 0px; padding-right: 2px; }\n");

const QString styleTabs = QStringLiteral(
    "QWidget { background-color: rgb(240,240,240); font-family: \"Arial\"; }\n"
    "QLineEdit, QTextEdit, QListWidget { background-color: white; }\n"
    "QTabWidget::pane { border: 1px solid rgb(200,200,200); top: -1px; }\n"
    "QTabBar::tab { font-size: 12pt; padding: 6px 14px; border: 1px solid rgb(200,200,200); "
    "background-color: rgb(225,225,225); margin-right: 2px; }\n"
    "QTabBar::tab:selected { background-color: rgb(240,240,240); color: rgb(0,149,216); "
    "border-bottom-color: rgb(240,240,240); }\n");

const QString styleGroupLarge = groupSheet(35, 0, 18, "rgb(240,240,240)", blue);
const QString styleGroupLargeLight = groupSheet(35, 0, 18, "rgb(250,250,250)", blue);
const QString styleGroupSmallTarget = groupSheet(20, 12, 14, "rgb(240,240,240)", blue);
const QString styleGroupSmallActual = groupSheet(20, 12, 14, "rgb(240,240,240)", nullptr);

const QString stylePanelFrame = QStringLiteral(
    "QFrame#frameTarget, QFrame#frameActual { background-color: rgb(240,240,240); "
    "border: 1px solid rgb(211,211,211); }\n");

const QString styleButtonAdvanced =
    QStringLiteral("QPushButton { border: 1px outset white; background-color: white; }\n");

const QString styleFrameFocused = frameSheet("black");
const QString styleFrameNormal = frameSheet("transparent");

} // namespace Styles

// The resource initialiser must be called from the global namespace.
static void registerImages()
{
    Q_INIT_RESOURCE(dosedesk_images);
}

void Styles::initResources()
{
    registerImages();
}
