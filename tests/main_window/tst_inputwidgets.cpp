#include "frameeventhandler.h"
#include "mouseeventlineedit.h"
#include "styles.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

// Wheel editing, focus border and Return handling of the numeric fields.
class TestInputWidgets : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void slowNotchSteps_data();
    void slowNotchSteps();
    void fastTurningTakesBiggerSteps_data();
    void fastTurningTakesBiggerSteps();
    void wheelWithoutFocusChangesNothing();
    void sidewaysWheelChangesNothing();
    void modeFollowsNameGivenAfterConstruction();
    void frameBorderFollowsFocus();
    void returnLeavesTheFieldAndFinishesTheEdit();
    void clickKeepsTheCursor();

private:
    MouseEventLineEdit* addField(FrameEventHandler* frame, const QString& name);
    void focus(QWidget* widget);
    bool turn(MouseEventLineEdit* field, int angle);

    QWidget* window = nullptr;
    FrameEventHandler* frame = nullptr;
    FrameEventHandler* otherFrame = nullptr;
};

MouseEventLineEdit* TestInputWidgets::addField(FrameEventHandler* holder, const QString& name)
{
    auto* field = new MouseEventLineEdit(holder);
    field->setObjectName(name);
    holder->layout()->addWidget(field);
    field->show(); // the window is already visible
    return field;
}

void TestInputWidgets::init()
{
    window = new QWidget;
    auto* layout = new QHBoxLayout(window);
    frame = new FrameEventHandler(window);
    otherFrame = new FrameEventHandler(window);
    for (FrameEventHandler* holder : {frame, otherFrame}) {
        new QHBoxLayout(holder);
        layout->addWidget(holder);
    }
    window->show();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void TestInputWidgets::cleanup()
{
    delete window;
}

void TestInputWidgets::focus(QWidget* widget)
{
    widget->setFocus(Qt::OtherFocusReason);
    QVERIFY(widget->hasFocus());
}

// One notch; returns whether the field took the event.
bool TestInputWidgets::turn(MouseEventLineEdit* field, int angle)
{
    QWheelEvent event(QPointF(5, 5), field->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, angle),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(field, &event);
    return event.isAccepted();
}

void TestInputWidgets::slowNotchSteps_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("angle");
    QTest::addColumn<QString>("expected");

    QTest::newRow("two decimals up") << "lineEditVolume" << 1.0 << 999.9 << "12.50" << 120 << "12.51";
    QTest::newRow("one decimal down") << "lineEditVolume" << 1.0 << 999.9 << "150" << -120 << "149.9";
    QTest::newRow("three decimals") << "lineEditVolume" << 1.0 << 999.9 << "1.234" << -120 << "1.233";
    QTest::newRow("upper limit stays") << "lineEditVolume" << 1.0 << 999.9 << "999.9" << 120 << "999.9";
    QTest::newRow("typed beyond the limit")
        << "lineEditVolume" << 1.0 << 999.9 << "1500" << -120 << "999.9";
    QTest::newRow("small lower limit") << "lineEditVolume" << 0.03 << 20.0 << "0.030" << -120 << "0.03000";
    QTest::newRow("not a number") << "lineEditCalVolume" << 1.0 << 100.0 << "abc" << 120 << "1.000";
    QTest::newRow("negative") << "lineEditCalVolume" << 1.0 << 100.0 << "-5" << 120 << "1.000";
    QTest::newRow("whole up") << "lineEditTimeMin" << -1.0 << 60.0 << "5" << 120 << "6";
    QTest::newRow("whole lower limit") << "lineEditTimeHour" << -1.0 << 99.0 << "-1" << -120 << "-1";
    QTest::newRow("whole not a number") << "lineEditCycles" << 0.0 << 1000.0 << "x" << 120 << "1";
    QTest::newRow("endless cycles down") << "lineEditCycles" << 0.0 << 1000.0 << "INF" << -120 << "999";
    QTest::newRow("endless cycles up") << "lineEditCycles" << 0.0 << 1000.0 << "INF" << 120 << "1000";
}

void TestInputWidgets::slowNotchSteps()
{
    QFETCH(QString, name);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(QString, text);
    QFETCH(int, angle);
    QFETCH(QString, expected);

    MouseEventLineEdit* field = addField(frame, name);
    field->minimum = minimum;
    field->maximum = maximum;
    field->setText(text);
    focus(field);
    QSignalSpy finished(field, &QLineEdit::editingFinished);

    QTest::qWait(150); // a notch after a pause counts as slow turning
    QVERIFY(turn(field, angle));
    QCOMPARE(field->text(), expected);
    QCOMPARE(finished.count(), 1);
}

