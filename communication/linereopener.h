#pragma once

#include <QObject>
#include <QTimer>

class Communication;

// Brings the line back by itself once the chosen device is there again: it looks for the device
// every 500 ms with a plain file check and opens it only when it exists, so that an absent
// adapter costs nothing. The user's choice of a port, the same one included, ends any look-out.
// A network port connects again by itself; its return after a loss counts as the line back.
class LineReopener : public QObject
{
    Q_OBJECT

public:
    static constexpr int LookIntervalMs = 500;

    explicit LineReopener(Communication& link, QObject* parent = nullptr);

    bool isLooking() const { return timer.isActive(); }

public slots:
    // The open device went away: look for it until it is back.
    void lookOut();
    // A port was just chosen: the old look-out ends; a new one starts when the choice could not
    // be opened for a reason that may pass (missing, busy, refused).
    void followChoice();

signals:
    // The line is open again on the same path.
    void lineBack();

private:
    void look();
    void onOpened();

    Communication& link;
    QTimer timer;
    bool lost = false; // a loss is not followed by the line's return yet
};
