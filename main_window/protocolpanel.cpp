#include "protocolpanel.h"

#include "communication.h"
#include "helpfiles.h"
#include "ownline.h"
#include "panelsession.h"
#include "ptypump.h"
#include "pumpsession.h"
#include "readings.h"
#include "runrecorder.h"
#include "runview.h"
#include "ui_mainscreen.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

const QString ProtocolPanel::HeldQuestionText = QStringLiteral(
    "The protocol is held at %1: %2.\n\nRepeat runs the step again from its start; Next step "
    "leaves it and goes on with the next one.");

namespace {

const QString HelpPage = QStringLiteral("protocoltab.html");
// Every control's accessible description: the first sentence of the tab's help page.
const QString Description = QStringLiteral(
    "The Protocol tab runs a dosing protocol: a sequence of steps written once in a YAML file.");

// A button of the tab, with what it does as its tool tip.
QPushButton* tabButton(QWidget* parent, const char* objectName, const QString& name,
                       const QString& toolTip)
{
    QPushButton* button =
        helpedButton(parent, QLatin1String(objectName), name, Description, HelpPage);
    button->setToolTip(toolTip);
    return button;
}

// A control of the tab other than a button, named and described for a screen reader.
void describe(QWidget* widget, const char* objectName, const QString& name)
{
    widget->setObjectName(QLatin1String(objectName));
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(Description);
    widget->setProperty(HelpFiles::pageProperty, HelpPage);
}
constexpr int DefaultDrySpeed = 60;
constexpr int MostDrySpeed = 3600;
constexpr int ClockTickMs = 1000;
const QString RepeatText = QStringLiteral("Repeat the step");
const QString NextText = QStringLiteral("Next step");
const QString GoOnText = QStringLiteral("Continue");
const QString AbortText = QStringLiteral("Abort the protocol");

} // namespace

ProtocolPanel::ProtocolPanel(Ui::mainScreen& ui, GUI::PanelSession& session,
                             GUI::RunRecorder& recorder, QWidget* window)
    : QObject(window), ui(ui), session(session), recorder(recorder),
      panelLink(&session.stack(), &session.table(), &session.link(), &session.search(), false)
{
    buildTab();
    clock.setInterval(ClockTickMs);
    connect(&clock, &QTimer::timeout, this, &ProtocolPanel::showState);
    enableButtons();
}

ProtocolPanel::~ProtocolPanel()
{
    // The runner's requests go before the line they run on.
    runner.reset();
}

void ProtocolPanel::buildTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabProtocol"));
    tab->setProperty(HelpFiles::pageProperty, HelpPage);
    auto* layout = new QVBoxLayout(tab);
    auto* fileRow = new QHBoxLayout;
    fileField = new QLineEdit(tab);
    describe(fileField, "editProtocolFile", QStringLiteral("Protocol file"));
    fileField->setPlaceholderText(QStringLiteral("protocol file (.yaml)"));
    fileRow->addWidget(fileField, 1);
    QPushButton* open = tabButton(tab, "buttonProtocolOpen", QStringLiteral("Open…"),
                                  QStringLiteral("Chooses a protocol file."));
    fileRow->addWidget(open);
    checkButton =
        tabButton(tab, "buttonProtocolCheck", QStringLiteral("Check"),
                  QStringLiteral("Checks every step against the pump's rules; nothing is sent."));
    fileRow->addWidget(checkButton);
    layout->addLayout(fileRow);
    summary = new QLabel(tab);
    summary->setObjectName(QStringLiteral("labelProtocolSummary"));
    summary->setWordWrap(true);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary);
    stepList = new QListWidget(tab);
    describe(stepList, "listProtocolSteps", QStringLiteral("Protocol steps"));
    layout->addWidget(stepList, 1);
    stateLine = new QLabel(tab);
    stateLine->setObjectName(QStringLiteral("labelProtocolState"));
    stateLine->setWordWrap(true);
    layout->addWidget(stateLine);
    layout->addWidget(buildButtons(tab));
    QTabWidget* tabs = ui.TabsExtendedSettings;
    tabs->insertTab(tabs->indexOf(ui.TabStatus) + 2, tab, QStringLiteral("Protocol"));
    connect(open, &QPushButton::clicked, this, &ProtocolPanel::chooseFile);
    connect(checkButton, &QPushButton::clicked, this, &ProtocolPanel::check);
    connect(fileField, &QLineEdit::returnPressed, this, &ProtocolPanel::check);
    connect(fileField, &QLineEdit::textEdited, this, [this] {
        checked = false;
        enableButtons();
    });
}

