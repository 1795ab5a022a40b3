// bench_display: what one display tick of the window costs on the GUI thread, with every value
// the window shows changing from tick to tick, and with nothing changing; and the same while a
// run is recorded with its chart shown, a volume reading written and drawn on every tick.
//
//   bench_display [--ticks N]

#include "benchtools.h"
#include "commandtable.h"
#include "communication.h"
#include "loggingcommandstack.h"
#include "mainform.h"
#include "panelsession.h"
#include "panelwindow.h"
#include "programoptions.h"
#include "runview.h"
#include "styles.h"

#include <QApplication>
#include <QCheckBox>
#include <QTabWidget>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int DefaultTicks = 2000;
constexpr int WarmUpTicks = 50;
constexpr double TargetMedianMs = 1.0;
// Volume readings of a one-hour run, polled every 500 ms.
constexpr int HourOfReadings = 7200;
constexpr qint64 PollIntervalMs = 500;

// Two answers for every item the window shows, and the link state of the tick; feeding the
// two sets in turn changes every value, every status mark and the fading text on every tick.
struct TickData
{
    std::vector<Answer> answers;
    bool ack = false;
};

TickData tickData(bool second)
{
    const auto pick = [second](const char* first, const char* other) {
        return QByteArray(second ? other : first);
    };
    namespace T = BusinessLogic::CommandTable;
    TickData data;
    data.ack = !second;
    data.answers = {
        {T::getRunMode.spezifier, pick("0", "1")},                        // run mode
        {T::getActualVolume.spezifier, pick("12345", "23456")},           // volume delivered
        {T::getTimeActual.spezifier, pick("00012345", "00023456")},       // time elapsed
        {T::getVolume.spezifier, pick("12500", "25000")},                 // target volume
        {T::getFlowRate.spezifier, pick("5000", "7500")},                 // target flow rate
        {T::getDispenseTime.spezifier, pick("000130", "000245")},         // dispense time
        {T::getDispenseVolumeBreakTime.spezifier, pick("65", "130")},     // pause between cycles
        {T::getDispenseVolumeNumber.spezifier, pick("5", "1000")},        // cycles
        {T::getAnalogInput.spezifier, pick("1", "2")},                    // analog input
        {T::getDigitalIn1.spezifier, pick("1", "6")},                     // digital input 1
        {T::getDigitalIn2.spezifier, pick("8", "9")},                     // digital input 2
        {T::getDigitalOut.spezifier, pick("1", "2")},                     // digital output
        {T::getLanguage.spezifier, pick("1", "2")},                       // language
        {T::getCustCalPercent.spezifier, pick("9000", "11000")},          // calibration percentage
        {T::getAutostart.spezifier, pick("0", "1")},                      // autostart
        {T::getPumpProfileCharactristic.spezifier, pick("1", "2")},       // fluid type
        {T::getDisplayContrast.spezifier, pick("30", "60")},              // contrast
        {T::getModelVersion.spezifier, pick("0010201015", "0011001023")}, // model and firmware
        {T::getProtocolAnswer.spezifier, pick("1", "0")},                 // protocol answer
        {T::getPumpAddress.spezifier, pick("3", "4")},                    // pump address
        {T::getFactoryMode.spezifier, pick("0", "1")},                    // factory mode
        {T::getPumpModel.spezifier, pick("1", "2")},                      // pump model
        {T::getFactoryPumpStrokeVolume.spezifier, pick("202", "305")},    // stroke volume
    };
    for (const char page : {'1', '2', '3', '4', '6'})
        data.answers.push_back({T::getPumpStatus.spezifier, pick("255 ", "000 ") + page});
    return data;
}

// The window composed as the program composes it, without a pump on the line.
struct Composition
{
    GUI::PanelSession session;
    Communication& communication = session.link();
    BusinessLogic::LoggingCommandStack& stack = session.stack();
    std::unique_ptr<mainForm> window;

    Composition()
    {
        window = openPanelWindow(session, qApp, ProgramOptions());
        // Only the benchmark drives the display and the queue.
        window->form().checkboNoDataUpdate->setChecked(true);
        window->show();
        window->toggleAdvancedScreen();
    }
    ~Composition() { window->hide(); }

    void feed(const TickData& data)
    {
        for (const Answer& answer : data.answers)
            window->feedAnswer(answer);
        communication.ackReceived = data.ack;
        communication.nakReceived = !data.ack;
        communication.noAnswer = false;
    }
};

struct Samples
{
    std::vector<double> tick;
    std::vector<double> deferred; // layout and painting the tick left for the event loop
    std::vector<double> before;   // what ran before the tick (a volume reading recorded)
};

