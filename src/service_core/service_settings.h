// What only tests change on a service object; the product runs with these
// values.
#pragma once

#include <windows.h>

#include <string>

#include "job_accounting/job_keeper.h"
#include "job_accounting/job_thread.h"
#include "pipe_intake/pipe_settings.h"
#include "printer_monitor/watcher_settings.h"

// The housekeeping thread's period, and the age after which it removes an
// entry of the finished-job table.
constexpr DWORD kHousekeepingPeriodMs = 300000;
constexpr DWORD kFinishedJobMaxAge = 900;

struct CServiceSettings {
  // The routine that the watcher starts for a job finished on a GDI printer;
  // tests put an observer here.
  LPTHREAD_START_ROUTINE pfnJobThread = JobThread;
  // The housekeeping period and the finished-job age.
  DWORD dwHousekeepingPeriodMs = kHousekeepingPeriodMs;
  DWORD dwFinishedJobMaxAge = kFinishedJobMaxAge;
  // The printer watcher's pauses between tries and its check interval.
  CWatcherSettings watcher;
  // The journal; empty: quillon.jnl beside the executable.
  std::string sJournalPath;
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