void TestInputWidgets::fastTurningTakesBiggerSteps_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("slowStep");
    QTest::newRow("decimal") << "lineEditVolume" << "12.50" << 0.01;
    QTest::newRow("whole number") << "lineEditCycles" << "100" << 1.0;
}

void TestInputWidgets::fastTurningTakesBiggerSteps()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(double, slowStep);
    MouseEventLineEdit* field = addField(frame, name);
    field->minimum = 0.0;
    field->maximum = 1000.0;
    field->setText(text);
    focus(field);
    QSignalSpy finished(field, &QLineEdit::editingFinished);

    QTest::qWait(150);
    turn(field, 120);
    const double afterSlow = field->text().toDouble();
    turn(field, 120); // right after the previous notch
    const double fastStep = field->text().toDouble() - afterSlow;

    QVERIFY2(fastStep >= 10 * slowStep - 1e-9, qPrintable(field->text()));
    QVERIFY(field->text().toDouble() <= field->maximum);
    QCOMPARE(finished.count(), 2);
}

void TestInputWidgets::wheelWithoutFocusChangesNothing()
{
    MouseEventLineEdit* field = addField(frame, "lineEditVolume");
    MouseEventLineEdit* other = addField(otherFrame, "lineEditCycles");
    field->setText("12.50");
    focus(other);
    QSignalSpy finished(field, &QLineEdit::editingFinished);

    QVERIFY(!turn(field, 120));
    QCOMPARE(field->text(), "12.50");
    QCOMPARE(finished.count(), 0);
}

void TestInputWidgets::sidewaysWheelChangesNothing()
{
    MouseEventLineEdit* field = addField(frame, "lineEditCycles");
    field->setText("50");
    focus(field);
    QVERIFY(!turn(field, 0));
    QCOMPARE(field->text(), "50");
}

void TestInputWidgets::modeFollowsNameGivenAfterConstruction()
{
    MouseEventLineEdit* field = addField(frame, "lineEditCycles");
    QVERIFY(!field->isDecimalField());
    field->setObjectName("lineEditCalVolume");
    QVERIFY(field->isDecimalField());
    QCOMPARE(field->frame, frame);
}

void TestInputWidgets::frameBorderFollowsFocus()
{
    MouseEventLineEdit* hours = addField(frame, "lineEditTimeHour");
    MouseEventLineEdit* minutes = addField(frame, "lineEditTimeMin");
    MouseEventLineEdit* cycles = addField(otherFrame, "lineEditCycles");
    QVERIFY(!frame->highlighted);
    QCOMPARE(frame->styleSheet(), Styles::styleFrameNormal);

    focus(hours);
    QVERIFY(frame->highlighted);
    QCOMPARE(frame->styleSheet(), Styles::styleFrameFocused);

    focus(minutes); // same frame: the border stays
    QVERIFY(frame->highlighted);

    focus(cycles);
    QVERIFY(!frame->highlighted);
    QCOMPARE(frame->styleSheet(), Styles::styleFrameNormal);
    QVERIFY(otherFrame->highlighted);
}

void TestInputWidgets::returnLeavesTheFieldAndFinishesTheEdit()
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        MouseEventLineEdit* field = addField(frame, "lineEditVolume");
        focus(field);
        QTest::keyClicks(field, "5");
        QSignalSpy finished(field, &QLineEdit::editingFinished);

        QTest::keyClick(field, key);
        QVERIFY(!field->hasFocus());
        QVERIFY(!frame->highlighted);
        QVERIFY(finished.count() >= 1);
        delete field;
    }
}

void TestInputWidgets::clickKeepsTheCursor()
{
    MouseEventLineEdit* field = addField(frame, "lineEditCycles");
    MouseEventLineEdit* other = addField(otherFrame, "lineEditTimeSec");
    field->setText("123456");
    field->setCursorPosition(0);
    focus(other);

    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, field->height() / 2));
    QVERIFY(field->hasFocus());
    QCOMPARE(field->cursorPosition(), 0);
    QVERIFY(!field->hasSelectedText());
}

QTEST_MAIN(TestInputWidgets)
#include "tst_inputwidgets.moc"
