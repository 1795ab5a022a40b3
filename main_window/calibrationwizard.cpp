#include "calibrationwizard.h"

#include "balance.h"
#include "calibrationhistory.h"
#include "commandtable.h"
#include "panelsession.h"
#include "pumpsession.h"
#include "pumpvalues.h"
#include "readings.h"
#include "request.h"
#include "valuelimits.h"
#include "weigheddelivery.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWizardPage>

#include <cmath>

namespace {

constexpr int HistoryShown = 5;
constexpr double DefaultTolerancePercent = 1.0;
using Failure = Control::WeighedDeliveryFailure;

QLabel* wrappedLabel(const QString& text, const QString& name = {})
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setObjectName(name);
    return label;
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// Step 1: the lines full of liquid and free of air before anything is weighed.
class PrimePage : public QWizardPage
{
public:
    explicit PrimePage(CalibrationWizard* wizard) : wizard(wizard)
    {
        setTitle(tr("Prime and check the lines"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(wrappedLabel(
            tr("Put the outlet into a waste vessel and prime until the liquid runs without "
               "bubbles, then stop. Check that the tubing holds no air, that the fittings are "
               "tight and that no drop hangs at the outlet.")));
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(button(tr("Prime"), QStringLiteral("primeButton"), "prime"));
        buttons->addWidget(button(tr("Stop"), QStringLiteral("stopButton"), "stop"));
        buttons->addStretch();
        layout->addLayout(buttons);
        layout->addWidget(status);
        layout->addStretch();
        status->setObjectName(QStringLiteral("primeStatus"));
    }

private:
    QPushButton* button(const QString& text, const QString& name, const char* verb)
    {
        auto* push = new QPushButton(text);
        push->setObjectName(name);
        connect(push, &QPushButton::clicked, this, [this, verb] {
            status->setText(tr("Sending…"));
            const bool priming = QLatin1String(verb) == QLatin1String("prime");
            if (priming)
                wizard->noteRunning(true);
            wizard->runRequest({{QStringLiteral("verb"), QLatin1String(verb)}},
                               [this, verb, priming](const QJsonObject& result) {
                                   const bool ok = result.value(QLatin1String("ok")).toBool();
                                   if (ok && !priming)
                                       wizard->noteRunning(false);
                                   status->setText(
                                       ok ? (QLatin1String(verb) == QLatin1String("prime")
                                                 ? tr("Priming: stop once the liquid runs clear.")
                                                 : tr("Stopped."))
                                          : result.value(QLatin1String("error")).toString());
                               });
        });
        return push;
    }

    CalibrationWizard* wizard;
    QLabel* status = wrappedLabel({});
};

// Step 2: what is delivered, how often, of which liquid, and how it is weighed.
class PlanPage : public QWizardPage
{
public:
    explicit PlanPage(CalibrationWizard* wizard) : wizard(wizard)
    {
        setTitle(tr("Plan the deliveries"));
        auto* form = new QFormLayout(this);
        form->addRow(tr("Target volume (ml)"), named(target, "targetVolume"));
        form->addRow(tr("Flow rate (ml/min)"), named(flow, "flowRate"));
        flow->setPlaceholderText(tr("as set on the pump"));
        target->setText(QStringLiteral("1"));
        deliveries->setRange(Engine::FewestDeliveries, Engine::MostDeliveries);
        deliveries->setValue(Engine::DefaultDeliveries);
        form->addRow(tr("Deliveries"), named(deliveries, "deliveries"));
        celsius->setRange(Engine::ColdestWaterCelsius, Engine::WarmestWaterCelsius);
        celsius->setValue(Engine::DefaultWaterCelsius);
        celsius->setSuffix(QStringLiteral(" °C"));
        density->setRange(Engine::LightestLiquid, Engine::HeaviestLiquid);
        density->setDecimals(4);
        density->setValue(1.0);
        density->setSuffix(QStringLiteral(" g/ml"));
        water->setChecked(true);
        form->addRow(named(water, "waterButton"), named(celsius, "waterTemperature"));
        form->addRow(named(other, "densityButton"), named(density, "density"));
        form->addRow(named(weighOnBalance, "balanceBox"), balanceRow());
        form->addRow(named(problem, "planProblem"));
        form->addRow(tr("Last calibrations of this pump"), named(history, "history"));
        history->setReadOnly(true);
        connect(weighOnBalance, &QCheckBox::stateChanged, this, [this] { enableBalance(); });
        enableBalance();
    }

    void initializePage() override
    {
        port->clear();
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            port->addItem(info.systemLocation());
        showHistory();
    }

    bool validatePage() override
    {
        CalibrationPlan& plan = wizard->plan();
        const Engine::Model model = wizard->session().pumpModel();
        const Engine::Verdict volume =
            Engine::judge(Engine::Quantity::DispenseVolume, target->text(), model);
        const Engine::Verdict rate =
            flow->text().trimmed().isEmpty()
                ? Engine::Verdict{0, {}}
                : Engine::judge(Engine::Quantity::FlowRate, flow->text(), model);
        QString why = !volume.value ? tr("Target volume: ") + volume.reason
                      : !rate.value ? tr("Flow rate: ") + rate.reason
                                    : QString();
        if (why.isEmpty())
            wizard->useBalance(weighOnBalance->isChecked() ? port->currentText() : QString(),
                               baud->currentText().toInt(), &why);
        problem->setText(why);
        if (!why.isEmpty())
            return false;
        plan.targetText = target->text();
        plan.targetMl = *volume.value / ValueLimits::ThousandthsPerUnit;
        plan.flowText = flow->text().trimmed();
        plan.deliveries = deliveries->value();
        plan.water = water->isChecked();
        plan.waterCelsius = celsius->value();
        plan.density = density->value();
        plan.massesG.assign(size_t(plan.deliveries), std::nullopt);
        return true;
    }

private:
    template <typename Widget> Widget* named(Widget* widget, const char* name)
    {
        widget->setObjectName(QLatin1String(name));
        return widget;
    }

    QWidget* balanceRow()
    {
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        port->setEditable(true);
        layout->addWidget(named(port, "balancePort"), 1);
        for (const qint32 rate : Control::Balance::BaudRates)
            baud->addItem(QString::number(rate));
        baud->setCurrentText(QString::number(Control::Balance::DefaultBaud));
        layout->addWidget(named(baud, "balanceBaud"));
        return row;
    }

    void enableBalance()
    {
        port->setEnabled(weighOnBalance->isChecked());
        baud->setEnabled(weighOnBalance->isChecked());
    }

    void showHistory()
    {
        QStringList lines;
        for (const auto& line : GUI::CalibrationHistory().recent(wizard->pumpName(), HistoryShown))
            lines << tr("%1  target %2 ml, mean %3 ml, %4 → %5: %6")
                         .arg(line.value(QStringLiteral("date_utc")),
                              line.value(QStringLiteral("target_ml")),
                              line.value(QStringLiteral("mean_ml")),
                              line.value(QStringLiteral("calibration_old")),
                              line.value(QStringLiteral("calibration_new")),
                              line.value(QStringLiteral("outcome")));
        history->setPlainText(lines.isEmpty() ? tr("none yet") : lines.join(u'\n'));
    }

    CalibrationWizard* wizard;
    QLineEdit* target = new QLineEdit;
    QLineEdit* flow = new QLineEdit;
    QSpinBox* deliveries = new QSpinBox;
    QRadioButton* water = new QRadioButton(tr("Water at"));
    QDoubleSpinBox* celsius = new QDoubleSpinBox;
    QRadioButton* other = new QRadioButton(tr("Other liquid, density"));
    QDoubleSpinBox* density = new QDoubleSpinBox;
    QCheckBox* weighOnBalance = new QCheckBox(tr("Weigh on a balance at"));
    QComboBox* port = new QComboBox;
    QComboBox* baud = new QComboBox;
    QLabel* problem = wrappedLabel({});
    QPlainTextEdit* history = new QPlainTextEdit;
};

// Step 3: each delivery dosed and weighed; masses weighed by hand are typed into the table.
class DeliveryPage : public QWizardPage
{
public:
    explicit DeliveryPage(CalibrationWizard* wizard) : wizard(wizard)
    {
        setTitle(tr("Deliver and weigh"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(wrappedLabel(
            tr("Place the vessel on the balance and deliver. Each delivery doses the target "
               "volume in volume mode; without a balance, weigh it and type its mass in "
               "grams.")));
        table->setObjectName(QStringLiteral("massTable"));
        table->setColumnCount(2);
        table->setHorizontalHeaderLabels({tr("Mass (g)"), tr("Volume (ml)")});
        table->horizontalHeader()->setStretchLastSection(true);
        layout->addWidget(table);
        deliverButton->setObjectName(QStringLiteral("deliverButton"));
        layout->addWidget(deliverButton);
        status->setObjectName(QStringLiteral("deliveryStatus"));
        layout->addWidget(status);
        connect(deliverButton, &QPushButton::clicked, this, &DeliveryPage::deliverNext);
        connect(table, &QTableWidget::itemChanged, this, &DeliveryPage::massTyped);
    }

    void initializePage() override
    {
        const QSignalBlocker quiet(table);
        table->setRowCount(wizard->plan().deliveries);
        for (int row = 0; row < table->rowCount(); ++row) {
            table->setItem(row, 0, new QTableWidgetItem);
            auto* volume = new QTableWidgetItem;
            volume->setFlags(Qt::ItemIsEnabled);
            table->setItem(row, 1, volume);
        }
        status->clear();
        deliverButton->setEnabled(true);
    }

    bool isComplete() const override
    {
        const auto& masses = wizard->plan().massesG;
        return busy == false
               && std::all_of(masses.begin(), masses.end(), [](const auto& m) { return m; });
    }

private:
    int nextRow() const
    {
        const auto& masses = wizard->plan().massesG;
        return int(std::find(masses.begin(), masses.end(), std::nullopt) - masses.begin());
    }

    void deliverNext()
    {
        const int row = nextRow();
        if (row >= table->rowCount())
            return;
        setBusy(true);
        status->setText(tr("Delivery %1 of %2…").arg(row + 1).arg(table->rowCount()));
        wizard->deliver([this, row](const std::optional<double>& grams, const QString& error,
                                    Failure failure) {
            setBusy(false);
            if (grams)
                return setMass(row, *grams);
            if (failure == Failure::Dosing)
                return status->setText(
                    tr("Delivery %1 discarded: %2. Empty the vessel and deliver again.")
                        .arg(row + 1)
                        .arg(error));
            if (failure == Failure::Zeroing)
                return status->setText(tr("%1: nothing was delivered. Tare the balance by hand, "
                                          "deliver again and type the masses.")
                                           .arg(error));
            status->setText(failure == Failure::None
                                ? tr("Weigh delivery %1 and type its mass.").arg(row + 1)
                                : tr("%1. Weigh delivery %2 by hand and type its mass.")
                                      .arg(error)
                                      .arg(row + 1));
            table->setCurrentCell(row, 0);
            table->editItem(table->item(row, 0));
        });
    }

    void setMass(int row, double grams)
    {
        table->item(row, 0)->setText(number(grams, 4));
        status->setText(tr("Delivery %1: %2 g").arg(row + 1).arg(number(grams, 4)));
    }

    void massTyped(QTableWidgetItem* item)
    {
        if (item->column() != 0)
            return;
        const std::optional<double> grams = Engine::typedMass(item->text());
        wizard->plan().massesG[size_t(item->row())] = grams;
        const QSignalBlocker quiet(table);
        table->item(item->row(), 1)
            ->setText(grams ? number(*grams * wizard->plan().mlPerGram(), 4) : QString());
        if (!grams && !item->text().isEmpty())
            status->setText(
                tr("Delivery %1: %2").arg(item->row() + 1).arg(Engine::noMassText(item->text())));
        emit completeChanged();
    }

    void setBusy(bool on)
    {
        busy = on;
        deliverButton->setEnabled(!on);
        emit completeChanged();
    }

    CalibrationWizard* wizard;
    QTableWidget* table = new QTableWidget;
    QPushButton* deliverButton = new QPushButton(tr("Deliver"));
    QLabel* status = wrappedLabel({});
    bool busy = false;
};

// Step 4: the deliveries against the target, and the new percentage the user may write.
class ResultPage : public QWizardPage
{
public:
    explicit ResultPage(CalibrationWizard* wizard) : wizard(wizard)
    {
        setTitle(tr("Result"));
        setCommitPage(true);
        setButtonText(QWizard::CommitButton, tr("Record"));
        auto* layout = new QVBoxLayout(this);
        text->setObjectName(QStringLiteral("resultText"));
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(text);
        write->setObjectName(QStringLiteral("writeBox"));
        layout->addWidget(write);
        layout->addStretch();
        connect(write, &QCheckBox::stateChanged, this,
                [this] { this->wizard->plan().write = write->isChecked(); });
    }

    void initializePage() override
    {
        text->setText(tr("Reading the pump's present calibration…"));
        write->setChecked(false);
        write->setEnabled(false);
        reading = true;
        wizard->runRequest({{QStringLiteral("verb"), QStringLiteral("get")},
                            {QStringLiteral("value"), QStringLiteral("CH")}},
                           [this](const QJsonObject& answer) { show(answer); });
    }

    bool isComplete() const override { return !reading; }

private:
    void show(const QJsonObject& answer)
    {
        reading = false;
        emit completeChanged();
        if (!answer.value(QLatin1String("ok")).toBool())
            return text->setText(tr("The pump did not tell its calibration: %1")
                                     .arg(answer.value(QLatin1String("error")).toString()));
        CalibrationPlan& plan = wizard->plan();
        Engine::Gravimetry gravimetry;
        gravimetry.targetMl = plan.targetMl;
        for (const auto& mass : plan.massesG)
            gravimetry.massesG.push_back(mass.value_or(0));
        gravimetry.mlPerGram = plan.mlPerGram();
        gravimetry.presentHundredths =
            Engine::readingValue(BusinessLogic::CommandTable::getCustCalPercent.body,
                                 answer.value(QLatin1String("answer")).toString());
        plan.result = Engine::evaluateCalibration(gravimetry);
        text->setText(describe(plan.result, gravimetry.targetMl));
        if (plan.result.newHundredths) {
            write->setText(tr("Write %1 to the pump")
                               .arg(Engine::calibrationText(*plan.result.newHundredths)));
            write->setEnabled(true);
        }
        write->setVisible(plan.result.newHundredths.has_value());
    }

    static QString describe(const Engine::CalibrationResult& result, double targetMl)
    {
        QStringList volumes;
        for (const double volume : result.volumesMl)
            volumes << number(volume, 4);
        QString text = tr("Deliveries (ml): %1\nMean: %2 ml of %3 ml\nSystematic error: %4 % "
                          "(%5 µl)\nCoefficient of variation: %6 %\nCalibration now: %7")
                           .arg(volumes.join(QStringLiteral(", ")), number(result.meanMl, 4),
                                number(targetMl, 3), number(result.systematicPercent, 2),
                                number(result.systematicUl, 1), number(result.cvPercent, 2),
                                Engine::calibrationText(result.presentHundredths));
        if (result.newHundredths)
            return text
                   + tr("\nNew calibration: %1")
                         .arg(Engine::calibrationText(*result.newHundredths));
        return text + tr("\nNot to be written: %1").arg(result.refusal);
    }

    CalibrationWizard* wizard;
    QLabel* text = wrappedLabel({});
    QCheckBox* write = new QCheckBox;
    bool reading = false;
};

// Step 5: the calibration kept in the history, and written when the user said so.
class RecordPage : public QWizardPage
{
public:
    explicit RecordPage(CalibrationWizard* wizard) : wizard(wizard)
    {
        setTitle(tr("Recorded"));
        setFinalPage(true);
        auto* layout = new QVBoxLayout(this);
        status->setObjectName(QStringLiteral("recordStatus"));
        layout->addWidget(status);
        layout->addStretch();
    }

    void initializePage() override
    {
        const CalibrationPlan& plan = wizard->plan();
        QJsonArray masses;
        for (const auto& mass : plan.massesG)
            masses.append(mass.value_or(0));
        QJsonObject request{{QStringLiteral("verb"), QStringLiteral("calibrate")},
                            {QStringLiteral("target"), plan.targetText},
                            {QStringLiteral("deliveries"), plan.deliveries},
                            {QStringLiteral("mass"), masses},
                            {QStringLiteral("write"), plan.write}};
        wizard->addLiquid(request);
        recording = true;
        status->setText(tr("Recording…"));
        wizard->runRequest(request, [this](const QJsonObject& result) { show(result); });
    }

    bool isComplete() const override { return !recording; }

private:
    void show(const QJsonObject& result)
    {
        recording = false;
        emit completeChanged();
        const QString now = result.value(QLatin1String("calibration_now")).toString();
        const QString next = result.value(QLatin1String("calibration_new")).toString();
        if (result.value(QLatin1String("written")).toBool())
            return status->setText(tr("%1 written to the pump and kept in the calibration "
                                      "history. A check run shows whether it holds.")
                                       .arg(next));
        if (!result.value(QLatin1String("ok")).toBool())
            return status->setText(
                tr("Not written: %1").arg(result.value(QLatin1String("error")).toString()));
        status->setText(
            tr("Not written: the pump keeps %1. Kept in the calibration history.").arg(now));
    }

    CalibrationWizard* wizard;
    QLabel* status = wrappedLabel({});
    bool recording = false;
};

// Step 6 (optional): one more delivery with the calibration now in the pump, judged against a
// tolerance.
class CheckPage : public QWizardPage
{
public:
    explicit CheckPage(CalibrationWizard* wizard) : wizard(wizard)
    {
        setTitle(tr("Check run"));
        auto* form = new QFormLayout(this);
        tolerance->setObjectName(QStringLiteral("tolerance"));
        tolerance->setRange(0.1, 10.0);
        tolerance->setDecimals(1);
        tolerance->setValue(DefaultTolerancePercent);
        tolerance->setPrefix(QStringLiteral("± "));
        tolerance->setSuffix(QStringLiteral(" %"));
        form->addRow(tr("Tolerance"), tolerance);
        checkButton->setObjectName(QStringLiteral("checkButton"));
        form->addRow(checkButton);
        mass->setObjectName(QStringLiteral("checkMass"));
        mass->setPlaceholderText(tr("typed when weighed by hand"));
        form->addRow(tr("Mass (g)"), mass);
        status->setObjectName(QStringLiteral("checkStatus"));
        form->addRow(status);
        connect(checkButton, &QPushButton::clicked, this, &CheckPage::deliver);
        connect(mass, &QLineEdit::returnPressed, this,
                [this] { judge(Engine::typedMass(mass->text())); });
    }

private:
    void deliver()
    {
        checkButton->setEnabled(false);
        status->setText(tr("Delivering…"));
        wizard->deliver(
            [this](const std::optional<double>& grams, const QString& error, Failure failure) {
                checkButton->setEnabled(true);
                if (grams)
                    return judge(grams);
                status->setText(failure == Failure::Dosing || failure == Failure::Zeroing
                                    ? tr("Check run failed: %1").arg(error)
                                    : tr("Weigh the delivery, type its mass and press Return."));
            });
    }

    void judge(const std::optional<double>& grams)
    {
        if (!grams || !Engine::isMass(*grams))
            return status->setText(Engine::noMassText(mass->text()));
        const CalibrationPlan& plan = wizard->plan();
        const double target = plan.targetMl;
        const double volume = *grams * plan.mlPerGram();
        const double deviation = (volume - target) / target * 100.0;
        mass->setText(number(*grams, 4));
        status->setText(
            tr("%1 ml delivered, %2 % from the target: %3 ±%4 %")
                .arg(number(volume, 4), number(deviation, 2),
                     std::abs(deviation) <= tolerance->value() ? tr("within") : tr("outside"),
                     number(tolerance->value(), 1)));
    }

    CalibrationWizard* wizard;
    QDoubleSpinBox* tolerance = new QDoubleSpinBox;
    QPushButton* checkButton = new QPushButton(tr("Deliver once more"));
    QLineEdit* mass = new QLineEdit;
    QLabel* status = wrappedLabel({});
};

} // namespace

CalibrationWizard::CalibrationWizard(GUI::PanelSession& session, QWidget* parent)
    : QWizard(parent), panel(session),
      link(&session.stack(), &session.table(), &session.link(), &session.search(), false)
{
    setObjectName(QStringLiteral("calibrationWizard"));
    setWindowTitle(tr("Calibrate the pump"));
    setOption(QWizard::HaveHelpButton);
    setPage(PrimePage, new ::PrimePage(this));
    setPage(PlanPage, new ::PlanPage(this));
    setPage(DeliveryPage, new ::DeliveryPage(this));
    setPage(ResultPage, new ::ResultPage(this));
    setPage(RecordPage, new ::RecordPage(this));
    setPage(CheckPage, new ::CheckPage(this));
    connect(this, &QWizard::helpRequested, this,
            [this] { emit helpPageWanted(QStringLiteral("calibwizard.html")); });
    connect(this, &QWizard::rejected, this, [this] {
        if (pumpMoving)
            emit stopWanted();
        abortAll();
    });
}

CalibrationWizard::~CalibrationWizard()
{
    abortAll();
}

void CalibrationWizard::abortAll()
{
    if (delivery)
        delivery->abort();
    if (running)
        running->abort();
}

void CalibrationWizard::runRequest(const QJsonObject& request,
                                   std::function<void(const QJsonObject&)> then)
{
    const Control::Checked checked = Control::checkRequest(request, panel.pumpModel());
    if (!checked.request) {
        const QJsonObject refused{{QStringLiteral("ok"), false},
                                  {QStringLiteral("error"), checked.error}};
        QMetaObject::invokeMethod(
            this, [then, refused] { then(refused); }, Qt::QueuedConnection);
        return;
    }
    auto* session = new Control::PumpSession(&link, this);
    running = session;
    connect(session, &Control::PumpSession::finished, this,
            [this, session, then](const QJsonObject& result) {
                if (running == session)
                    running = nullptr;
                session->deleteLater();
                then(result);
            });
    session->run(*checked.request);
}

QJsonObject CalibrationWizard::doseRequest() const
{
    QJsonObject request{{QStringLiteral("verb"), QStringLiteral("dose")},
                        {QStringLiteral("value"), calibration.targetText}};
    if (!calibration.flowText.isEmpty())
        request.insert(QStringLiteral("flow"), calibration.flowText);
    return request;
}

void CalibrationWizard::addLiquid(QJsonObject& request) const
{
    if (calibration.water)
        request.insert(QStringLiteral("water_temp"), calibration.waterCelsius);
    else
        request.insert(QStringLiteral("density"), calibration.density);
}

void CalibrationWizard::deliver(Delivered then)
{
    using Failure = Control::WeighedDeliveryFailure;
    const Control::Checked checked = Control::checkRequest(doseRequest(), panel.pumpModel());
    if (!checked.request)
        return then(std::nullopt, checked.error, Failure::Dosing);
    delivery = new Control::WeighedDelivery(&link, balance.get(), this);
    pumpMoving = true;
    delivery->run(*checked.request, [this, then](const Control::WeighedDelivery::Outcome& out) {
        delivery->deleteLater();
        delivery = nullptr;
        pumpMoving = false;
        if (out.failure == Failure::Zeroing || out.failure == Failure::Weighing)
            balance.reset();
        then(out.grams, out.error, out.failure);
    });
}

bool CalibrationWizard::useBalance(const QString& path, qint32 baud, QString* error)
{
    balance.reset();
    if (path.isEmpty())
        return true;
    balance = std::make_unique<Control::Balance>();
    if (balance->open(path, baud))
        return true;
    *error = tr("The balance at %1 does not open: %2").arg(path, balance->errorString());
    balance.reset();
    return false;
}

QString CalibrationWizard::pumpName() const
{
    return GUI::CalibrationHistory::pumpAt(link.address());
}
