// The one service object of the process: everything the service's threads
// share, and the run sequence that prepares the process and serves.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "database/connection.h"
#include "database/permission_entry.h"
#include "database/reference_caches.h"
#include "pagecnt.h"
#include "pipe_intake/pipe_settings.h"
#include "job_accounting/refusal_streak.h"
#include "printer_monitor/prn_obj.h"
#include "printer_monitor/watcher_settings.h"
#include "service_core/win_owners.h"
#include "service_host/svc_base.h"

// An entry of the finished-job table.
struct FINISHED_JOB {
  DWORD dwBytesPrinted;   // as the watcher last saw them
  DWORD dwStoredAt;       // seconds, when the entry was stored
};

constexpr const char kServiceName[] = "Tamrel Quillon Service";
// The service starts after the print spooler (a double-NUL list for -i).
constexpr const char kServiceDependencies[] = "Spooler\0";
constexpr const char kStopEventName[] = "TAMREL_STOP";
// In the global namespace, where a program of any session opens it by this
// name; for a service of session 0 the same object as "JOB_EVENT".
constexpr const char kJobEventName[] = "Global\\JOB_EVENT";
// The printer lists, beside the executable (the current directory).
constexpr const char kPrinterListFile[] = "printers.lst";
constexpr const char kGdiPrinterListFile[] = "gdiprinters.lst";
// The housekeeping thread's period and the age after which it removes an
// entry of the finished-job table.
constexpr DWORD kHousekeepingPeriodMs = 300000;
constexpr DWORD kFinishedJobMaxAge = 900;

// Where a job to account comes from.
enum class JobOrigin {
  Client,    // a job report on the pipe: texts a client converted from ANSI
  Spooler,   // the watcher: texts the spooler gave as UTF-16
};

class CIniFile;
class CJobJournal;
struct JOB_DATA;
struct JOURNALED_JOB;

class CQuillonService : public CSvcBase {
 public:
  CQuillonService();
  ~CQuillonService() override;

  void Run() override;
  BOOL Prepare() override;
  void HandleStop() override;
  virtual void Serve();

  // The reference caches and their database side (database/reference_tables.h,
  // on this object's connection): loaders return 1 when the table was read
  // to its end, 0 on a database error (what was read stays).
  int LoadPermissionTable();
  int LoadPrinterTable();
  int LoadUserTable();
  // Stores a permission rule, replacing the rule of the same (printer,
  // user) pair. A null entry is ignored.
  void SetPermission(const PERMISSION_ENTRY* pEntry);
  // The rule that applies to a job (see CPermissionMap::Get). Always
  // returns 1; the entry is filled in every case.
  int GetPermission(int32_t idPrinter, int32_t idUser, PERMISSION_ENTRY& entry) const;
  // Appends a USERS row for the name and stores its new id in idUser and
  // mapUsers (the existing row's id when the schema's unique key holds the
  // name already; see AppendUser); 1 when the append ran, 0 on a database
  // error.
  int AddUser(const char* pszUserName, int32_t& idUser);

  // Fills m_printers from printers.lst, then gdiprinters.lst (created with
  // their header when missing): every entry, in file order, opened. A
  // printer that does not open is reported with event 109 (the entry and the
  // system's text) and kept with a null handle, for the watcher to try
  // again; a list that cannot be opened, and the absence of entries, with
  // event 110 "Bad ini file". FALSE (watch nothing) when gdiprinters.lst
  // cannot be opened or neither list has an entry; printers loaded before
  // that stay in the list.
  BOOL LoadPrinters();
  // The job-control command that the permission rules give a new job of
  // this user on this printer (JOB_DATA fields: at most 255 characters are
  // read), 0 for none. A printer or user seen for the first time is
  // registered on the way; a printer that cannot be resolved gives 0.
  int32_t GetJobCommand(const WCHAR* pwszUser, const WCHAR* pwszPrinter);
  // Records a finished job: completes its computer (the user's network
  // session), pages (the page counter, for a job without a spooler count or
  // with a file to count) and size, appends its PRNDATA row with the
  // printer, user and computer registered on the way, records the
  // printer's user and computer, and pulses "JOB_EVENT". Always 1. A job
  // whose database steps fail, or that comes while the journal still holds
  // jobs (so that the order stays), is appended to the journal and flushed
  // before this returns; the first failure of an outage is reported (event
  // 111), and a job that cannot be journaled either (the journal is full)
  // is reported with its facts (event 113). A client's document name is
  // repaired with FixOemText first; the spooler's is taken as it came.
  int AccountJob(const JOB_DATA& job, JobOrigin origin = JobOrigin::Client);
  // Writes the journal's jobs to the database in journal order, each by the
  // registrations, the append and the links of AccountJob, its row together
  // with its key in JOURNALKEYS in one transaction, and a job whose key is
  // there already is skipped; the journal is emptied only when every job
  // read from it is written. Reopens the connection first when a step
  // since the last success failed with a lost connection, or failed for a
  // reason it did not name and the connection's probe failed too; any other
  // failure is retried on the same connection. A job the database keeps
  // refusing is passed over by the rule in journal_replay.cpp (event 114).
  // Reports event 112 when an outage ends. True when the journal is empty
  // afterwards.
  bool ReplayJournal();
  // The journal, in the executable's directory, bound by "JournalLimitKB".
  CJobJournal& Journal();
  // The job's size in bytes: the watcher's entry in m_jobTable (taken out),
  // else the spooler's JOB_INFO_2 Size, asked up to 30 times while the job
  // still spools. 0 when neither knows it.
  DWORD GetJobSize(DWORD dwJobId, const char* pszPrinter);

