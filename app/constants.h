#pragma once

#include <QString>

// Process-wide texts and numbers shared by the entry point, the window and its tests.
namespace Constants {

inline const QString FactoryModeArgument = QStringLiteral("--svc engineer key");
inline const QString InstanceMutexPrefix = QStringLiteral("DOSEDESK_");
inline const QString OrganisationName = QStringLiteral("ZUL Vantor");
inline const QString OrganisationDomain = QStringLiteral("zul-vantor.example");
inline const QString ApplicationName = QStringLiteral("Velor Remote Control");
inline const QString ProgramVersion = QStringLiteral(DOSEDESK_VERSION);

// The window's display timer: its pace while the pump answers, and the slower one while it is
// silent.
constexpr int DisplayIntervalMs = 100;
constexpr int SilentDisplayIntervalMs = 500;

// The state lines as the user reads them; the screenshot waits for the first, tests look for all.
inline const QString PumpConnectedText = QStringLiteral("PUMP CONNECTED");
// Followed by the port's state in brackets.
inline const QString PumpDisconnectedText = QStringLiteral("PUMP DISCONNECTED ");
inline const QString CommandAcceptedText = QStringLiteral("COMMAND ACCEPTED");
inline const QString CommandRefusedText = QStringLiteral("COMMAND NOT ACCEPTED (RANGE)");
inline const QString CommandNotAnsweredText = QStringLiteral("COMMAND NOT ANSWERED");
// Shown for the pump's identity until the pump has told it.
inline const QString ReadingText = QStringLiteral("reading…");

inline QString pumpDisconnectedText(const QString& portState)
{
    return PumpDisconnectedText + u'(' + portState + u')';
}

} // namespace Constants
