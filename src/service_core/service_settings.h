// What only tests change on a service object; the product runs with these
// values.
#pragma once

#include <windows.h>

#include "job_accounting/job_keeper.h"
#include "pipe_intake/pipe_settings.h"

struct CServiceSettings {
  // The pause between GetJobSize's questions to the spooler about a job
  // that still spools.
  DWORD dwJobSizeRetryMs = 1000;
  // How long a stop waits for the service's threads to end before it gives
  // up on them and leaves the process to end them (quillon_service.cpp).
  DWORD dwStopPatienceMs = 30000;
  // The pipe intake's name, pacing, read time-out and administrator check.
  CPipeIntakeSettings pipeIntake;
  // The pass-over limits, the replay's test seam and the pruning of keys.
  KEEPER_SETTINGS keeper;
};
