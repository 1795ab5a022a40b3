#include "tablecommand.h"

#include "communication.h"
#include "platform.h"

namespace BusinessLogic {

void exchange(Communication* link, const QByteArray& body, const CommandTraits& traits)
{
    QByteArray frame = Protocol::Framing::command(link->addressText(), body);
    link->sendFrame(frame);

    const auto wait = traits.wait == Wait::Acknowledge ? &Communication::waitForAcknowledge
                                                       : &Communication::waitForFrame;
    while (!(link->*wait)())
        Platform::sleepMs(traits.pauseMs);

    const bool answered = !link->readAnswer().isEmpty();
    link->dataFromPump = answered && link->answerRecognised;
    if (!answered)
        link->lastAnswerData = traits.defaultAnswer;
}

} // namespace BusinessLogic
