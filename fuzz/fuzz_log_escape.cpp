// Any frame bytes: the logged line must be printable and read back to exactly the same bytes.
#include "loggingcommandstack.h"

#include <cstdlib>

namespace {

QByteArray unescape(const std::string& line)
{
    QByteArray bytes;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] == '\'' && i + 5 < line.size() && line[i + 1] == '/' && line[i + 5] == '\'') {
            bytes.append(char(std::atoi(line.substr(i + 2, 3).c_str())));
            i += 6;
        } else {
            bytes.append(line[i]);
            ++i;
        }
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    Platform::SystemTime time;
    time.hour = 23;
    time.minute = 59;
    time.second = 59;
    time.milliseconds = 999;
    std::size_t prefix = 0;
    const std::string line =
        BusinessLogic::LoggingCommandStack::formatLine(time, BusinessLogic::LoggingCommandStack::CommandGap, body, &prefix);
    if (prefix != 14 || line.compare(0, prefix, "23:59:59:999  ") != 0)
        std::abort();
    for (std::size_t i = prefix; i < line.size(); ++i) {
        const char c = line[i];
        if (!((c >= '0' && c <= 'z') || c == '\'' || c == '/'))
            std::abort();
    }
    if (unescape(line.substr(prefix)) != body)
        std::abort();
    return 0;
}
