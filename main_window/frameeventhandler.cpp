#include "frameeventhandler.h"

#include "styles.h"

FrameEventHandler::FrameEventHandler(QWidget* parent)
    : QFrame(parent)
{
    setStyleSheet(Styles::styleFrameNormal);
}

void FrameEventHandler::setHighlighted(bool on)
{
    setStyleSheet(on ? Styles::styleFrameFocused : Styles::styleFrameNormal);
    highlighted = on;
}
