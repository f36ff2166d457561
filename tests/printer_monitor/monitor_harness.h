// What the printer monitoring tests share: a service object in a temporary
// current directory, with the simulated event log and spooler, the printer
// lists written there, the watcher run on a thread of its own, and an
// observer in place of the per-job thread.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "event_log_sim.h"
#include "job_accounting/job_data.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"
#include "sim_fixture.h"
#include "spooler_sim.h"
#include "temp_directory.h"

// Bounds for waits on what the code under test does; never reached when it
// works.
constexpr DWORD kWaitMs = 20000;

// What a per-job thread was started with.
struct HANDED_OFF {
  std::wstring printer;
  JOB_DATA job;
  bool bCopiesKnown;
  bool bSizeKnown;
  DWORD dwSize;
};

// A record's text field as a wide string.
#define JOB_TEXT(job, name)                                                  \
  std::wstring(reinterpret_cast<const wchar_t*>((job).name),                \
               wcsnlen(reinterpret_cast<const wchar_t*>((job).name),        \
                       sizeof((job).name) / sizeof(WCHAR)))

// Stands in for JobThread: records its start block and deletes it.
class CJobThreadObserver {
 public:
  static DWORD WINAPI Routine(LPVOID pParam);
  static void Clear();
  static std::vector<HANDED_OFF> Taken();
  // Waits until n jobs were handed off; false when the time is up.
  static bool WaitTaken(size_t n);
};

class CMonitorHarness {
 public:
  CMonitorHarness();
  ~CMonitorHarness();

  // Writes printers.lst and gdiprinters.lst with the header and the entries.
  void WriteLists(const std::vector<std::string>& normal, const std::vector<std::string>& gdi);
  // Starts WatchPrinters and waits until nArmed notifications are armed and
  // their first refresh has been dealt with.
  bool StartWatcher(int nArmed);
  // Sets the stop event and waits for the watcher to end; false if it did
  // not end in time.
  bool StopWatcher();
  // Waits until at least n fetches were made since the watcher started
  // watching and every block was given back, so that the notifications
  // fetched so far have been dealt with.
  bool WaitFetched(DWORD n);
  // Closes and empties m_printers, for tests that fill it themselves.
  void ClosePrinters();

  CTempDirectory dir;
  sim::Owned<sim::EventLog> eventLog;
  sim::Owned<sim::Spooler> spooler;
  std::unique_ptr<CQuillonService> service;
  UniqueHandle stop;
  UniqueHandle watcher;
  DWORD dwFetchesAtStart = 0;
};
