#pragma once

#include <QFrame>

// Frame around numeric fields that shows a border while one of its fields has the keyboard focus.
class FrameEventHandler : public QFrame
{
    Q_OBJECT

public:
    explicit FrameEventHandler(QWidget* parent = nullptr);

    // Shows or removes the focus border.
    void setHighlighted(bool on);

    bool highlighted = false;
};
