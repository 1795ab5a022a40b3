#pragma once

#include <QElapsedTimer>
#include <QLineEdit>
#include <QString>

#include <optional>

class FrameEventHandler;

// Numeric field that is edited in place with the mouse wheel (faster when the wheel turns faster),
// marks its frame while focused and leaves the field on Return.
class MouseEventLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    // The frame holding the field, as given by the form.
    explicit MouseEventLineEdit(QWidget* parent = nullptr);

    // Fields whose values carry decimals; every other field counts in whole numbers.
    bool isDecimalField() const;

    FrameEventHandler* frame = nullptr; // not owned
    QElapsedTimer wheelTimer;
    qint32 wheelInterval = 0;
    float step = 0.01f;
    double increment = 0.0;
    double value = 0.0;
    double minimum = 1.0;
    double maximum = 100.0;
    qint32 exponent = 0;
    double inverseStep = 1.0;
    double wheelSpeed = 0.0;

signals:
    // A finished edit (Return, Enter, focus loss, a wheel step) that changed the text since the
    // field took the focus or since the last one: reported once, however many of these end it.
    void editCommitted();
    // The wheel has stepped the value; reported before the edit it finishes.
    void wheelStepped();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void measureWheelSpeed(int angle);
    void stepDecimal(bool up);
    void stepWholeNumber(bool up);
    double clamped(double v) const;
    void commitIfChanged();

    // Text at the last commit or when the field took the focus; none before either.
    std::optional<QString> committedText;
};
