#pragma once

#include "command.h"
#include "runend.h"
#include "runrecordfile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <vector>

class Communication;

namespace BusinessLogic {
class CommandStack;
}
#include <functional>
#include <optional>

namespace GUI {

// A point of a run's curve.
struct RunSample
{
    double seconds = 0;           // since the run began
    double millilitres = 0;       // delivered, as the pump reported it
    double ratePerMinute = -1;    // measured from the last readings; negative until measurable
    double targetMillilitres = 0; // what a dispense run aims at; 0 in flow-rate mode
};

// Follows the pump's runs from what it really answered and writes each run into the run
// record: a start, a sample at every volume reading while it runs, pauses, the end, a lost
// line and errors. Answers the pump did not send (the command's default took their place)
// change nothing.
class RunRecorder : public QObject
{
    Q_OBJECT

public:
    static const QStringList Columns;
    static constexpr int DispenseModeVolume = 1;
    static constexpr int DispenseModeTime = 2;
    // The event of the rows taken while a run goes on, one per volume reading.
    static inline const QString SampleEvent = QStringLiteral("sample");

    RunRecorder(const QString& folder, const QString& copyName, QObject* parent = nullptr);

    // Where the panel keeps its runs: the folder every copy and dosedeskctl write to.
    static QString standardFolder();
    // The pump really answered the exchange just finished: a frame with a good check byte, not
    // an acknowledge and not the default a command reports for silence.
    static bool pumpAnswered(const Answer& answer);

    // Follows what the stack runs on the line: every answer, every acknowledged command and the
    // line's loss, whoever sent them.
    // Following another stack ends following the one before.
    void follow(BusinessLogic::CommandStack* stack, Communication* communication);
    // Records the pump at this address whichever pump the line is set to (a pump of the
    // panel's list); without one, the pump the line is set to.
    void setAddressFilter(std::optional<int> address);
    // The rows of runs are written by the list's own recorders, one per pump: this one only
    // tells its events and samples, and writes the notes it is given.
    void setRowsElsewhere(bool elsewhere) { rowsElsewhere = elsewhere; }
    void takeReading(const Answer& answer, bool fromPump);
    void setPumpAddress(int address) { pumpAddress = address; }
    // The address of the pump the rows are about now.
    int address() const { return pumpAddress; }
    // The user asked for a stop or a pause: tells them from the end of a dispense.
    void noteStopRequest() { stopRequested = true; }
    void notePauseRequest() { pauseRequested = true; }
    // A frame body the pump acknowledged, whoever sent it (a click, a script, typed text): the
    // settings it set hold from now on, a run key counts as asked for.
    void noteAcknowledged(const QByteArray& body);
    // The line is gone or the pump silent; it counts as back at the pump's next answer.
    void noteLineLost();
    // A line of its own in the record (a protocol's step), stamped now.
    void noteEvent(const QString& text) { write(text, true); }
    // Put before every event of this recorder: "dry run: " for a protocol tried on the
    // simulated pump.
    void setEventPrefix(const QString& prefix) { eventPrefix = prefix; }

    // Milliseconds on a steady clock; the benchmark lets an hour pass in a moment.
    void setClock(std::function<qint64()> milliseconds) { clock = std::move(milliseconds); }

    QString folder() const { return file.folder(); }
    QString copyName() const { return file.copyName(); }
    // The file today's rows go to.
    QString currentFile() const;
    bool isRunOpen() const { return state != State::Idle; }

signals:
    void runStarted();
    // Every row's event but the samples, as written (with the prefix), also when the file
    // cannot be written.
    void eventNoted(const QString& event);
    void sampleTaken(const GUI::RunSample& sample);
    // The record could not be written; said once per run.
    void recordFailed(const QString& reason);

private:
    enum class State { Idle, Moving, Halted, Paused };
    struct Readings
    {
        std::optional<qint32> runMode, flowRate, targetVolume, targetSeconds, delivered, elapsed,
            cycles, statusWord, errorWord;
        qint32 inputWord = 0;
        qint32 dispenseWord = Engine::MasterStopClearBit; // master stop off until read
        QString model;
    };

    void takeStatus(const QString& text);
    void motionSeen(bool moving);
    void runFlagSeen(int page, bool inProgress);
    void errorWordSeen(qint32 word);
    void volumeSeen();
    bool targetReached() const;
    double targetMillilitres() const;
    void beginRun();
    // Ends the run with a row that says how it ended.
    void endRun();
    // A note is written even where the rows of runs are written elsewhere.
    void write(const QString& event, bool note = false);
    QStringList row(const QString& event, const QDateTime& time) const;

    RunRecordFile file;
    QString eventPrefix;
    Readings now;
    State state = State::Idle;
    int pumpAddress = 0;
    std::optional<int> addressFilter;
    bool rowsElsewhere = false;
    std::vector<QMetaObject::Connection> following;
    bool stopRequested = false;
    bool pauseRequested = false;
    bool lineLost = false;
    bool failed = false;
    // Run flags (pages 3 and 4) read since the motor stopped on its own; bit per page.
    int flagsSeenSinceHalt = 0;
    bool inProgressSinceHalt = false;
    bool volumeSinceHalt = false;
    bool endSeen = false;
    QElapsedTimer steady;
    std::function<qint64()> clock;
    qint64 runStartMs = 0;
    std::deque<RunSample> recent;
};

} // namespace GUI
