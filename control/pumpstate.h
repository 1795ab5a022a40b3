#pragma once

#include "pumpvalues.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <array>
#include <optional>

struct Answer;
class Communication;

namespace BusinessLogic {
class CommandStack;
}

namespace Control {

// What the pump last told about itself, from the answers to whatever asked (the panel's
// polling, a script), in the words of `dosedeskctl --json status` plus whether it runs and how
// the line stands. Nothing is asked here: it only listens.
class PumpState : public QObject
{
    Q_OBJECT

public:
    // Readings that go unanswered this long make the pump "not answering".
    static constexpr int SilenceMs = 3000;
    static inline const QString Online = QStringLiteral("online");
    static inline const QString NotAnswering = QStringLiteral("not answering");
    static inline const QString LineLost = QStringLiteral("line lost");
    static inline const QString Connecting = QStringLiteral("connecting");
    // Answers that cannot be read, again and again, from a pump that answers otherwise: two
    // pumps set to one address answer at once and garble each other.
    static inline const QString Conflict = QStringLiteral("address conflict?");
    // Of the last AnswersWeighed answers, this many garbled make a conflict; one is noise.
    static constexpr int AnswersWeighed = 16;
    static constexpr int GarbledForConflict = 2;

    explicit PumpState(QObject* parent = nullptr);

    void follow(BusinessLogic::CommandStack* stack, Communication* communication);
    // Follows the pump at this address of the bus, whichever pump the line is set to; without
    // one, the pump the line is set to.
    void setAddress(std::optional<int> pumpAddress) { address = pumpAddress; }
    void take(const Answer& answer);
    void noteLineLost();

    // mode, flow_ml_min, volume_ml, time_s, cycles, break_s, delivered_ml, elapsed_s, flags,
    // running, error, connection; a value the pump has not told yet is left out.
    QJsonObject toJson() const;
    QString connection() const { return link; }
    bool isRunning() const;
    bool hasError() const;
    // stopped, running, paused, or error with the error flags' names.
    QString runState() const;
    Engine::Model model() const { return Engine::modelOf(modelCode); }
    QString modelName() const;
    QString firmware() const { return firmwareText; }

signals:
    // A value, the flags or the connection changed.
    void changed();
    // The model version answer came, or changed.
    void identified();

private:
    void setConnection(const QString& state);
    void takeValue(const Answer& answer, const QString& text);
    void takeIdentity(const QString& text);
    void weighGarbled(bool garbled);
    void noteRunKey(const QByteArray& body);

    static constexpr int StatusPages = 7;
    std::optional<qint32> mode, flow, volume, seconds, cycles, pause, delivered, elapsed;
    std::array<std::optional<qint32>, StatusPages> words;
    int modelCode = 0;
    QString firmwareText;
    QString link = Connecting;
    QElapsedTimer lastAnswer;
    std::optional<int> address;
    // One bit per answer, the latest lowest: set where it could not be read.
    quint32 garbledBits = 0;
    bool pausedByKey = false;
};

} // namespace Control
