#include "runrecorder.h"

#include "commandstack.h"
#include "commandtable.h"
#include "communication.h"
#include "constants.h"
#include "framing.h"
#include "operationitem.h"
#include "runend.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

namespace GUI {

namespace Table = BusinessLogic::CommandTable;

namespace {

using Status = OperationItemStatus;
constexpr int BothFlagPages = 0b11;
// Readings the measured flow rate spans, and the shortest time it is measured over.
constexpr std::size_t RateReadings = 5;
constexpr double ShortestRateSpanS = 0.9;
constexpr double MillisecondsPerSecond = 1000.0;
constexpr double SecondsPerMinute = 60.0;
constexpr int HundredthsPerSecond = 100;

QString thousandths(const std::optional<qint32>& value)
{
    return value ? QString::number(*value / 1000.0, 'f', 3) : QString();
}

QString hundredths(const std::optional<qint32>& value)
{
    return value ? QString::number(*value / 100.0, 'f', 2) : QString();
}

QString whole(const std::optional<qint32>& value)
{
    return value ? QString::number(*value) : QString();
}

QString modeName(const std::optional<qint32>& mode)
{
    if (!mode)
        return {};
    switch (*mode) {
    case 0:
        return QStringLiteral("flow rate");
    case RunRecorder::DispenseModeVolume:
        return QStringLiteral("volume");
    case RunRecorder::DispenseModeTime:
        return QStringLiteral("time");
    default:
        return QString::number(*mode);
    }
}

} // namespace

const QStringList RunRecorder::Columns = {
    QStringLiteral("time"),
    QStringLiteral("pump address"),
    QStringLiteral("pump model"),
    QStringLiteral("event"),
    QStringLiteral("mode"),
    QStringLiteral("flow rate setpoint [ml/min]"),
    QStringLiteral("target volume [ml]"),
    QStringLiteral("target time [s]"),
    QStringLiteral("delivered volume [ml]"),
    QStringLiteral("elapsed time [s]"),
    QStringLiteral("status word"),
    QStringLiteral("error word"),
};

RunRecorder::RunRecorder(const QString& folder, const QString& copyName, QObject* parent)
    : QObject(parent), file(folder, copyName, Columns), clock([this] { return steady.elapsed(); })
{
    steady.start();
}

QString RunRecorder::standardFolder()
{
    // What the panel's application data folder is, for a program of another name too.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(Constants::OrganisationName + u'/' + Constants::ApplicationName
                  + QStringLiteral("/runs"));
}

bool RunRecorder::pumpAnswered(const Answer& answer)
{
    return answer.outcome == Answer::Outcome::Answered && !answer.acknowledged;
}

QString RunRecorder::currentFile() const
{
    return file.pathFor(QDateTime::currentDateTimeUtc().date());
}

void RunRecorder::follow(BusinessLogic::CommandStack* stack, Communication* communication)
{
    for (const QMetaObject::Connection& connection : following)
        disconnect(connection);
    following = {
        connect(stack, &BusinessLogic::CommandStack::sendAnswer, this,
                [this, communication](const Answer& answer) {
                    if (addressFilter ? answer.address != *addressFilter : answer.aside)
                        return;
                    if (!addressFilter)
                        setPumpAddress(communication->address);
                    takeReading(answer, pumpAnswered(answer));
                    if (answer.acknowledged)
                        noteAcknowledged(Protocol::Framing::commandBody(answer.sentFrame));
                }),
        connect(communication, &Communication::lineLost, this, [this] { noteLineLost(); })};
}

void RunRecorder::setAddressFilter(std::optional<int> address)
{
    addressFilter = address;
    if (address)
        pumpAddress = *address;
}