QWidget* ProtocolPanel::buildButtons(QWidget* tab)
{
    auto* row = new QWidget(tab);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    dryRunButton = tabButton(row, "buttonProtocolDryRun", QStringLiteral("Dry Run"),
                             QStringLiteral("Runs the protocol on a simulated pump whose clock "
                                            "runs faster; the panel's pump is not touched."));
    layout->addWidget(dryRunButton);
    speedBox = new QSpinBox(row);
    describe(speedBox, "spinProtocolSpeed", QStringLiteral("Dry run speed"));
    speedBox->setRange(1, MostDrySpeed);
    speedBox->setValue(DefaultDrySpeed);
    speedBox->setSuffix(QStringLiteral(" × as fast"));
    layout->addWidget(speedBox);
    layout->addStretch(1);
    runButton = tabButton(row, "buttonProtocolRun", QStringLiteral("Run"),
                          QStringLiteral("Runs the protocol on the panel's pump."));
    holdButton = tabButton(row, "buttonProtocolHold", QStringLiteral("Hold"),
                           QStringLiteral("Holds the protocol at its step and pauses the pump."));
    abortButton = tabButton(row, "buttonProtocolAbort", QStringLiteral("Abort"),
                            QStringLiteral("Ends the protocol and stops the pump it started."));
    for (QPushButton* button : {runButton, holdButton, abortButton})
        layout->addWidget(button);
    connect(dryRunButton, &QPushButton::clicked, this, [this] { run(true); });
    connect(runButton, &QPushButton::clicked, this, [this] { run(false); });
    connect(holdButton, &QPushButton::clicked, this, [this] {
        if (runner)
            runner->hold();
    });
    connect(abortButton, &QPushButton::clicked, this, [this] {
        if (runner)
            runner->abort();
    });
    return row;
}

void ProtocolPanel::chooseFile()
{
    const QString path = QFileDialog::getOpenFileName(
        stepList, QStringLiteral("Open a protocol"),
        fileField->text().isEmpty() ? QDir::homePath() : fileField->text(),
        QStringLiteral("Protocols (*.yaml *.yml);;All files (*)"));
    if (path.isEmpty())
        return;
    fileField->setText(path);
    check();
}

bool ProtocolPanel::check()
{
    if (isRunning())
        return false;
    protocol = Control::readProtocol(fileField->text(), session.pumpModel());
    const int address = ui.comboCommAddress->currentIndex();
    checked = protocol.isValid();
    if (checked)
        summary->setText(protocol.summary().trimmed());
    else
        summary->setText(protocol.errors.join(u'\n'));
    if (checked && protocol.pump.value_or(0) != address)
        summary->setText(summary->text()
                         + QStringLiteral("\nThe panel's pump is at address %1: only a dry run "
                                          "can take this protocol.")
                               .arg(address));
    listSteps();
    stateLine->clear();
    enableButtons();
    return checked;
}

void ProtocolPanel::listSteps()
{
    stepList->clear();
    for (const Control::ProtocolStep& step : protocol.steps)
        stepList->addItem(QStringLiteral("%1  line %2: %3")
                              .arg(stepList->count() + 1, 3)
                              .arg(step.line)
                              .arg(step.text));
}

void ProtocolPanel::run(bool dry)
{
    if (isRunning() || !check())
        return;
    QString error;
    if (dry && !openDryLine(&error)) {
        stateLine->setText(QStringLiteral("The dry run does not start: %1").arg(error));
        return;
    }
    if (!dry && protocol.pump.value_or(0) != ui.comboCommAddress->currentIndex())
        return;
    dryRunning = dry;
    activeLink = dry ? &dryLine->link() : &panelLink;
    runner = std::make_unique<Control::ProtocolRunner>(activeLink);
    GUI::RunRecorder& record = dry ? dryLine->recorder() : recorder;
    runner->setRecord([&record](const QString& line) { record.noteEvent(line); });
    if (dry)
        runner->setSpeed(speedBox->value());
    connectRunner();
    runner->start(protocol);
    clock.start();
    enableButtons();
    showState();
}

bool ProtocolPanel::openDryLine(QString* error)
{
    runner.reset();
    dryLine.reset();
    Simulator::PtyPump::Options options;
    options.address = protocol.pump.value_or(0);
    options.clockSpeed = speedBox->value();
    // The panel's pump's model, so that the dry run meets the same limits.
    if (session.pumpModel() == Engine::Model::Small)
        options.modelCode = Engine::ModelCode02;
    dryPump = std::make_unique<Simulator::PtyPump>(options);
    if (!dryPump->start()) {
        *error = dryPump->errorString();
        return false;
    }
    // The dry run's rows go into the panel's record, each marked.
    dryLine = std::make_unique<Control::OwnLine>(recorder.copyName(), QStringLiteral("dry run: "));
    return dryLine->open(dryPump->devicePath(), options.address, error);
}

