// Any text typed as a raw command: it travels unchanged between the address and ETX, with the
// check byte of exactly those bytes, and a refused or unanswered text reports the fixed default.
#include "allcommands.h"
#include "communication.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Communication link; // never opened: the exchange ends at once without an answer
    static BusinessLogic::Communicate::SetDiscreteCommand command(&link);
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    command.setTextParameter(text);
    command.execute();

    QByteArray expected = Protocol::STX + link.addressText() + text + Protocol::ETX;
    expected.append(char(Protocol::Framing::checkByte(expected)));
    if (command.getSentFrame() != expected)
        std::abort();
    if (command.getAnswer() != "DISCRETE COMMAND")
        std::abort();
    return 0;
}