void RunRecorder::takeReading(const Answer& answer, bool fromPump)
{
    if (!fromPump)
        return;
    if (lineLost) {
        lineLost = false;
        if (state != State::Idle)
            write("line back");
    }
    const QString text = QString::fromUtf8(answer.data);
    const auto number = [&text](const BusinessLogic::CommandTraits& reading) {
        return Engine::readingValue(reading.body, text);
    };
    switch (answer.spezifier) {
    case Table::getRunMode.spezifier:
        now.runMode = number(Table::getRunMode);
        break;
    case Table::getFlowRate.spezifier:
        now.flowRate = number(Table::getFlowRate);
        break;
    case Table::getVolume.spezifier:
        now.targetVolume = number(Table::getVolume);
        break;
    case Table::getDispenseTime.spezifier:
        now.targetSeconds = number(Table::getDispenseTime);
        break;
    case Table::getTimeActual.spezifier:
        now.elapsed = number(Table::getTimeActual);
        break;
    case Table::getDispenseVolumeNumber.spezifier:
        now.cycles = number(Table::getDispenseVolumeNumber);
        break;
    case Table::getModelVersion.spezifier:
        now.model = pumpModelName(text);
        break;
    case Table::getPumpStatus.spezifier:
        takeStatus(text);
        break;
    case Table::getActualVolume.spezifier:
        now.delivered = number(Table::getActualVolume);
        volumeSeen();
        break;
    default:
        break;
    }
}

void RunRecorder::noteAcknowledged(const QByteArray& body)
{
    const QByteArray code = body.left(2);
    bool ok = false;
    const qint32 value = body.mid(2).toInt(&ok);
    if (!ok)
        return;
    if (code == "KY" && value == 0)
        stopRequested = true;
    else if (code == "KY" && value == 3)
        pauseRequested = true;
    else if (code == "MS")
        now.runMode = value;
    else if (code == "RV")
        now.flowRate = value;
    else if (code == "DV")
        now.targetVolume = value;
    else if (code == "DT")
        now.targetSeconds =
            Engine::readingValue(Table::getDispenseTime.body, QString::fromLatin1(body.mid(2)));
    else if (code == "DN")
        now.cycles = value;
}

void RunRecorder::noteLineLost()
{
    if (lineLost)
        return;
    lineLost = true;
    if (state != State::Idle)
        write("line lost");
}

void RunRecorder::takeStatus(const QString& text)
{
    const int page = statusPageOf(text);
    const qint32 word = Engine::readingValue(Table::getPumpStatus.body, text);
    const bool bit0 = (word & 1) != 0;
    if (page == Engine::flagBit(Engine::StatusFlag::Input1Active).word)
        now.inputWord = word;
    if (page == Status::DispensePage)
        now.dispenseWord = word;
    if (page == Status::MotionPage) {
        now.statusWord = word;
        motionSeen(bit0);
    } else if (page == Status::RunModePage || page == Status::DispensePage) {
        runFlagSeen(page, bit0);
    } else if (page == Status::ErrorPage) {
        errorWordSeen(word & Status::ErrorBits);
    }
}

void RunRecorder::motionSeen(bool moving)
{
    switch (state) {
    case State::Idle:
        if (moving)
            beginRun();
        break;
    case State::Moving:
        if (moving)
            break;
        if (stopRequested) {
            endRun();
        } else if (pauseRequested) {
            state = State::Paused;
            write("pause");
        } else {
            // Stopped by itself: the end of a dispense, or a pause the run flags will show.
            state = State::Halted;
            flagsSeenSinceHalt = 0;
            inProgressSinceHalt = false;
            volumeSinceHalt = false;
            endSeen = false;
        }
        break;
    case State::Halted:
        if (moving)
            state = State::Moving;
        else if (stopRequested)
            endRun();
        break;
    case State::Paused:
        if (moving) {
            pauseRequested = false;
            state = State::Moving;
            write("resume");
        } else if (stopRequested) {
            endRun();
        }
        break;
    }
}

void RunRecorder::runFlagSeen(int page, bool inProgress)
{
    if (state != State::Halted && state != State::Paused)
        return;
    flagsSeenSinceHalt |= page == Status::RunModePage ? 1 : 2;
    inProgressSinceHalt = inProgressSinceHalt || inProgress;
    if (flagsSeenSinceHalt != BothFlagPages)
        return;
    if (inProgressSinceHalt && state == State::Halted) {
        state = State::Paused;
        write("pause");
    } else if (state == State::Paused && !inProgressSinceHalt) {
        endRun();
    } else if (!inProgressSinceHalt) {
        // The run is over; it ends with the volume read after the motor stopped.
        endSeen = true;
        if (volumeSinceHalt)
            endRun();
    }
    flagsSeenSinceHalt = 0;
    inProgressSinceHalt = false;
}

