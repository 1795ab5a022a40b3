#include "tablecommand.h"

#include "communication.h"

namespace BusinessLogic {

void exchange(Communication* link, const QByteArray& body, const CommandTraits& traits)
{
    QByteArray frame = Protocol::Framing::command(link->addressText(), body);
    link->sendFrame(frame);

    if (traits.wait == Wait::Acknowledge)
        link->waitForAcknowledge();
    else
        link->waitForFrame();

    const bool answered = !link->readAnswer().isEmpty();
    link->dataFromPump = answered && link->answerRecognised;
    if (!answered)
        link->lastAnswerData = traits.defaultAnswer;
}

} // namespace BusinessLogic
