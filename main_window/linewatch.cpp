#include "mainform.h"

#include "commandtable.h"
#include "commdialogue.h"
#include "communication.h"
#include "linereopener.h"
#include "loggingcommandstack.h"
#include "refreshtimer.h"

#include <memory>

namespace Table = BusinessLogic::CommandTable;

void mainForm::watchLine(CommDialogue* portList, LineReopener* reopener)
{
    // After the link has tried the choice, so that the look-out knows how that went.
    connect(portList, &CommDialogue::comPortPathChange, reopener, &LineReopener::followChoice);
    // The reopener looks out for the device by itself.
    connect(communication, &Communication::lineLost, this, [this, portList] {
        noteLineEvent(QStringLiteral("line lost"), Qt::darkRed);
        // Devices outside /dev (pseudo-terminals, links elsewhere) are not watched by the list.
        portList->followSystem();
    });
    // One wait for the pump's answer at a time, however often the line comes back before it.
    auto answerWait = std::make_shared<QMetaObject::Connection>();
    // Nothing from before the loss is sent again: the queue is dropped, and the pump is only
    // asked who it is; polling then shows its own values, a run that went on included.
    connect(reopener, &LineReopener::lineBack, this, [this, portList, answerWait] {
        noteLineEvent(QStringLiteral("line back"), Qt::darkGreen);
        portList->followSystem();
        // The probe is the panel's own, not the user's, and the display keeps its pace: a
        // network port that comes and goes every few hundred milliseconds must not hold the
        // display back by restarting its timer each time.
        commandStack->clear();
        queueProbe();
        showPumpOnAnswer(*answerWait);
    });
}

void mainForm::showPumpOnAnswer(QMetaObject::Connection& answerWait)
{
    // The display would wait for its slow tick, and the values for the next polling round: the
    // pump's answer to the check is taken at once instead, and its values are asked for at once.
    disconnect(answerWait);
    const auto onAnswer = [this, &answerWait](const Answer& answer) {
        if (answer.spezifier != Table::executeCommCheck.spezifier)
            return;
        disconnect(answerWait);
        // Not inside the stack's own run, whose queue the display may clear.
        QTimer::singleShot(0, this, [this] {
            if (ui.checkboNoDataUpdate->checkState() != Qt::Unchecked)
                return;
            triggerUpdateValues();
            refresher->execute();
        });
    };
    answerWait = connect(commandStack, &BusinessLogic::CommandStack::sendAnswer, this, onAnswer);
}

void mainForm::noteLineEvent(const QString& event, Qt::GlobalColor colour)
{
    const QString note = QStringLiteral("%1 (%2)").arg(event, communication->chosenPath());
    ui.messagesGroup->noteLineEvent(note, colour);
}
