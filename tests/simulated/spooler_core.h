// The simulated spooler itself: printers, their queues, the change
// notifications, the job commands and the job listings, over a spooler
// State that lives either on the heap of a test program (sim::Spooler) or
// in a file mapping shared by the winspool.drv stand-in and the test program
// that drives it (spooler_dll/). Free of any test framework, so that the
// DLL carries the same code. What it does follows the Win32 reference and
// the print system's protocol [MS-RPRN]; each behaviour names its source.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "spooler_state.h"

namespace sim {

// A device mode with the given settings, dmFields saying which are set, of
// the full DEVMODEW size; a test may lower dmSize to give an older layout.
DEVMODEW MakeDevMode(short paperSize, short copies, short color, short duplex);

// The facts of one job as a test sets them. An empty text is a job without
// that text.
struct JobFields {
  std::optional<std::wstring> document = std::wstring(L"Document");
  std::optional<std::wstring> user = std::wstring(L"user");
  std::optional<std::wstring> machine = std::wstring(L"\\\\CLIENT");
  DWORD status = 0;
  DWORD bytesPrinted = 0;
  DWORD totalBytes = 0;
  DWORD totalPages = 0;
  DWORD pagesPrinted = 0;
  std::optional<DEVMODEW> devMode = MakeDevMode(DMPAPER_A4, 1, DMCOLOR_MONOCHROME, DMDUP_SIMPLEX);
  std::optional<SYSTEMTIME> submitted = SYSTEMTIME{2024, 3, 5, 1, 10, 0, 0, 0};   // UTC
  // What the driver wrote for the job. With a spool directory
  // (SetSpoolDirectory), AddJob keeps the job there as its spool file,
  // held open for writing while the job is queued, and its shadow file
  // with shadowDevMode, or else the job's own device mode. Neither is part
  // of the record that Job() gives and UpdateJob changes.
  std::string spoolData;
  std::optional<DEVMODEW> shadowDevMode;
};

// One SetJobA call as the spooler received it.
struct JobCommand {
  std::string printer;
  DWORD jobId = 0;
  DWORD command = 0;
  bool applied = false;   // false: refused (unknown job, other printer, bad level, injected)
  bool operator==(const JobCommand& o) const {
    return printer == o.printer && jobId == o.jobId && command == o.command && applied == o.applied;
  }
};

// One FindNextPrinterChangeNotification call.
struct Fetch {
  std::string printer;
  bool refreshAsked = false;
  spool::FetchOutcome outcome = spool::FetchOutcome::Data;
  DWORD entries = 0;
  DWORD jobs = 0;
};

// Counters that tests wait on and the leak check reads.
struct SpoolerCounts {
  int openPrinters = 0;
  int openNotifications = 0;
  DWORD fetches = 0;
  DWORD blocksGiven = 0;
  DWORD blocksFreed = 0;
  DWORD commands = 0;
  DWORD enumJobsCalls = 0;
  DWORD getJobCalls = 0;
};

// Where the spooler's State lives and how calls on it are serialised.
struct SpoolerPlace {
  spool::State* state;
  HANDLE lock;           // a mutex, possibly named and shared
  HANDLE activity;       // auto-reset event set after every change; one waiter
  std::string eventPrefix;   // notification events are named <prefix>.Change.<serial>
};

class SpoolerCore {
 public:
  explicit SpoolerCore(SpoolerPlace place);
  ~SpoolerCore();
  SpoolerCore(const SpoolerCore&) = delete;
  SpoolerCore& operator=(const SpoolerCore&) = delete;

