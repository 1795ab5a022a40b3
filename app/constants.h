#pragma once

#include <QString>

// Process-wide texts shared by the entry point and the window.
namespace Constants {

inline const QString InstanceKeyPrefix = QStringLiteral("DOSEDESK_INSTANCE_");
inline const QString AddressSettingsKey = QStringLiteral("Communication/Address");
// The closing parenthesis belongs to the key: stored settings already use it.
inline const QString PortSettingsKey = QStringLiteral("Communication/Port)");
inline const QString OffText = QStringLiteral("OFF");
inline const QString InfiniteText = QStringLiteral("INF");
inline const QString FactoryModeArgument = QStringLiteral("--svc engineer key");
inline const QString InstanceMutexPrefix = QStringLiteral("DOSEDESK_");
inline const QString OrganisationName = QStringLiteral("ZUL Vantor");
inline const QString OrganisationDomain = QStringLiteral("zul-vantor.example");
inline const QString ApplicationName = QStringLiteral("Velor Remote Control");
inline const QString DefaultPortName = QStringLiteral("COM1");
inline const QString ProgramVersion = QStringLiteral(DOSEDESK_VERSION);

} // namespace Constants
