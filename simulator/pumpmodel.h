#pragma once

#include <QByteArray>
#include <QHash>
#include <QtGlobal>

#include <array>
#include <optional>

namespace Simulator {

// What the pump sends back for one command: nothing, a single ACK or NAK, or an answer frame's data.
struct Reply
{
    enum class Kind { None, Ack, Nak, Data };

    Kind kind = Kind::None;
    QByteArray data; // only for Kind::Data: the text between STX and ETX

    static Reply ack() { return {Kind::Ack, {}}; }
    static Reply nak() { return {Kind::Nak, {}}; }
    static Reply answer(const QByteArray& text) { return {Kind::Data, text}; }
};

// The simulated pump itself: its settings, status words and dosing run, without any I/O.
// Time is passed in by the caller in milliseconds, so the run can be driven by any clock.
class PumpModel
{
public:
    enum class Phase { Idle, Running, Paused, CyclePause, Priming };

    static constexpr int firmwareVersion = 1023; // shown by the panel as V1.23
    static constexpr qint64 endlessCycles = 1000;

    explicit PumpModel(int modelCode = 110, int address = 0);

    // Reacts to one command body (the text between the address digits and ETX) received at nowMs.
    Reply handle(const QByteArray& body, qint64 nowMs);

    // Lets the run progress up to nowMs; earlier times than the last one are ignored.
    void advanceTo(qint64 nowMs);

    // Direct access by code for tests and the control interface, without the range checks of
    // the line: every setting code ("DV", "PM!", ...), "TV" (thousandths), "TT" (hhmmsscc),
    // "SS0".."SS6" (the word's own bits; word 6 holds the error bits), "SV" (model code),
    // "AD"/"SI" (address) and "SP". setValue returns false for a code it does not know.
    bool setValue(const QByteArray& code, qint64 value);
    std::optional<qint64> value(const QByteArray& code) const;

    int address() const;
    bool protocolAnswer() const;
    int modelCode() const { return model; }
    // What the pump really delivers of what it meters, before its calibration % scales it
    // (0.97: 97 %); a real pump's is what a calibration finds out.
    void setTrueFactor(double factor) { trueFactor = factor; }
    // The volume that has really left the pump since it was made, in ml: what it metered,
    // scaled by its calibration % and its true factor.
    double outflowMl() const;
    qint64 maxFlowRate() const;
    int statusWord(int number) const;
    Phase phase() const { return runPhase; }
    int cycle() const { return cycleNumber; }

    quint8 errorBits() const { return quint8(storedBits[6]); }
    void raiseErrorBits(quint8 bits);
    void clearErrorBits(quint8 bits);
    bool masterStop() const { return masterStopActive; }
    void setMasterStop(bool active);

    // Elapsed time as the pump writes it: hhmmsscc, at least eight digits.
    static QByteArray formatTime(qint64 milliseconds);
    // Milliseconds of a time written as hhmmsscc.
    static qint64 parseTime(qint64 hhmmsscc);

private:
    struct Setting;
    static const Setting* findSetting(const QByteArray& code);

    Reply handleRead(const QByteArray& code) const;
    Reply handleWrite(const QByteArray& body);
    Reply handleKey(int key);
    bool accepts(const Setting& setting, qint64 value) const;
    void store(const QByteArray& code, qint64 value);
    void restoreDefaults();

    void startRun();
    void beginCycle();
    void finishCycle();
    void endRun(bool resetElapsed);
    qint64 millisecondsToCycleEnd() const;
    bool cycleTargetReached() const;
    bool runInProgress() const;
    qint64 cyclesWanted() const;

    QHash<QByteArray, qint64> settings;
    int model = 110;
    std::array<int, 7> storedBits{};
    bool masterStopActive = false;

    Phase runPhase = Phase::Idle;
    Phase phaseBeforePause = Phase::Idle;
    qint64 lastAdvanceMs = 0;
    qint64 runElapsedMs = 0;
    qint64 pauseLeftMs = 0;
    int cycleNumber = 0;
    // Volumes in thousandths of a millilitre times milliseconds per minute, so that the flow
    // rate (thousandths per minute) times the elapsed milliseconds adds up without rounding.
    qint64 cycleVolumeScaled = 0;
    qint64 totalVolumeScaled = 0;
    double trueFactor = 1.0;
    double outflowScaled = 0; // what really left it, never reset
};

} // namespace Simulator
