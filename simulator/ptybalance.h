#pragma once

#include "pseudoterminal.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace Simulator {

// A laboratory balance on a pseudo-terminal, speaking the MT-SICS level 0 commands: "SI" (the
// weight now: "S S" when it has settled, "S D" while it moves), "S" (the weight once it has
// settled, "S I" when it does not in time), "Z" (zero once it has settled: "Z A", or "Z I");
// anything else is answered "ES". Lines end with CR LF; weights are in grams with four
// decimals. What lies on it comes from the given source, with a little noise.
class PtyBalance
{
public:
    struct Options
    {
        QString linkPath;           // when set: a symbolic link to the device
        quint32 randomSeed = 1;     // for the noise
        double noiseG = 0.00005;    // the reading wanders by up to this much
        int settleMs = 400;         // still this long counts as settled
        int stableTimeoutMs = 5000; // "S" and "Z" give up after this long
    };

    explicit PtyBalance(std::function<double()> grossGrams, Options options);
    ~PtyBalance();
    PtyBalance(const PtyBalance&) = delete;
    PtyBalance& operator=(const PtyBalance&) = delete;

    // Opens the pseudo-terminal and starts serving; false (see errorString) when that failed.
    bool start();
    void stop();
    QString devicePath() const;
    QString portPath() const; // the link when there is one, else the device
    QString errorString() const;

private:
    void run();
    void sample(qint64 nowUs);
    void handleLine(const QByteArray& line, qint64 nowUs);
    void answerStable(qint64 nowUs);
    QByteArray weight(const char* status);
    void send(const QByteArray& line);

    std::function<double()> grossGrams;
    Options options;
    // Owned by the balance's thread while it runs.
    PseudoTerminal terminal;
    int wakeFd = -1;
    QByteArray input;
    double tareG = 0;
    double lastGrossG = 0;
    qint64 movedUs = 0;
    QByteArray waiting;                     // "S" or "Z", waiting for the weight to settle
    std::optional<qint64> stableDeadlineUs; // until when it waits
    std::mt19937 random;

    mutable std::mutex mutex;
    bool stopping = false;
    QString device;
    QString error;
    std::thread thread;
};

} // namespace Simulator
