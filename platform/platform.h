#pragma once

#include <QtGlobal>
#include <QString>

#include <optional>

// The few operating-system services the panel needs, behind one small interface.
namespace Platform {

// Calendar time with milliseconds, as the system clock reports it (UTC).
struct SystemTime
{
    quint16 year = 0;
    quint16 month = 0;
    quint16 dayOfWeek = 0;
    quint16 day = 0;
    quint16 hour = 0;
    quint16 minute = 0;
    quint16 second = 0;
    quint16 milliseconds = 0;
};

// Monotonic millisecond tick; wraps after about 49 days, so compare ticks by unsigned subtraction.
quint32 tickCount();

// Current UTC system time with milliseconds.
SystemTime systemTimeUtc();

// Sleeps for whole milliseconds; 0 only yields the processor.
void sleepMs(quint32 milliseconds);

// Sleeps for a short pause given in microseconds (the link's pause between two polls).
void sleepUs(quint32 microseconds);

// Creates (or opens) a system-wide named object that stays held until this process exits.
// Returns true when the name already existed, held by this or another running process.
bool createNamedObject(const QString& name);

// The process that took a name still held: its id, 0 when its file does not say; nothing when
// nobody holds the name.
std::optional<qint64> namedObjectTaker(const QString& name);

// Why named objects cannot be created here (e.g. their folder belongs to another account);
// empty when they can.
QString namedObjectProblem();

} // namespace Platform
