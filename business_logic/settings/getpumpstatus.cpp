#include "getpumpstatus.h"

#include "communication.h"

QByteArray GetPumpStatus::getAnswer()
{
    // The receiver matches answers to words by the number after the blank.
    return communication->lastAnswerData + ' ' + QByteArray::number(parameter);
}
