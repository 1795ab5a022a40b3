#pragma once

#include <QString>
#include <QtGlobal>

// Number of this running copy, from 1: the first name "DOSEDESK_<n>" nobody holds yet.
// Computed on the first call; every copy keeps the names it touched until it exits. 0 when no
// number can be had: instanceNumberProblem() then says why.
qint32 instanceNumber();
QString instanceNumberProblem();
// The number of the running copy that process pid is; 0 when it is none (another program).
qint32 copyNumberOf(qint64 pid);
