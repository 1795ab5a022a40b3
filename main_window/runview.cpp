#include "runview.h"

#include "communication.h"
#include "framing.h"
#include "helpfiles.h"
#include "loggingcommandstack.h"
#include "styles.h"
#include "ui_mainscreen.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineSeries>
#include <QProgressBar>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>
#include <memory>

const QString RunPanel::NotWrittenText = QStringLiteral("RUN RECORD NOT WRITTEN: ");

QPushButton* helpedButton(QWidget* parent, const QString& objectName, const QString& name,
                          const QString& description, const QString& helpPage)
{
    auto* button = new QPushButton(name, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(name);
    button->setAccessibleDescription(description);
    button->setProperty(HelpFiles::pageProperty, helpPage);
    return button;
}

QString minutesAndSeconds(double seconds)
{
    const int whole = int(std::ceil(seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

namespace {

const QColor VolumeColour(0, 149, 216);
const QColor RateColour(255, 100, 0);
constexpr double InitialSeconds = 10.0;
constexpr double InitialMillilitres = 1.0;
constexpr double GrowthFactor = 1.5;
constexpr int ProgressSteps = 1000;
constexpr int LineWidth = 2;
// Black text stays readable on the light blue of the part done.
const QString ProgressStyle = QStringLiteral(
    "QProgressBar { border: 1px solid grey; background-color: white; text-align: center; "
    "font-size: 12pt; min-height: 24px; }"
    "QProgressBar::chunk { background-color: rgb(0,188,255); }");

QValueAxis* makeAxis(const QString& title, double maximum)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setRange(0.0, maximum);
    axis->setLabelFormat(QStringLiteral("%.4g"));
    return axis;
}

} // namespace

RunChart::RunChart(QWidget* parent)
    : QChartView(parent), volume(new QLineSeries), rate(new QLineSeries),
      timeAxis(makeAxis(QStringLiteral("Time since start [s]"), InitialSeconds)),
      volumeAxis(makeAxis(QStringLiteral("Delivered [ml]"), InitialMillilitres)),
      rateAxis(makeAxis(QStringLiteral("Measured flow rate [ml/min]"), InitialMillilitres))
{
    setObjectName(QStringLiteral("runChart"));
    auto* chart = new QChart;
    volume->setName(QStringLiteral("Delivered volume"));
    rate->setName(QStringLiteral("Measured flow rate"));
    volume->setPen(QPen(VolumeColour, LineWidth));
    rate->setPen(QPen(RateColour, LineWidth));
    chart->addSeries(volume);
    chart->addSeries(rate);
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(volumeAxis, Qt::AlignLeft);
    chart->addAxis(rateAxis, Qt::AlignRight);
    volumeAxis->setLabelsColor(VolumeColour);
    rateAxis->setLabelsColor(RateColour);
    for (QLineSeries* series : {volume, rate})
        series->attachAxis(timeAxis);
    volume->attachAxis(volumeAxis);
    rate->attachAxis(rateAxis);
    chart->legend()->setAlignment(Qt::AlignBottom);
    // The view came with an empty chart of its own, which setChart() lets go of without
    // deleting it.
    std::unique_ptr<QChart> empty(this->chart());
    setChart(chart);
    setRenderHint(QPainter::Antialiasing);
}

void RunChart::clear()
{
    volume->clear();
    rate->clear();
    timeAxis->setRange(0.0, InitialSeconds);
    volumeAxis->setRange(0.0, InitialMillilitres);
    rateAxis->setRange(0.0, InitialMillilitres);
}

void RunChart::add(const GUI::RunSample& sample)
{
    grow(timeAxis, sample.seconds);
    grow(volumeAxis, std::max(sample.millilitres, sample.targetMillilitres));
    volume->append(sample.seconds, sample.millilitres);
    if (sample.ratePerMinute >= 0) {
        grow(rateAxis, sample.ratePerMinute);
        rate->append(sample.seconds, sample.ratePerMinute);
    }
    thinOut(volume);
    thinOut(rate);
}

int RunChart::pointCount() const
{
    return int(volume->count());
}

void RunChart::thinOut(QLineSeries* series)
{
    if (series->count() < MaxPoints)
        return;
    const QList<QPointF> points = series->points();
    QList<QPointF> kept;
    kept.reserve(points.size() / 2 + 1);
    for (qsizetype i = 0; i < points.size(); i += 2)
        kept.append(points.at(i));
    // The newest point stays, so that the curve still ends where the run stands.
    if (kept.last() != points.last())
        kept.append(points.last());
    series->replace(kept);
}

void RunChart::grow(QValueAxis* axis, double value)
{
    if (value <= axis->max())
        return;
    axis->setMax(value * GrowthFactor);
    axis->applyNiceNumbers();
}

RunPanel::RunPanel(Ui::mainScreen& ui, BusinessLogic::CommandStack* commandStack,
                   Communication* communication, int copyNumber, QWidget* window)
    : QObject(window), ui(ui), runRecorder(GUI::RunRecorder::standardFolder(),
                                           QStringLiteral("copy") + QString::number(copyNumber))
{
    buildRunTab(window);
    buildProgress();
    connectWindow(commandStack, communication);
}

void RunPanel::buildRunTab(QWidget* window)
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabRun"));
    auto* layout = new QVBoxLayout(tab);
    runChart = new RunChart(tab);
    layout->addWidget(runChart, 1);
    // The accessible description is the first sentence of the button's help page, as for the
    // controls of the form.
    QPushButton* openRecords = helpedButton(
        tab, QStringLiteral("buttonOpenRunRecords"), QStringLiteral("Open run records"),
        QStringLiteral("DoseDesk writes every run into a CSV file by itself: when it started and "
                       "ended, at what settings, how much was delivered, and what went wrong on "
                       "the way."),
        QStringLiteral("runrecord.html"));
    openRecords->setToolTip(runRecorder.folder());
    openRecords->setStyleSheet(Styles::styleWidgetGrey);
    layout->addWidget(openRecords, 0, Qt::AlignLeft);
    QTabWidget* tabs = ui.TabsExtendedSettings;
    tabs->insertTab(tabs->indexOf(ui.TabStatus) + 1, tab, QStringLiteral("Run"));
    for (QWidget* widget : {tab, static_cast<QWidget*>(runChart)})
        widget->setProperty(HelpFiles::pageProperty, QStringLiteral("runtab.html"));
    connect(openRecords, &QPushButton::clicked, this, [this] {
        QDir().mkpath(runRecorder.folder());
        QDesktopServices::openUrl(QUrl::fromLocalFile(runRecorder.folder()));
    });

    QPushButton* saveLog = helpedButton(
        window, QStringLiteral("buttonSaveLog"), QStringLiteral("Save log"),
        QStringLiteral("The two panes show the raw traffic with the pump, one line per frame: "
                       "\"Transmitted data with time stamp\" on the left (Tx, what DoseDesk sent) "
                       "and \"Received data with time stamp\" on the right (Rx, what came back)."),
        QStringLiteral("commmessage.html"));
    saveLog->setText(QStringLiteral("Save log…"));
    ui.gridLayout_8->addWidget(saveLog, 7, 4);
    connect(saveLog, &QPushButton::clicked, this, &RunPanel::saveLog);
}

void RunPanel::buildProgress()
{
    // A line of the state panel of its own: the display update rewrites the others every tick.
    recordState = new QLabel;
    recordState->setObjectName(QStringLiteral("labelRunRecordState"));
    recordState->setStyleSheet(QStringLiteral("color:rgb(255,100,0);"));
    recordState->setWordWrap(true);
    recordState->setProperty(HelpFiles::pageProperty, QStringLiteral("runrecord.html"));
    recordState->hide();
    ui.layoutStateFeedback->addWidget(recordState);

    progress = new QProgressBar;
    progress->setObjectName(QStringLiteral("progressRun"));
    progress->setRange(0, ProgressSteps);
    progress->setStyleSheet(ProgressStyle);
    progress->setProperty(HelpFiles::pageProperty, QStringLiteral("runtab.html"));
    progress->hide();
    ui.layoutActual->addWidget(progress);
}

void RunPanel::connectWindow(BusinessLogic::CommandStack* commandStack,
                             Communication* communication)
{
    runRecorder.follow(commandStack, communication);
    connect(commandStack, &BusinessLogic::CommandStack::sendAnswer, this,
            [this](const Answer& answer) {
                answeredSinceTick =
                    answeredSinceTick || (!answer.aside && GUI::RunRecorder::pumpAnswered(answer));
            });
    connect(ui.buttonStop, &QPushButton::clicked, this, [this] { runRecorder.noteStopRequest(); });
    connect(ui.buttonPause, &QPushButton::clicked, this,
            [this] { runRecorder.notePauseRequest(); });
    connect(&runRecorder, &GUI::RunRecorder::runStarted, this, [this] {
        // A failure is shown until a run is recorded again (it says so anew when it fails).
        recordState->hide();
        runChart->clear();
        progress->setValue(0);
    });
    connect(&runRecorder, &GUI::RunRecorder::sampleTaken, this,
            [this](const GUI::RunSample& sample) {
                runChart->add(sample);
                showProgress(sample);
            });
    connect(&runRecorder, &GUI::RunRecorder::recordFailed, this, [this](const QString& reason) {
        recordState->setText(NotWrittenText + reason);
        recordState->show();
    });
}

void RunPanel::displayTick(bool connectionLost)
{
    // The window finds the pump lost a second after its last answer: an answer that came in
    // since the previous tick has already shown it back.
    if (connectionLost && !lastTickLost && !answeredSinceTick)
        runRecorder.noteLineLost();
    lastTickLost = connectionLost;
    answeredSinceTick = false;
}

void RunPanel::showProgress(const GUI::RunSample& sample)
{
    progress->setVisible(sample.targetMillilitres > 0);
    if (sample.targetMillilitres <= 0)
        return;
    const double fraction = std::clamp(sample.millilitres / sample.targetMillilitres, 0.0, 1.0);
    progress->setValue(int(std::lround(fraction * ProgressSteps)));
    QString text = QStringLiteral("%1 / %2 ml")
                       .arg(sample.millilitres, 0, 'f', 3)
                       .arg(sample.targetMillilitres, 0, 'f', 3);
    const double missing = sample.targetMillilitres - sample.millilitres;
    if (sample.ratePerMinute > 0 && missing > 0)
        text += QStringLiteral("   %1 left")
                    .arg(minutesAndSeconds(missing / sample.ratePerMinute * 60.0));
    progress->setFormat(text);
}

void RunPanel::saveLog()
{
    const QString path = QFileDialog::getSaveFileName(
        ui.TabsExtendedSettings, QStringLiteral("Save the communication log"),
        QDir::home().filePath(QStringLiteral("dosedesk-log.txt")),
        QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QString text = ui.labelTxData->text() + u'\n' + ui.textEditTxData->toPlainText()
                         + QStringLiteral("\n\n") + ui.labelRxData->text() + u'\n'
                         + ui.textEditRxData->toPlainText() + u'\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        ui.labelUserAction->setText(QStringLiteral("LOG NOT SAVED: ") + file.errorString());
}
