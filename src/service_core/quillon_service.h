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
#include "job_accounting/job_keeper.h"
#include "job_accounting/name_registrations.h"
#include "job_accounting/spool_holds.h"
#include "page_quota/page_quotas.h"
#include "pagecnt.h"
#include "printer_monitor/prn_obj.h"
#include "service_core/service_settings.h"
#include "service_core/win_owners.h"
#include "service_core/work_count.h"
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

class CIniFile;
struct JOB_DATA;

class CQuillonService : public CSvcBase, private IJobRecorder {
 public:
  CQuillonService();
  ~CQuillonService() override;

  void Run() override;
  BOOL Prepare() override;
  void HandleStop() override;
  void HandleShutdown() override;
  virtual void Serve();
  // True when a stop gave up waiting for threads that still run: the
  // process must end without destroying this object, which they use.
  bool ThreadsLeftRunning() const { return m_bThreadsLeft; }

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
  // read), 0 for none. A known user on a known printer is decided from the
  // caches alone. A printer or user seen for the first time is registered
  // on the way, but waited for only kNameWaitMs (name_registrations.h); a
  // printer that cannot be resolved by then gives 0.
  int32_t GetJobCommand(const WCHAR* pwszUser, const WCHAR* pwszPrinter);
  // Records a finished job: takes it (TakeJob) and settles it (SettleJob).
  // Always 1.
  int AccountJob(const JOB_DATA& job, JobOrigin origin = JobOrigin::Client);
  // Journals the job as taken, flushed (CJobKeeper::Take): the first step
  // of accounting, the only one before a pipe client is answered, and the
  // only one the watcher takes for a job finished on a GDI printer.
  CJobKeeper::CTicket TakeJob(const JOB_DATA& job, JobOrigin origin = JobOrigin::Client);
  CJobKeeper::CTicket TakeJob(const TAKEN_JOB& taken);
  // A ticket for the start block of a thread that uses this object beyond
  // the worker body's own threads (a per-job thread, a registration of new
  // names): a stop waits until every such ticket is given back.
  CWorkCount::Ticket EnterWork() { return CWorkCount::Enter(m_pWork); }
  // The rest of the accounting: completes the job's computer (the user's
  // network session), pages (the page counter, for a job without a spooler
  // count or with a file to count: the named file, else the job's spool
  // file, which is only read) and size, appends its PRNDATA row with
  // the printer, user and computer registered on the way and the job's key
  // in JOURNALKEYS, records the printer's user and computer, and pulses
  // "JOB_EVENT". A client's document name is repaired with FixOemText
  // first; the spooler's is taken as it came. A job whose row is not
  // written is left to the replay (CJobKeeper::Settle); the first failure
  // of an outage is reported (event 111), and a job that cannot be
  // journaled either is reported with its facts (event 113). Never throws.
  void SettleJob(CJobKeeper::CTicket ticket);
  // Every job from its taking to its row: the journal, the replay and the
  // outage state. Made at the first use.
  CJobKeeper& Keeper();
  // The job's size in bytes: the watcher's entry in m_jobTable (taken out),
  // else the spooler's JOB_INFO_2 Size, asked up to 30 times while the job
  // still spools. 0 when neither knows it.
  // hStop (may be null) ends the pauses between the questions.
  DWORD GetJobSize(DWORD dwJobId, const char* pszPrinter, HANDLE hStop = nullptr);

  // "TAMREL_STOP" and "JOB_EVENT" are owned by the worker body and published
  // here while it runs; null before and after.
  HANDLE m_hStopEvent;
  std::map<DWORD, FINISHED_JOB> m_jobTable;
  // GDI jobs handed to a per-job thread whose spool data is not yet read:
  // the housekeeping leaves them queued (spool_holds.h).
  CSpoolHolds m_spoolHolds;
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
  // The page quotas: judged at the decision, counted at the accounting,
  // kept up to date with the database by a thread of their own.
  page_quota::CPageQuotas m_quotas;

  // What only tests change.
  CServiceSettings m_settings;

 protected:
  // Creates and opens pConnection from the "DSN" setting; on failure
  // reports event 110 and leaves pConnection empty.
  bool OpenConnection();
  // True when a stop was requested; waits up to dwMilliseconds for one.
  bool WaitForStopRequest(DWORD dwMilliseconds);

 private:
  class CPublishedEvents;
  class CWorkerThreads;
  // Runs the worker body once; false when an exception escaped from it.
  bool ServeOnce();
  void AddListedPrinters(CIniFile& list, DWORD dwKind);
  // PulseEvent on "JOB_EVENT" while the worker body publishes it; the lock
  // keeps the handle from being closed under the pulse.
  void PulseJobEvent();

  // Set by every stop request, also one that arrives before Serve has
  // created "TAMREL_STOP"; the run sequence looks at it between its steps.
  UniqueHandle m_hStopRequested;
  // Orders HandleStop against the publishing and withdrawing of m_hStopEvent.
  std::mutex m_stopEventLock;

  // IJobRecorder: what the keeper asks of the service.
  JOURNALED_JOB CompleteJob(const TAKEN_JOB& taken, HANDLE hStop) override;
  HRESULT WriteJob(const JOURNALED_JOB& job, bool bKeyed, bool bLookUp) override;
  void ReleaseJobFile(const TAKEN_JOB& taken) override;
  ConnectionPtr RecorderConnection() override { return pConnection; }
  void RecorderReport(WORD wType, DWORD dwEventId, const char* s1, const char* s2,
                      const char* s3) override {
    ReportToEventLog(wType, dwEventId, s1, s2, s3);
  }

  std::atomic<bool> m_bThreadsLeft{false};
  // The threads that hold a ticket of EnterWork.
  std::shared_ptr<CWorkCount> m_pWork = std::make_shared<CWorkCount>();
  // New names seen by GetJobCommand.
  CNameRegistrations m_names{*this};
  std::mutex m_keeperLock;
  std::unique_ptr<CJobKeeper> m_pKeeper;
};
