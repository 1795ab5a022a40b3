#pragma once

#include <QtGlobal>

// Number of this running copy, from 1: the first name "DOSEDESK_<n>" nobody holds yet.
// Computed on the first call; every copy keeps the names it touched until it exits.
qint32 instanceNumber();
