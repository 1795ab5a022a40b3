#pragma once

#include "answershaper.h"
#include "pseudoterminal.h"
#include "pumpengine.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace Simulator {

// One received frame and what the pump sent back for it.
struct ExchangeRecord
{
    qint64 timeMs = 0;        // since the pump was started
    QByteArray frame;         // STX .. ETX and the check byte, as received
    QByteArray answer;        // the bytes sent back, faults applied (garbage excluded)
    QString text;             // one readable log line
};

// A simulated pump on a pseudo-terminal, served by its own thread so that it answers even while
// the thread using the port is blocked waiting for it. Further pumps can share the line as on an
// RS-485 bus: each hears every frame and keeps to its own address. Pumps configured at the same
// address all answer the frame at once, and the line carries the collision of their answers:
// the bytewise AND of them, aligned at their start (a driver pulling the line low wins), the
// longer one's rest as it is. The faults below act on the whole line, every pump alike.
class PtyPump
{
public:
    // One more pump on the line.
    struct BusPump
    {
        int address = 0;
        int modelCode = 110;
    };

    struct Options
    {
        // The first pump, the one the methods without an address act on.
        int address = 0;
        int modelCode = 110;        // 110 or 102
        QList<BusPump> furtherPumps;
        bool pacing = true;         // answer bytes paced at 9600 baud 8N1
        int turnaroundMs = 2;       // silence between a received frame and its answer
        QString linkPath;           // when set: a symbolic link to the device, kept up to date
        quint32 randomSeed = 1;     // for corruption and garbage
        double trueFactor = 1.0;    // what it really delivers of what it meters
        // How fast the pump's own clock runs against the real one: at 60 an hour's run takes a
        // minute. The line keeps real time.
        double clockSpeed = 1.0;

        // The first pump and the further ones, in order.
        QList<BusPump> pumps() const { return QList<BusPump>{{address, modelCode}} + furtherPumps; }
    };

    static constexpr int byteTimeUs = 1042; // 10 bits at 9600 baud

    PtyPump();
    explicit PtyPump(const Options& options);
    ~PtyPump();
    PtyPump(const PtyPump&) = delete;
    PtyPump& operator=(const PtyPump&) = delete;

    // Opens the pseudo-terminal and starts serving; false (see errorString) when that failed.
    bool start();
    void stop();
    bool isRunning() const;
    QString errorString() const;

    QString devicePath() const;   // the slave device, e.g. /dev/pts/3; empty while unplugged
    QString linkPath() const;     // the symbolic link, empty when none was asked for
    QString portPath() const;     // the link when there is one, else the device

    // Unplug closes the pseudo-terminal (a user of the port sees a line error) and removes the
    // link; replug opens a new one and points the link at it.
    bool unplug();
    bool replug();
    bool isPlugged() const;
    // Pulls the plug or puts it back, in turn: the first change after firstMs, then one every
    // intervalMs, count changes in all. Runs on the pump's thread, on time whatever the caller
    // is busy with; every replug makes a new device node, which the link path then names.
    void schedulePlugChanges(int count, int firstMs, int intervalMs);

    void setPacing(bool on);
    void setTurnaroundMs(int milliseconds);

    Faults faults() const;
    void setFaults(const Faults& faults);
    void modifyFaults(const std::function<void(Faults&)>& change);
    // Noise bytes: written at once, or sent once in front of the next answer.
    void injectGarbage(int count, bool beforeNextAnswer = false);

    // The model of the first pump, thread-safe; values by code as PumpModel::setValue / value
    // take them.
    bool setValue(const QByteArray& code, qint64 value);
    std::optional<qint64> value(const QByteArray& code) const;
    // The answer data the pump gives to a reading command body such as "?DV" (no line traffic).
    QByteArray query(const QByteArray& body);
    void raiseErrorBits(quint8 bits);
    void clearErrorBits(quint8 bits);
    void setErrorBits(quint8 bits);
    void setMasterStop(bool active);
    int address() const;
    // The volume that has really left the pump, in ml (see PumpModel::outflowMl).
    double outflowMl() const;