  // "TAMREL_STOP" and "JOB_EVENT" are owned by the worker body and published
  // here while it runs; null before and after.
  HANDLE m_hStopEvent;
  std::map<DWORD, FINISHED_JOB> m_jobTable;
  std::vector<CPrnObj> m_printers;
  // Held shared by a housekeeping pass while it uses an element, and
  // exclusively while the list is filled or closed and emptied and while the
  // watcher opens or closes an element's handle.
  std::shared_mutex m_printersLock;
  HANDLE m_hJobEvent;
  ModuleHandle m_hPageCounter;
  PFN_GET_PAGE_COUNT m_pfnGetPageCount;
  ConnectionPtr pConnection;
  std::map<DWORD, BOOL> m_handledJobs;
  // Keeps the watcher and the housekeeping thread apart on m_handledJobs.
  std::mutex m_handledJobsLock;
  CPermissionMap mapPermissions;
  CNameIdMap mapPrinters;
  CNameIdMap mapUsers;
  // The private caches of the computer and printer registrations and of the
  // printer links (database/registration.h, database/printer_links.h).
  CRegistrationCaches m_registrations;

  // The routine that the watcher starts for a job finished on a GDI printer
  // (JobThread); tests put an observer here.
  LPTHREAD_START_ROUTINE m_pfnJobThread;
  // The housekeeping period and the finished-job age; the constants above,
  // shortened only by tests.
  DWORD m_dwHousekeepingPeriodMs;
  DWORD m_dwFinishedJobMaxAge;
  // The pause between GetJobSize's questions to the spooler (1000 ms).
  DWORD m_dwJobSizeRetryMs;
  // Called after a replayed row's commit, before anything else: a seam for
  // the tests that end a replay at that moment. Null in the service.
  void (*m_pfnAfterReplayCommit)(CQuillonService*);
  // The limits of the rule that passes over a journaled job the database
  // keeps refusing (journal_replay.cpp): refusals in a row, and the time
  // from the first to the last of them. Lowered only by tests.
  unsigned m_nPassOverRefusals;
  DWORD m_dwPassOverAfterMs;
  // The pipe intake's name, pacing, read time-out and administrator check.
  CPipeIntakeSettings m_pipeIntake;
  // The printer watcher's pauses between tries and its check interval.
  CWatcherSettings m_watcherSettings;
  // How often the worker body had to end the listener forcibly at stop (it
  // ends by itself on the stop event; this is the last resort).
  std::atomic<unsigned> m_nListenerTerminations;

 protected:
  // Creates and opens pConnection from the "DSN" setting; on failure
  // reports event 110 and leaves pConnection empty.
  bool OpenConnection();
  // True when a stop was requested; waits up to dwMilliseconds for one.
  bool WaitForStopRequest(DWORD dwMilliseconds);

 private:
  class CPublishedEvents;
  // Runs the worker body once; false when an exception escaped from it.
  bool ServeOnce();
  void EndWorkerThreads(HANDLE hWatcher, HANDLE hHousekeeper, HANDLE hListener);
  void AddListedPrinters(CIniFile& list, DWORD dwKind);
  // PulseEvent on "JOB_EVENT" while the worker body publishes it; the lock
  // keeps the handle from being closed under the pulse.
  void PulseJobEvent();

  // Set by every stop request, also one that arrives before Serve has
  // created "TAMREL_STOP"; the run sequence looks at it between its steps.
  UniqueHandle m_hStopRequested;
  // Orders HandleStop against the publishing and withdrawing of m_hStopEvent.
  std::mutex m_stopEventLock;

  // The database side of one job's facts; bKeyed: a journaled job, written
  // with its key in one transaction. S_FALSE when the key was there already.
  HRESULT WriteJob(const JOURNALED_JOB& job, bool bKeyed);
  // Journals a job whose row is not written; reports the outage or the loss.
  // bReopen: the failure calls for a new connection before the replay.
  void KeepJob(JOURNALED_JOB& job, const std::string& why, bool bReopen);
  // What a failure of a database step means for the next attempt; pError
  // is null for a failure that is no _com_error (lack of memory).
  struct FAILURE_VERDICT {
    DbFailure kind;
    bool bReopen;    // the connection is lost, or the probe failed
    bool bRefusal;   // the database refused, and the probe found it sound
  };
  FAILURE_VERDICT JudgeFailure(const _com_error* pError);
  // Records a passed-over job's key in JOURNALKEYS, so that no replay tries
  // it again, and reports it with all its facts (event 114).
  void PassOver(const JOURNALED_JOB& job, const std::string& why);
  static DWORD WINAPI ReplayThread(LPVOID pParam);

  std::unique_ptr<CJobJournal> m_pJournal;
  // Orders the journal's appends and clears, and the outage state below.
  std::mutex m_journalLock;
  size_t m_nJournaled;       // jobs in the journal, not yet known written
  bool m_bOutage;            // event 111 reported, 112 not yet
  bool m_bReopen;            // a step failed: reopen before the next replay
  unsigned m_nReplayFailures;
  size_t m_nReplayWritten;   // by the replays since the outage began
  CRefusalStreak m_refusals; // of the job at the head of the journal
  // Set when a job is journaled: the replay thread tries at once.
  UniqueHandle m_hReplayKick;
};
