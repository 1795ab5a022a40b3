#include "screenshot.h"

#include "console.h"
#include "constants.h"
#include "mainform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int ScreenshotLimitMs = 15000;
// Once the pump answers, the values polled on every tick need a moment to reach the window; the
// pump's identity is read right after the connection check.
constexpr int ScreenshotSettleMs = 1500;
constexpr int ScreenshotIdentityWaitMs = 10000;
constexpr int ScreenshotPollMs = 100;
constexpr int ExitNoPump = 3;

} // namespace

void takeScreenshotWhenConnected(mainForm& window, const QString& path)
{
    auto* poll = new QTimer(&window);
    auto since = std::make_shared<QElapsedTimer>();
    auto connectedAt = std::make_shared<qint64>(-1);
    since->start();
    QObject::connect(poll, &QTimer::timeout, &window, [&window, path, poll, since, connectedAt] {
        // The label names the pump only after an acknowledge or its address-only answer; any
        // answer at all already ends the window's connection-lost state.
        const bool connected =
            window.form().labelConnectionState->text() == Constants::PumpConnectedText
            || !window.isConnectionLost();
        if (connected && *connectedAt < 0)
            *connectedAt = since->elapsed();
        const qint64 connectedFor = *connectedAt < 0 ? -1 : since->elapsed() - *connectedAt;
        const bool identified = window.form().labelVersionHW->text() != Constants::ReadingText;
        const bool settled = connectedFor >= ScreenshotSettleMs
            && (identified || connectedFor >= ScreenshotIdentityWaitMs);
        const bool tooLate = since->elapsed() >= ScreenshotLimitMs;
        if (!window.isVisible() || (!settled && !tooLate))
            return;
        poll->stop();
        // Texts changed by the last display update may still wait for their layout.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        if (!window.grab().save(path)) {
            print(stderr, QStringLiteral("dosedesk: could not write the screenshot to %1\n").arg(path));
            QCoreApplication::exit(1);
            return;
        }
        print(stdout, path + u'\n');
        if (*connectedAt < 0)
            print(stderr, QStringLiteral("dosedesk: no pump answered within %1 s\n")
                              .arg(ScreenshotLimitMs / 1000));
        QCoreApplication::exit(*connectedAt >= 0 ? 0 : ExitNoPump);
    });
    poll->start(ScreenshotPollMs);
}

