#pragma once

#include "pumpvalues.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Dosing protocols: a sequence of steps written once in a YAML file, checked before anything
// moves and run through the same verbs as a script.
namespace Control {

// The version of the file format this program reads ("dosedesk-protocol: 1").
inline constexpr int ProtocolVersion = 1;

// One step as it runs (a repeated step once for each time), and the verbs it runs. The verbs
// "ask" and "note" are the runner's own: a person is asked, a line is written.
struct ProtocolStep
{
    int line = 0;
    QString text; // the step in words: "dose 5 ml at 20 ml/min"
    std::vector<QJsonObject> requests;
    double seconds = 0; // what the step takes, as far as it can be known beforehand
};

struct Protocol
{
    QString name;
    std::optional<int> pump; // the address every step goes to
    std::vector<ProtocolStep> steps;
    QStringList errors;     // "FILE:LINE:COLUMN: what is wrong", in the order of the file
    double volumeMl = 0;    // dosed and waited for, priming not counted
    double seconds = 0;     // what the steps take that can be known beforehand
    bool openEnded = false; // a step waits for a person or for a run whose end is not known

    bool isValid() const { return errors.isEmpty(); }
    // What the check tells: the steps, the volume and the expected duration.
    QString summary() const;
};

// The verb a request object names.
QString verbOf(const QJsonObject& request);
// What stops a pump a failed script or protocol set going: a stop, then a wait until its motor
// is seen standing (at most StopCheckSeconds), for the pump at the address when one is given.
inline constexpr int StopCheckSeconds = 5;
QJsonObject stopRequest(std::optional<int> pump = std::nullopt);
QJsonObject standingRequest(std::optional<int> pump = std::nullopt);

// The verbs that set the motor going (a calibration that doses what it weighs among them): a
// pump a failed script or protocol started this way is stopped again.
bool startsPump(const QJsonObject& request);
// A request for a pump whose clock runs `speed` times as fast: a wait in seconds is shortened.
QJsonObject fasterBy(QJsonObject request, double speed);

// Where a protocol stands, in words: "step 3 of 9 (line 8: dose 5 ml at 20 ml/min)".
QString stepPlace(const Protocol& protocol, int index);
// A line of the run record made from the text: on one line, not longer than a note may be.
QString recordLine(const QString& text);
// How many characters a note in the run record may have.
inline constexpr int LongestNote = 200;

// Reads and checks the file: every key, every type, every value against the pump's rules for the
// model at hand (the words of the window and of the verbs). Nothing is sent.
Protocol readProtocol(const QString& path, Engine::Model model = Engine::Model::Unknown);

} // namespace Control
