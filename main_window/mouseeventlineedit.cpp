#include "mouseeventlineedit.h"

#include "frameeventhandler.h"
#include "pumpvalues.h"

#include <QKeyEvent>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int maxWheelSpeed = 10;
constexpr qint64 shortestInterval = 1;
constexpr qint64 longestInterval = 1000;

// Exponent of one unit of the fourth significant digit; log10 needs a positive argument, so
// zero and below count as the smallest unit.
int fourthDigitExponent(double v)
{
    return int(std::floor(std::log10(std::max(v, 0.0) + 0.0000001))) - 3;
}

} // namespace

MouseEventLineEdit::MouseEventLineEdit(QWidget* parent)
    : QLineEdit(parent)
    , frame(qobject_cast<FrameEventHandler*>(parent))
{
    wheelTimer.start();
    connect(this, &QLineEdit::editingFinished, this, &MouseEventLineEdit::commitIfChanged);
}

void MouseEventLineEdit::commitIfChanged()
{
    if (committedText && *committedText == text())
        return;
    committedText = text();
    emit editCommitted();
}

bool MouseEventLineEdit::isDecimalField() const
{
    // The form names its fields after construction, so the mode is looked up when it is needed.
    const QString name = objectName();
    return name == QLatin1String("lineEditVolume") || name == QLatin1String("lineEditCalVolume");
}

void MouseEventLineEdit::mousePressEvent(QMouseEvent*)
{
    // A click only moves the focus (done before this handler); the cursor and selection stay.
}

void MouseEventLineEdit::keyPressEvent(QKeyEvent* event)
{
    const bool finishing = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (finishing)
        clearFocus();
    QLineEdit::keyPressEvent(event);
    // The line edit passes Return on to the window, whose dialog would click its default button
    // (the mode button, which opens its menu and takes the next click): the key ends here.
    if (finishing)
        event->accept();
}

void MouseEventLineEdit::focusInEvent(QFocusEvent* event)
{
    if (frame)
        frame->setHighlighted(true);
    committedText = text();
    QLineEdit::focusInEvent(event);
}

void MouseEventLineEdit::focusOutEvent(QFocusEvent* event)
{
    if (frame)
        frame->setHighlighted(false);
    QLineEdit::focusOutEvent(event);
}

void MouseEventLineEdit::wheelEvent(QWheelEvent* event)
{
    const int angle = event->angleDelta().y();
    // Without focus the wheel scrolls whatever holds the field; a purely sideways turn is no
    // step in either direction.
    if (!hasFocus() || angle == 0) {
        event->ignore();
        wheelTimer.restart();
        return;
    }
    measureWheelSpeed(angle);
    if (isDecimalField())
        stepDecimal(angle > 0);
    else
        stepWholeNumber(angle > 0);
    emit wheelStepped();
    emit editingFinished();
    event->accept();
}

void MouseEventLineEdit::measureWheelSpeed(int angle)
{
    const qint64 elapsed = wheelTimer.restart();
    const int interval = int(std::clamp(elapsed, shortestInterval, longestInterval));
    wheelInterval = isDecimalField() ? interval : int(std::min<qint64>(elapsed, INT_MAX));
    wheelSpeed = std::min(std::abs(angle / interval), maxWheelSpeed);
}

double MouseEventLineEdit::clamped(double v) const
{
    if (v > maximum)
        return maximum;
    if (v < minimum)
        return minimum;
    return v;
}

void MouseEventLineEdit::stepDecimal(bool up)
{
    // From what the field shows; from the pump's value it showed before the typing when the
    // text is no number.
    const double v = Engine::typedNumber(text()).value_or(
        Engine::typedNumber(committedText.value_or(QString())).value_or(0.0));

    exponent = fourthDigitExponent(v);
    const double unit = std::pow(10.0, exponent);
    step = float(unit);
    inverseStep = std::pow(10.0, -exponent);
    const double speedCubed = wheelSpeed * wheelSpeed * wheelSpeed;
    increment = std::round((9.0 * unit * speedCubed + unit) * inverseStep) / inverseStep;

    const double unclamped = up ? v + increment : v - increment;
    value = clamped(unclamped);
    // A limit is shown with the decimals of its own size: rounded to the decimals of the old
    // value it could read beyond the limit (999.9 as "1000").
    const int shownExponent = value == unclamped ? exponent : fourthDigitExponent(value);
    setText(QString::number(value, 'f', std::max(0, -shownExponent)));
}

void MouseEventLineEdit::stepWholeNumber(bool up)
{
    step = 1.0f;
    increment = std::round(9.0 * wheelSpeed * wheelSpeed * wheelSpeed + 1.0);

    const double v = Engine::typedNumber(text()).value_or(
        text().trimmed() == Engine::InfiniteText ? Engine::InfiniteCycles : 0.0);

    value = clamped(up ? v + increment : v - increment);
    setText(QString::number(value, 'f', 0));
}