void ProtocolPanel::connectRunner()
{
    using Runner = Control::ProtocolRunner;
    connect(runner.get(), &Runner::stepStarted, this, &ProtocolPanel::markStep);
    connect(runner.get(), &Runner::asking, this, [this](const QString& text) { ask(text, false); });
    connect(runner.get(), &Runner::held, this, [this](int, const QString& why, bool silent) {
        // Going on after the pump fell silent waits until it answers again.
        awaitingPump = silent;
        ask(HeldQuestionText.arg(runner->where(), why), true);
    });
    connect(runner.get(), &Runner::finished, this, &ProtocolPanel::ended);
}

void ProtocolPanel::markStep(int index)
{
    for (int row = 0; row < stepList->count(); ++row) {
        QFont font = stepList->item(row)->font();
        font.setBold(row == index);
        stepList->item(row)->setFont(font);
    }
    stepList->setCurrentRow(index);
    showState();
}

void ProtocolPanel::showState()
{
    if (!isRunning())
        return;
    const QString dry = dryRunning ? QStringLiteral("Dry run: ") : QString();
    switch (runner->state()) {
    case Control::ProtocolRunner::State::Held:
        stateLine->setText(dry + QStringLiteral("held at ") + runner->where());
        break;
    case Control::ProtocolRunner::State::Asking:
        stateLine->setText(dry + QStringLiteral("waiting for your answer at ") + runner->where());
        break;
    default:
        stateLine->setText(
            dry + QStringLiteral("running ") + runner->where()
            + QStringLiteral(", about %1 left").arg(minutesAndSeconds(runner->secondsLeft()))
            + (protocol.openEnded ? QStringLiteral(" and the open-ended steps") : QString()));
    }
}

void ProtocolPanel::closeQuestion()
{
    if (probe) {
        probe->abort();
        probe->deleteLater();
    }
    if (!question)
        return;
    // Possibly from inside its own button's click: it goes once that has returned.
    question->disconnect(this);
    question->close();
    question = nullptr;
}

void ProtocolPanel::ask(const QString& text, bool held)
{
    closeQuestion();
    question = new QMessageBox(QMessageBox::Question, QStringLiteral("Protocol"), text,
                               QMessageBox::NoButton, stepList->window());
    question->setObjectName(QStringLiteral("protocolQuestion"));
    question->setAttribute(Qt::WA_DeleteOnClose);
    if (held) {
        question->addButton(RepeatText, QMessageBox::AcceptRole);
        question->addButton(NextText, QMessageBox::YesRole);
    } else {
        question->addButton(GoOnText, QMessageBox::YesRole);
    }
    question->addButton(AbortText, QMessageBox::DestructiveRole);
    connect(question, &QMessageBox::buttonClicked, this, &ProtocolPanel::answered);
    showState();
    enableAnswers();
    question->open();
}

void ProtocolPanel::answered(QAbstractButton* button)
{
    if (!runner || !question)
        return;
    const QString text = button->text();
    awaitingPump = false;
    using Answer = Control::ProtocolRunner::Answer;
    runner->answer(text == RepeatText  ? Answer::Repeat
                   : text == AbortText ? Answer::Abort
                                       : Answer::Next);
    showState();
}

void ProtocolPanel::displayTick()
{
    if (!awaitingPump || probe || !question)
        return;
    // Asks the pump whether it is there again; the answer lets the person go on.
    const Control::Checked status =
        Control::checkRequest({{QStringLiteral("verb"), QStringLiteral("status")}});
    probe = new Control::PumpSession(activeLink, this);
    connect(probe, &Control::PumpSession::finished, this, [this](const QJsonObject& result) {
        probe->deleteLater();
        if (!result.value(QStringLiteral("ok")).toBool())
            return;
        awaitingPump = false;
        enableAnswers();
    });
    probe->run(*status.request);
}

void ProtocolPanel::enableAnswers()
{
    if (!question)
        return;
    for (QAbstractButton* button : question->buttons())
        if (button->text() != AbortText)
            button->setEnabled(!awaitingPump);
}

void ProtocolPanel::ended(Control::ProtocolRunner::State how, const QString& text)
{
    clock.stop();
    awaitingPump = false;
    closeQuestion();
    const bool done = how == Control::ProtocolRunner::State::Done;
    stateLine->setText((dryRunning ? QStringLiteral("Dry run: ") : QString())
                       + (done ? QString() : QStringLiteral("STOPPED: ")) + text);
    markStep(-1);
    if (dryRunning)
        // The simulated pump goes once the runner that used it has returned.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isRunning())
                    return;
                runner.reset();
                dryLine.reset();
                dryPump.reset();
            },
            Qt::QueuedConnection);
    enableButtons();
    emit finished(how, text);
}

void ProtocolPanel::enableButtons()
{
    const bool running = isRunning();
    checkButton->setEnabled(!running);
    fileField->setEnabled(!running);
    speedBox->setEnabled(!running);
    dryRunButton->setEnabled(!running && checked);
    runButton->setEnabled(!running && checked
                          && protocol.pump.value_or(0) == ui.comboCommAddress->currentIndex());
    holdButton->setEnabled(running);
    abortButton->setEnabled(running);
}