// Times the display ticks; beforeTick, when given, runs at the start of each tick and is timed
// apart.
Samples measure(Composition& composition, int ticks, bool changing,
                const std::function<void(int)>& beforeTick = {})
{
    Samples samples;
    for (int i = -WarmUpTicks; i < ticks; ++i) {
        composition.feed(tickData(changing && (i % 2 != 0)));
        const qint64 before = Bench::nowUs();
        if (beforeTick)
            beforeTick(i);
        const qint64 start = Bench::nowUs();
        composition.window->triggerUpdateValues();
        const qint64 ticked = Bench::nowUs();
        // Values shown are sent back by two check boxes; no pump is there to take them.
        composition.stack.clear();
        QCoreApplication::processEvents();
        const qint64 settled = Bench::nowUs();
        if (i >= 0) {
            samples.before.push_back(double(start - before) / 1000.0);
            samples.tick.push_back(double(ticked - start) / 1000.0);
            samples.deferred.push_back(double(settled - ticked) / 1000.0);
        }
    }
    return samples;
}

// The pump's reading of the volume delivered, in thousandths of a millilitre.
Answer volumeReading(int thousandths)
{
    return {BusinessLogic::CommandTable::getActualVolume.spezifier,
            QByteArray::number(thousandths)};
}

// A run recorded for an hour (a reading every 500 ms on the recorder's clock) with the Run tab
// in front; then every tick records one more volume reading before the display update.
Samples measureRun(Composition& composition, int ticks)
{
    QTabWidget* tabs = composition.window->form().TabsExtendedSettings;
    tabs->setCurrentWidget(tabs->findChild<QWidget*>(QStringLiteral("TabRun")));
    GUI::RunRecorder& recorder = composition.window->runPanel().recorder();
    qint64 pumpClockMs = 0;
    recorder.setClock([&pumpClockMs] { return pumpClockMs += PollIntervalMs; });
    recorder.takeReading({BusinessLogic::CommandTable::getPumpStatus.spezifier, "001 1"}, true);
    for (int i = 0; i < HourOfReadings; ++i)
        recorder.takeReading(volumeReading(i * 5), true);
    QCoreApplication::processEvents();
    return measure(composition, ticks, true, [&recorder](int i) {
        recorder.takeReading(volumeReading((HourOfReadings + WarmUpTicks + i) * 5), true);
    });
}

// "median …, p95 … (n=…)" of a set of times.
QString summaryText(const std::vector<double>& times)
{
    const Bench::Summary summary = Bench::summarise(times);
    return QStringLiteral("median %1, p95 %2 (n=%3)")
        .arg(Bench::ms(summary.median, 3), Bench::ms(summary.p95, 3))
        .arg(summary.count);
}

bool medianMet(const std::vector<double>& times)
{
    return Bench::summarise(times).median < TargetMedianMs;
}

QtMessageHandler standardHandler = nullptr;

// The offscreen platform reports every size-hint change of the window; that is no result.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.contains(QLatin1String("propagateSizeHints")))
        standardHandler(type, context, message);
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir settingsHome;
    Bench::prepareWindow(settingsHome);

    standardHandler = qInstallMessageHandler(quietOffscreenNotes);
    Styles::initResources();
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication application(argc, argv);
    const int ticks =
        Bench::intOption(QCoreApplication::arguments(), QStringLiteral("--ticks"), DefaultTicks);

    Composition composition;
    QCoreApplication::processEvents();

    const Samples changing = measure(composition, ticks, true);
    const Samples steady = measure(composition, ticks, false);
    const Samples running = measureRun(composition, ticks);

    Bench::printRow(QStringLiteral("Display tick (triggerUpdateValues), all items changing"),
                    summaryText(changing.tick), QStringLiteral("median < 1 ms"),
                    medianMet(changing.tick));
    Bench::printInfoRow(QStringLiteral("Display tick (triggerUpdateValues), nothing changing"),
                        summaryText(steady.tick));
    Bench::printInfoRow(QStringLiteral("Layout and paint after a changing tick (event loop)"),
                        summaryText(changing.deferred));
    Bench::printRow(
        QStringLiteral("Display tick, Run tab shown with a one-hour run, all items changing"),
        summaryText(running.tick), QStringLiteral("median < 1 ms"), medianMet(running.tick));
    Bench::printInfoRow(
        QStringLiteral("Volume reading recorded: row written and flushed, point drawn"),
        summaryText(running.before));
    Bench::printInfoRow(QStringLiteral("Layout and paint after it, chart included (event loop)"),
                        summaryText(running.deferred));
    return 0;
}
