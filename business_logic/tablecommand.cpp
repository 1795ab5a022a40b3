#include "tablecommand.h"

#include "communication.h"
#include "platform.h"

namespace BusinessLogic {

QByteArray formatValue(qint32 value, int width)
{
    QByteArray text = QByteArray::number(value);
    if (text.size() < width)
        text.prepend(QByteArray(width - text.size(), '0'));
    return text;
}

void exchange(Communication* link, const QByteArray& body, const CommandTraits& traits)
{
    QByteArray frame;
    frame.append(Protocol::STX).append(link->addressText()).append(body).append(Protocol::ETX);
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
