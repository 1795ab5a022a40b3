#include "mainform.h"

#include "commandtable.h"
#include "loggingcommandstack.h"
#include "protocolpanel.h"
#include "pumpsearch.h"
#include "runview.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

namespace Table = BusinessLogic::CommandTable;

const QString mainForm::PumpRunningText = QStringLiteral("The pump is running.");
const QString mainForm::ProtocolRunningText = QStringLiteral("A protocol is running.");
const QString mainForm::SearchRunningText = QStringLiteral("The search for the pump is running.");
const QString mainForm::StopItText = QStringLiteral("Stop it");
const QString mainForm::LeaveItRunningText = QStringLiteral("Leave it running");

void mainForm::keyPressEvent(QKeyEvent* event)
{
    // QDialog would reject the window on Escape and leave a running pump without its panel.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void mainForm::closeEvent(QCloseEvent* event)
{
    const QString work = workAtClose();
    if (closeAgreed || work.isEmpty()) {
        // Once closed, it stays closed: the delayed first showing must not bring it back.
        closeAgreed = true;
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    askBeforeClosing(work);
}

QString mainForm::workAtClose() const
{
    if (protocols->isRunning())
        return ProtocolRunningText;
    if (run->recorder().isRunOpen())
        return PumpRunningText;
    if (search->isRunning())
        return SearchRunningText;
    return {};
}

// Asked without a loop of its own: the pump and the display go on while the question waits.
void mainForm::askBeforeClosing(const QString& work)
{
    if (closeQuestion) {
        closeQuestion->raise();
        return;
    }
    closeQuestion = new QMessageBox(QMessageBox::Question, windowTitle(), work,
                                    QMessageBox::NoButton, this);
    closeQuestion->setAttribute(Qt::WA_DeleteOnClose);
    closeQuestion->addButton(StopItText, QMessageBox::DestructiveRole);
    // A search ends with the program; there is nothing to leave running.
    if (work == PumpRunningText)
        closeQuestion->addButton(LeaveItRunningText, QMessageBox::AcceptRole);
    closeQuestion->setDefaultButton(closeQuestion->addButton(QMessageBox::Cancel));
    connect(closeQuestion, &QMessageBox::buttonClicked, this, [this](QAbstractButton* button) {
        closeAnswered(closeQuestion->buttonRole(button));
    });
    connect(closeQuestion, &QObject::destroyed, this, [this] { closeQuestion = nullptr; });
    closeQuestion->open();
}

void mainForm::closeAnswered(int role)
{
    if (role == QMessageBox::DestructiveRole) {
        stopThenClose();
    } else if (role == QMessageBox::AcceptRole) {
        closeAgreed = true;
        close();
    }
}

void mainForm::stopThenClose()
{
    auto closeNow = [this] {
        closeAgreed = true;
        close();
    };
    // The search's remaining checks are dropped with the window.
    if (search->isRunning()) {
        search->cancel();
        closeNow();
        return;
    }
    // As the user's own Stop; it waits for its turn on the line, or for the queue to be dropped.
    connect(commandStack, &BusinessLogic::CommandStack::sendAnswer, this,
            [closeNow](const Answer& answer) {
                if (answer.spezifier == Table::stop.spezifier)
                    closeNow();
            });
    connect(commandStack, &BusinessLogic::CommandStack::cleared, this, closeNow);
    ui.buttonStop->click();
}
