#pragma once

#include "refreshtimer.h"

// Opens the refresh cycle's state to the checks of the tests.
class OpenRefreshTimer : public GUI::RefreshTimer
{
public:
    using RefreshTimer::RefreshTimer;
    using RefreshTimer::pendingCount;
    using RefreshTimer::statusPage;
    using RefreshTimer::timer;
};