  // ---- The platform functions, with their documented behaviour.
  BOOL OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);
  BOOL ClosePrinter(HANDLE hPrinter);
  HANDLE FindFirstPrinterChangeNotification(HANDLE hPrinter, DWORD fdwFilter, DWORD fdwOptions,
                                            LPVOID pPrinterNotifyOptions);
  BOOL FindNextPrinterChangeNotification(HANDLE hChange, PDWORD pdwChange,
                                         LPVOID pPrinterNotifyOptions, LPVOID* ppPrinterNotifyInfo);
  BOOL FindClosePrinterChangeNotification(HANDLE hChange);
  BOOL FreePrinterNotifyInfo(PPRINTER_NOTIFY_INFO pInfo);
  BOOL SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command);
  BOOL EnumJobsA(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob,
                 DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
  BOOL GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
               LPDWORD pcbNeeded);
  BOOL GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
               LPDWORD pcbNeeded);

  // ---- What a test does to the spooler.
  // False when the name exists already or there is no room.
  bool AddPrinter(const std::string& name);
  // FindFirstPrinterChangeNotification on this printer fails from now on.
  bool RefuseNotifications(const std::string& printer, bool refuse);
  // The printer's "keep printed documents" (off by default).
  bool KeepPrintedJobs(const std::string& printer, bool keep);
  // The directory where the spooler keeps the files of the jobs it queues
  // from now on ("" for none, the default). A job's files go when it
  // leaves the queue.
  void SetSpoolDirectory(const std::string& directory);
  // Appends a job to the printer's queue; returns its id (spooler-wide,
  // increasing), or 0 when the printer is unknown or the spooler full.
  DWORD AddJob(const std::string& printer, const JobFields& fields = JobFields());
  // Changes a queued job in place; false when it is not queued.
  bool UpdateJob(DWORD jobId, const std::function<void(JobFields&)>& change);
  // The job leaves its queue (it printed and went, or was deleted).
  bool RemoveJob(DWORD jobId);
  // Walks a queued job through its print: printing (no longer spooling),
  // then printed with all its bytes and pages, then, unless its printer
  // keeps printed documents, out of the queue. Each step is a change of its
  // own.
  bool PrintJob(DWORD jobId);
  std::optional<JobFields> Job(DWORD jobId) const;
  // The ids queued on a printer, in queue order.
  std::vector<DWORD> Queue(const std::string& printer) const;

  // The spooler stops: every printer and notification handle given out so
  // far is no longer valid, and until it starts again no call reaches it.
  // The queues stay.
  void Stop();
  void Start();

  std::vector<JobCommand> Commands() const;
  std::vector<Fetch> Fetches() const;
  SpoolerCounts Counts() const;

  // The next n FindNextPrinterChangeNotification calls fail, or give a
  // block flagged PRINTER_NOTIFY_INFO_DISCARDED; the next n EnumJobsA or
  // SetJobA calls fail.
  void FailNextFetches(DWORD n);
  void DiscardNextFetches(DWORD n);
  void FailNextEnumJobs(DWORD n);
  void FailNextSetJobs(DWORD n);

  // Waits until the counters satisfy `done`, or the time is up (false).
  bool WaitUntil(const std::function<bool(const SpoolerCounts&)>& done, DWORD timeoutMs) const;
  bool WaitForCommands(DWORD n, DWORD timeoutMs) const;
  bool WaitForFetches(DWORD n, DWORD timeoutMs) const;

  // Empty when every handle was closed and every block freed exactly once
  // and no call used a handle that was not open.
  std::string Leaks() const;

 private:
  class Guard;
  int FindPrinter(const char* name) const;
  // The printer of a handle of this process; -1 (and the call's error set)
  // when it is not open or no longer valid.
  int PrinterOfHandle(HANDLE h);
  int NotificationOfHandle(HANDLE h) const;
  spool::JobSlot* QueuedJob(DWORD jobId, int printer);
  void Changed(int jobSlot, DWORD fields, DWORD condition);
  void Signal(spool::NotificationSlot& n);
  void FreeGoneJobs();
  void Active() const;
  PPRINTER_NOTIFY_INFO BuildBlock(spool::NotificationSlot& n, bool refresh, DWORD flags);
  std::vector<int> QueueSlots(int printer) const;
  BOOL ListJobs(const std::vector<int>& slots, DWORD level, bool wide, LPBYTE pJob, DWORD cbBuf,
                LPDWORD pcbNeeded, LPDWORD pcReturned);
  BOOL GetJob(HANDLE hPrinter, DWORD JobId, DWORD Level, bool wide, LPBYTE pJob, DWORD cbBuf,
              LPDWORD pcbNeeded);

  SpoolerPlace m_place;
  spool::State& m_s;
  // The spool files this process holds open, by job id.
  std::map<DWORD, HANDLE> m_spoolFiles;
  // Freed blocks stay allocated, poisoned, for a while: a block used or freed
  // after its release is then seen rather than silently reused.
  std::deque<void*> m_retired;
};

// The core that the platform functions reach: the in-process piece's, or the
// DLL's process-wide one. Null when there is none.
SpoolerCore* CurrentSpoolerCore();

}  // namespace sim
