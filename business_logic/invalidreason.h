#pragma once

#include <QMetaType>
#include <QtGlobal>

#include <vector>

namespace BusinessLogic {

// Why a character of a logged frame is marked in the messages panel.
enum InvalidReason : qint32 {
    InvalidLrc = 0,
    Acknowledged = 1,
    NotAcknowledged = 2,
};

} // namespace BusinessLogic

Q_DECLARE_METATYPE(BusinessLogic::InvalidReason)
Q_DECLARE_METATYPE(std::vector<BusinessLogic::InvalidReason>)