    // The same for the pump at an address (as it holds it now, switched on or off). A change
    // goes to every pump at that address, as a frame for it would; a reading comes from the
    // first of them. False, nothing or 0 when no pump is at the address.
    bool setValue(int address, const QByteArray& code, qint64 value);
    std::optional<qint64> value(int address, const QByteArray& code) const;
    QByteArray query(int address, const QByteArray& body);
    bool raiseErrorBits(int address, quint8 bits);
    bool clearErrorBits(int address, quint8 bits);
    bool setErrorBits(int address, quint8 bits);
    bool setMasterStop(int address, bool active);
    double outflowMl(int address) const;
    // The addresses of all pumps on the line, the first pump's first, in the order configured.
    QList<int> addresses() const;

    // Power of the pumps at an address; false when there is none. A pump switched off hears
    // nothing and never answers; the line is cut into frames for all pumps alike, so a frame
    // under way when it is switched is heard whole or not at all. Switched on again it carries
    // on with the state it had: settings, volumes, error bits and a run in progress are kept, as
    // if only its line interface had been away.
    bool setPowered(int address, bool on);
    bool isPowered(int address) const; // whether a pump at the address is switched on

    // The log of received frames (the latest 100000) and the number received since the last
    // clearLog.
    QList<QByteArray> receivedFrames() const;
    QList<ExchangeRecord> exchanges() const;
    int frameCount() const;
    // Time since the last frame came in (since the start when none has), by the pump's clock.
    qint64 msSinceLastFrame() const;
    // Time since a byte of an answer last went out later than it was due (the pump's thread
    // held off by a busy machine): more than the link waits for an answer. None when never.
    std::optional<qint64> msSinceLateAnswer() const;
    // Waits until frameCount() reaches count; false on time-out.
    bool waitForFrames(int count, int timeoutMs) const;
    void clearLog();
    // Called on the pump's thread with each log line.
    void setLogSink(std::function<void(const QString&)> sink);

private:
    struct Output
    {
        qint64 dueUs;
        QByteArray bytes;
    };

    void run();
    bool openTerminal();
    void closeTerminal();
    void runOnPumpThread(const std::function<void()>& task);
    void wake();
    qint64 nowUs() const;
    qint64 modelMs() const; // the pump's own clock
    void handleInput(const QByteArray& bytes);
    void schedule(const QList<Segment>& segments, qint64 startUs);
    void writeDueOutput();
    void changePlugsDue();
    QString describe(const ReceivedFrame& received, const QByteArray& answer, int answering) const;
    // Uses the first pump's model, or with an address every model at that address in turn
    // (the result is the first one's); missing when there is none.
    template<typename Result>
    Result withModel(const std::function<Result(PumpModel&)>& use) const;
    template <typename Result>
    Result withModels(int address, const std::function<Result(PumpModel&)>& use,
                      Result missing = Result()) const;

    Options options;
    qint64 startUs = 0;

    // Owned by the pump's thread once it runs (touched elsewhere only through runOnPumpThread).
    PseudoTerminal terminal;
    int wakeFd = -1;
    std::deque<Output> output;
    qint64 lineFreeUs = 0;
    qint64 hangupUntilUs = 0;
    std::deque<qint64> plugChangesUs;

    std::thread thread;
    bool stopping = false;
    std::deque<std::function<void()>> tasks;

    // Guards everything below and the task queue above.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    struct Station
    {
        std::unique_ptr<PumpEngine> engine;
        bool powered = true;
    };
    std::vector<Station> stations; // the first pump first; their number never changes
    QByteArray pending;            // received bytes of a frame not yet complete
    AnswerShaper shaper;
    Faults currentFaults;
    int garbageBeforeAnswer = 0;
    QString device;
    std::optional<qint64> lateAnswerUs; // when an answer's byte last went out late
    QString error;
    QList<ExchangeRecord> records;
    int framesTotal = 0;
    std::function<void(const QString&)> logSink;
};

} // namespace Simulator
