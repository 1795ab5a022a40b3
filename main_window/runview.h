#pragma once

#include "runrecorder.h"

#include <QChartView>
#include <QObject>

class Communication;
class QLabel;
class QPushButton;
class QLineSeries;
class QProgressBar;
class QValueAxis;

namespace BusinessLogic {
class CommandStack;
} // namespace BusinessLogic

namespace Ui {
class mainScreen;
} // namespace Ui

// A push button of the window with its accessible name and description and its help page.
QPushButton* helpedButton(QWidget* parent, const QString& objectName, const QString& name,
                          const QString& description, const QString& helpPage);

// A duration as minutes and seconds, rounded up: "1:05".
QString minutesAndSeconds(double seconds);

// The curve of the current run: delivered volume and the measured flow rate over time. The
// axes grow with the run; the curve stays until the next run begins.
class RunChart : public QChartView
{
    Q_OBJECT

public:
    // Points kept on the curve; beyond this every second point is dropped, so that drawing a
    // long run costs no more than drawing a short one.
    static constexpr int MaxPoints = 600;

    explicit RunChart(QWidget* parent = nullptr);

    void clear();
    void add(const GUI::RunSample& sample);
    int pointCount() const;

private:
    static void thinOut(QLineSeries* series);
    static void grow(QValueAxis* axis, double value);

    QLineSeries* volume;
    QLineSeries* rate;
    QValueAxis* timeAxis;
    QValueAxis* volumeAxis;
    QValueAxis* rateAxis;
};

// The run record and its views in the window: the recorder fed from the pump's answers, the
// "Run" tab with the chart, the progress bar under the actual values and the log saving.
class RunPanel : public QObject
{
    Q_OBJECT

public:
    // Text the state line shows when a run cannot be recorded.
    static const QString NotWrittenText;

    RunPanel(Ui::mainScreen& ui, BusinessLogic::CommandStack* commandStack,
             Communication* communication, int copyNumber, QWidget* window);

    // Called by every display tick with the window's judgement of the line.
    void displayTick(bool connectionLost);

    GUI::RunRecorder& recorder() { return runRecorder; }
    RunChart& chart() { return *runChart; }
    // The state line's note on the record; hidden while the record is written.
    const QLabel& recordStateLine() const { return *recordState; }

private:
    void buildRunTab(QWidget* window);
    void buildProgress();
    void connectWindow(BusinessLogic::CommandStack* commandStack, Communication* communication);
    void showProgress(const GUI::RunSample& sample);
    void saveLog();

    Ui::mainScreen& ui;
    GUI::RunRecorder runRecorder;
    RunChart* runChart = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* recordState = nullptr;
    bool lastTickLost = true;
    bool answeredSinceTick = false;
};
