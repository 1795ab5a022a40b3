#pragma once

#include "pumpmodel.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

namespace Simulator {

// Line faults the simulated pump can be told to show; all off by default.
struct Faults
{
    static constexpr int defaultLateCheckByteMs = 200;
    static constexpr int defaultChunkSize = 3;
    static constexpr int defaultChunkGapMs = 30;

    bool silent = false;          // nothing goes out at all (the commands still act)
    bool nakAll = false;          // every frame for this pump is refused with NAK
    bool badCheckByte = false;    // answer frames carry a wrong check byte
    int lateCheckByteMs = 0;      // > 0: the check byte follows ETX this much later
    int chunkSize = 0;            // > 0: answers go out in chunks of this many bytes ...
    int chunkGapMs = 0;           // ... with this much silence between them
    bool zeroCheckByte = false;   // plain-number answers spelled so that their check byte is 0
    bool cutAtEtx = false;        // answer frames end at ETX: the check byte never comes
    double corruptFraction = 0.0; // share of the sent bytes that are changed on the way
    QByteArray refusedCode;       // frames whose body starts with this are refused with NAK
    QByteArray ignoredCode;       // frames whose body starts with this get no answer at all
};

// A run of bytes that goes out after a silence following the previous run.
struct Segment
{
    int gapBeforeMs = 0;
    QByteArray bytes;
};

// Turns a reply into the bytes and silences the pump puts on the line, faults applied.
class AnswerShaper
{
public:
    explicit AnswerShaper(quint32 seed = 1);
    void reseed(quint32 seed) { random.seed(seed); }

    // body: the command body the reply answers; garbageCount: noise bytes to send first.
    QList<Segment> shape(const QByteArray& body, const Reply& reply, const Faults& faults,
                         int garbageCount = 0);

    // Noise: NUL, STX, ETX, ACK, NAK first, then random bytes.
    QByteArray garbage(int count);

    // The same number, padded with a leading "0" and trailing blanks (tab, vertical tab, form
    // feed, carriage return) so that its answer frame has the check byte 0. A reader that skips
    // white space around a number reads the same value.
    static QByteArray zeroCheckSpelling(const QByteArray& digits);
    // Whether the answer to this command body is a plain number (not a fixed-position text).
    static bool isPlainNumberAnswer(const QByteArray& body, const QByteArray& data);

private:
    QByteArray corrupt(QByteArray bytes, double fraction);

    QRandomGenerator random;
};

} // namespace Simulator
