#pragma once

#include <QObject>
#include <QPointer>

class HelpHost;
class QScreen;
class QWidget;

// Application-wide event filter: fills what's-this popups from the help collection, opens the help
// tab for links clicked in them, and keeps the window centred when it moves to another screen.
class WindowCaptionEventFilter : public QObject
{
    Q_OBJECT

public:
    WindowCaptionEventFilter(HelpHost* window, QObject* parent);

    bool eventFilter(QObject* object, QEvent* event) override;

    // Gives the window its minimum size, centred in the screen's geometry.
    static void centreOnScreen(QWidget* window, QScreen* screen);

private:
    void explain(QWidget* widget);
    void openClickedLink(const QString& href);
    void followScreen();

    HelpHost* window;
    QPointer<QScreen> previousScreen;
    QPointer<QScreen> currentScreen;
};
