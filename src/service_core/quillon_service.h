// The one service object of the process: everything the service's threads
// share, and the run sequence that prepares the process and serves.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "database/connection.h"
#include "database/permission_entry.h"
#include "database/reference_caches.h"
#include "pagecnt.h"
#include "printer_monitor/prn_obj.h"
#include "service_core/win_owners.h"
#include "service_host/svc_base.h"

// An entry of the finished-job table.
struct FINISHED_JOB {
  DWORD dwBytesPrinted;   // as the watcher last saw them
  DWORD dwStoredAt;       // seconds, when the entry was stored
};

constexpr const char kServiceName[] = "Tamrel Quillon Service";
constexpr const char kStopEventName[] = "TAMREL_STOP";
constexpr const char kJobEventName[] = "JOB_EVENT";

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
  // mapUsers; 1 when the append ran, 0 on a database error.
  int AddUser(const char* pszUserName, int32_t& idUser);

  // "TAMREL_STOP" and "JOB_EVENT" are owned by the worker body and published
  // here while it runs; null before and after.
  HANDLE m_hStopEvent;
  std::map<DWORD, FINISHED_JOB> m_jobTable;
  std::vector<CPrnObj> m_printers;
  HANDLE m_hJobEvent;
  ModuleHandle m_hPageCounter;
  PFN_GET_PAGE_COUNT m_pfnGetPageCount;
  ConnectionPtr pConnection;
  std::map<DWORD, BOOL> m_handledJobs;
  CPermissionMap mapPermissions;
  CNameIdMap mapPrinters;
  CNameIdMap mapUsers;
  // The private caches of the computer and printer registrations and of the
  // printer links (database/registration.h, database/printer_links.h).
  CRegistrationCaches m_registrations;

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

  // Set by every stop request, also one that arrives before Serve has
  // created "TAMREL_STOP"; the run sequence looks at it between its steps.
  UniqueHandle m_hStopRequested;
  // Orders HandleStop against the publishing and withdrawing of m_hStopEvent.
  std::mutex m_stopEventLock;
};
