#pragma once

#include "protocol.h"
#include "protocolrunner.h"
#include "pumplink.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QPushButton;
class QSpinBox;
class QWidget;

namespace GUI {
class PanelSession;
class RunRecorder;
} // namespace GUI

namespace Simulator {
class PtyPump;
}

namespace Control {
class OwnLine;
class PumpSession;
} // namespace Control

namespace Ui {
class mainScreen;
}

// The "Protocol" tab: a protocol file opened and checked, its steps listed with the one running
// marked and the time left, run on the panel's pump or tried on a simulated one (the dry run),
// held and aborted. Its steps go into the run record; a step the pump leaves unanswered holds
// the protocol and asks, once the pump answers again, whether to repeat the step, go on or abort.
class ProtocolPanel : public QObject
{
    Q_OBJECT

public:
    static const QString HeldQuestionText;

    ProtocolPanel(Ui::mainScreen& ui, GUI::PanelSession& session, GUI::RunRecorder& recorder,
                  QWidget* window);
    ~ProtocolPanel() override;

    // Called by every display tick: a protocol held by a silent pump asks it whether it is back.
    void displayTick();
    bool isRunning() const { return runner && runner->isActive(); }
    // Checks the file in the path field; true when it can run.
    bool check();

signals:
    // The run is over; how and in words.
    void finished(Control::ProtocolRunner::State how, const QString& text);

private:
    void buildTab();
    QWidget* buildButtons(QWidget* tab);
    void chooseFile();
    void listSteps();
    void run(bool dry);
    bool openDryLine(QString* error);
    void connectRunner();
    void markStep(int index);
    void showState();
    void ask(const QString& question, bool held);
    void answered(QAbstractButton* button);
    void closeQuestion();
    void enableAnswers();
    void ended(Control::ProtocolRunner::State how, const QString& text);
    void enableButtons();

    Ui::mainScreen& ui;
    GUI::PanelSession& session;
    GUI::RunRecorder& recorder;
    Control::PumpLink panelLink;
    Control::Protocol protocol;
    bool checked = false;
    bool dryRunning = false;
    bool awaitingPump = false;
    Control::PumpLink* activeLink = nullptr;
    QPointer<Control::PumpSession> probe;
    std::unique_ptr<Simulator::PtyPump> dryPump;
    std::unique_ptr<Control::OwnLine> dryLine;
    std::unique_ptr<Control::ProtocolRunner> runner;
    QPointer<QMessageBox> question;
    QTimer clock;

    QLineEdit* fileField = nullptr;
    QLabel* summary = nullptr;
    QListWidget* stepList = nullptr;
    QLabel* stateLine = nullptr;
    QSpinBox* speedBox = nullptr;
    QPushButton* checkButton = nullptr;
    QPushButton* dryRunButton = nullptr;
    QPushButton* runButton = nullptr;
    QPushButton* holdButton = nullptr;
    QPushButton* abortButton = nullptr;
};
