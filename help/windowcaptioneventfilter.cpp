#include "windowcaptioneventfilter.h"

#include "helpfiles.h"
#include "helphost.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWhatsThis>
#include <QWhatsThisClickedEvent>
#include <QWidget>

WindowCaptionEventFilter::WindowCaptionEventFilter(HelpHost* window, QObject* parent)
    : QObject(parent), window(window)
{
}

bool WindowCaptionEventFilter::eventFilter(QObject* object, QEvent* event)
{
    switch (event->type()) {
    case QEvent::WhatsThis:
        if (auto* widget = qobject_cast<QWidget*>(object))
            explain(widget);
        return false;
    case QEvent::WhatsThisClicked:
        openClickedLink(static_cast<QWhatsThisClickedEvent*>(event)->href());
        return true;
    case QEvent::Paint:
        if (object->objectName() == QLatin1String("mainScreen"))
            followScreen();
        return false;
    default:
        return false;
    }
}

void WindowCaptionEventFilter::explain(QWidget* widget)
{
    const QString page = widget->property(HelpFiles::pageProperty).toString();
    widget->setWhatsThis(QString::fromUtf8(window->helpFileData(HelpFiles::pageUrl(page))));
}

void WindowCaptionEventFilter::openClickedLink(const QString& href)
{
    // Links inside a page are relative to the page's folder; the content tree knows full addresses.
    const QUrl link = HelpFiles::folderUrl().resolved(QUrl(href));
    QWhatsThis::leaveWhatsThisMode();
    // The popup is still inside its own mouse handler while this event is delivered: hide it, and
    // switch to the help tab, once that handler has returned.
    QTimer::singleShot(0, this, [this, link] {
        QWhatsThis::hideText();
        window->activateHelp();
        window->showHelpPage(link);
    });
}

void WindowCaptionEventFilter::followScreen()
{
    previousScreen = currentScreen;
    QScreen* target = nullptr;
    if (QWidget* active = QApplication::activeWindow()) {
        if (active->screen() != previousScreen)
            target = active->screen();
    } else if (!currentScreen) {
        // Without an active window the window is placed once, on the primary screen; later paints
        // while another program is in front must not pull it back there.
        target = QGuiApplication::primaryScreen();
    }
    if (!target)
        return;
    currentScreen = target;
    // Moving the window while it paints would disturb the paint in progress.
    QPointer<QScreen> screen = target;
    QTimer::singleShot(0, this, [this, screen] { centreOnScreen(window->hostWidget(), screen); });
}

void WindowCaptionEventFilter::centreOnScreen(QWidget* window, QScreen* screen)
{
    if (!window || !screen)
        return;
    QSize size = window->minimumSize();
    if (size.isEmpty())
        size = window->minimumSizeHint();
    if (!size.isValid() || size.isEmpty())
        size = window->size();
    window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, screen->geometry()));
}
