// A thread's own handle of the service's stop event, so that the run
// sequence may close its handle while the thread is still on its way to its
// next wait.
#pragma once

#include <windows.h>

#include "service_core/win_owners.h"

// A duplicate with SYNCHRONIZE access; empty when hStop is null or cannot
// be duplicated, and the caller then waits on hStop itself.
UniqueHandle DuplicateStopEvent(HANDLE hStop);
