#pragma once

#include "calibration.h"
#include "pumplink.h"

#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QWizard>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace GUI {
class PanelSession;
}
namespace Control {
class Balance;
class PumpSession;
class WeighedDelivery;
enum class WeighedDeliveryFailure;
} // namespace Control

// What the wizard's pages fill in and read: the plan of the calibration and what came of it.
struct CalibrationPlan
{
    QString targetText;  // ml, as typed
    double targetMl = 0; // as the pump takes it
    QString flowText;    // ml/min as typed; empty: the pump's present flow rate
    int deliveries = Engine::DefaultDeliveries;
    bool water = true;
    double waterCelsius = Engine::DefaultWaterCelsius;
    double density = 1.0; // g/ml, when not water
    std::vector<std::optional<double>> massesG;
    Engine::CalibrationResult result;
    bool write = false;

    // Millilitres per gram weighed of the liquid.
    double mlPerGram() const
    {
        return water ? Engine::waterMlPerGram(waterCelsius) : Engine::mlPerGram(density);
    }
};

// The gravimetric calibration of the panel's pump, step by step: prime, plan, deliver and weigh
// (on a balance or by hand), the result, the new percentage written only when the user says so,
// and a check run. It runs its commands through the panel's queue as a script does, judged by
// the same rules, and keeps every calibration in the history.
class CalibrationWizard : public QWizard
{
    Q_OBJECT

public:
    enum PageId { PrimePage, PlanPage, DeliveryPage, ResultPage, RecordPage, CheckPage };

    CalibrationWizard(GUI::PanelSession& session, QWidget* parent = nullptr);
    ~CalibrationWizard() override;

    CalibrationPlan& plan() { return calibration; }
    GUI::PanelSession& session() { return panel; }
    // Runs one verb's request object; then gets the result object, later. Only one at a time.
    void runRequest(const QJsonObject& request, std::function<void(const QJsonObject&)> then);
    // The plan's dose of the target, as a request object.
    QJsonObject doseRequest() const;
    // The liquid as the calibrate verb takes it.
    void addLiquid(QJsonObject& request) const;
    // Doses the target and weighs it on the balance when one is open; then gets the mass (none
    // when weighed by hand or failed), and why it failed. A balance that failed is not asked
    // again: the user weighs by hand from then on.
    using Delivered = std::function<void(const std::optional<double>& grams, const QString& error,
                                         Control::WeighedDeliveryFailure failure)>;
    void deliver(Delivered then);
    // Opens the balance at the port (closes it with an empty path); false with the reason.
    bool useBalance(const QString& path, qint32 baud, QString* error);
    bool hasBalance() const { return balance != nullptr; }
    // The name the history gives the pump the panel talks to.
    QString pumpName() const;

    // The wizard has set the pump going (primed, or a delivery under way) and not seen it stop.
    void noteRunning(bool running) { pumpMoving = running; }

signals:
    void helpPageWanted(const QString& page);
    // Cancelled while the pump it set going may still run: the window stops it, ahead of
    // everything queued.
    void stopWanted();

private:
    void abortAll();

    GUI::PanelSession& panel;
    Control::PumpLink link;
    CalibrationPlan calibration;
    std::unique_ptr<Control::Balance> balance;
    Control::WeighedDelivery* delivery = nullptr;
    QPointer<Control::PumpSession> running; // the request's session while one runs
    bool pumpMoving = false;
};