void RunRecorder::errorWordSeen(qint32 word)
{
    const qint32 before = now.errorWord.value_or(0);
    now.errorWord = word;
    if (state == State::Idle)
        return;
    if ((word & ~before) != 0)
        write("error flag set");
    if ((before & ~word) != 0)
        write("error flag cleared");
}

void RunRecorder::volumeSeen()
{
    if (state != State::Moving && state != State::Halted)
        return;
    RunSample sample;
    sample.seconds = double(clock() - runStartMs) / MillisecondsPerSecond;
    sample.millilitres = *now.delivered / MillisecondsPerSecond;
    sample.targetMillilitres = targetMillilitres();
    recent.push_back(sample);
    if (recent.size() > RateReadings)
        recent.pop_front();
    const RunSample& first = recent.front();
    if (sample.seconds - first.seconds >= ShortestRateSpanS)
        sample.ratePerMinute = (sample.millilitres - first.millilitres)
                               / (sample.seconds - first.seconds) * SecondsPerMinute;
    write(SampleEvent);
    emit sampleTaken(sample);
    if (state != State::Halted)
        return;
    volumeSinceHalt = true;
    if (endSeen || targetReached())
        endRun();
}

double RunRecorder::targetMillilitres() const
{
    const int mode = now.runMode.value_or(0);
    if (mode == DispenseModeVolume)
        return now.targetVolume.value_or(0) / MillisecondsPerSecond;
    if (mode == DispenseModeTime)
        return now.flowRate.value_or(0) / MillisecondsPerSecond * now.targetSeconds.value_or(0)
               / SecondsPerMinute;
    return 0;
}

bool RunRecorder::targetReached() const
{
    // Between the cycles of a repeated dispense the motor stops without the run being over.
    if (now.cycles.value_or(0) > 1 || now.runMode.value_or(0) != DispenseModeVolume)
        return false;
    return now.delivered && now.targetVolume && *now.delivered >= *now.targetVolume;
}

void RunRecorder::beginRun()
{
    state = State::Moving;
    stopRequested = false;
    pauseRequested = false;
    failed = false;
    // The folder may have come back since the last run.
    file.close();
    now.delivered.reset();
    recent.clear();
    runStartMs = clock();
    emit runStarted();
    write("start");
}

void RunRecorder::endRun()
{
    Engine::RunEndFacts facts;
    facts.mode = now.runMode.value_or(0);
    facts.delivered = now.delivered.value_or(0);
    facts.targetVolume = now.targetVolume.value_or(0);
    facts.elapsed = now.elapsed.value_or(0);
    facts.timeLimit = now.targetSeconds.value_or(0) * HundredthsPerSecond;
    facts.inputWord = now.inputWord;
    facts.dispenseWord = now.dispenseWord;
    facts.errorBits = now.errorWord.value_or(0);
    facts.stopAsked = stopRequested;
    write(Engine::runEndText(Engine::judgeRunEnd(facts)));
    state = State::Idle;
    stopRequested = false;
    pauseRequested = false;
}

void RunRecorder::write(const QString& event, bool note)
{
    if (event != SampleEvent)
        emit eventNoted(eventPrefix + event);
    if (failed || (rowsElsewhere && !note))
        return;
    const QDateTime time = QDateTime::currentDateTimeUtc();
    if (!file.append(time, row(eventPrefix + event, time))) {
        failed = true;
        emit recordFailed(file.errorText());
    }
}

QStringList RunRecorder::row(const QString& event, const QDateTime& time) const
{
    return {
        time.toString(Qt::ISODateWithMs), QString::number(pumpAddress), now.model,
        event,                            modeName(now.runMode),        thousandths(now.flowRate),
        thousandths(now.targetVolume),    whole(now.targetSeconds),     thousandths(now.delivered),
        hundredths(now.elapsed),          whole(now.statusWord),        whole(now.errorWord)};
}

} // namespace GUI
