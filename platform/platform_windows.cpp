#include "platform.h"

#include <windows.h>

namespace Platform {

quint32 tickCount()
{
    return static_cast<quint32>(GetTickCount());
}

SystemTime systemTimeUtc()
{
    SYSTEMTIME st;
    GetSystemTime(&st);
    return SystemTime{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay,
                      st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

void sleepMs(quint32 milliseconds)
{
    Sleep(milliseconds);
}

void sleepUs(quint32 microseconds)
{
    // The system sleeps in whole milliseconds; a shorter pause gives the processor away once.
    Sleep(microseconds >= 1000 ? microseconds / 1000 : 0);
}

bool createNamedObject(const QString& name)
{
    // The handle is never closed: the name stays taken until the process exits.
    HANDLE handle = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    const DWORD error = GetLastError();
    Q_UNUSED(handle);
    return error != 0;
}

std::optional<qint64> namedObjectTaker(const QString& name)
{
    // A mutex does not tell who made it: taken or not is all that can be known.
    HANDLE handle = OpenMutexW(SYNCHRONIZE, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    if (!handle)
        return std::nullopt;
    CloseHandle(handle);
    return 0;
}

QString namedObjectProblem()
{
    return {};
}

} // namespace Platform
