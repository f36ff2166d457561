// The one service object of the process: everything the service's threads
// share, and the run sequence that prepares the process and serves.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "database/connection.h"
#include "database/permission_entry.h"
#include "pagecnt.h"
#include "printer_monitor/prn_obj.h"
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

  // Reference-table loaders: 1 when the table was read to its end, 0 on a
  // database error (what was read stays).
  int LoadPermissionTable();
  int LoadPrinterTable();
  int LoadUserTable();

  // Stores a permission rule, replacing the rule of the same (printer,
  // user) pair. A null entry is ignored.
  void SetPermission(const PERMISSION_ENTRY* pEntry);
  // The rule that applies to a job: the exact (printer, user) rule, else the
  // printer's rule for every user, else the rule for every printer and every
  // user, else Action 0. Always returns 1; the entry is filled in every case.
  int GetPermission(int32_t idPrinter, int32_t idUser, PERMISSION_ENTRY& entry) const;
  // Appends a USERS row for the name (cut to 254 bytes) and, when the new
  // id comes back, stores it in idUser and in mapUsers. 1 when the append
  // ran (idUser is left alone if no id came back), 0 on a database error.
  int AddUser(const char* pszUserName, int32_t& idUser);

  // mapPrinters and mapUsers are shared by several threads: use these to
  // read and write them. Names are cut to their field width (254 bytes),
  // as the database holds them. Find* return false for an unknown name.
  bool FindPrinter(const char* pszName, int32_t& idPrinter) const;
  void StorePrinter(const char* pszName, int32_t idPrinter);
  bool FindUser(const char* pszName, int32_t& idUser) const;
  void StoreUser(const char* pszName, int32_t idUser);

  HANDLE m_hStopEvent;
  std::map<DWORD, FINISHED_JOB> m_jobTable;
  std::vector<CPrnObj> m_printers;
  HANDLE m_hJobEvent;
  HMODULE m_hPageCounter;
  PFN_GET_PAGE_COUNT m_pfnGetPageCount;
  ConnectionPtr pConnection;
  std::map<DWORD, BOOL> m_handledJobs;
  std::map<DWORD, std::map<DWORD, PERMISSION_ENTRY>> mapPermissions;
  std::map<std::string, int32_t> mapPrinters;
  std::map<std::string, int32_t> mapUsers;

 protected:
  // Creates and opens pConnection from the "DSN" setting; on failure
  // reports event 110 and leaves pConnection empty.
  bool OpenConnection();
  // True when a stop was requested; waits up to dwMilliseconds for one.
  bool WaitForStopRequest(DWORD dwMilliseconds);

 private:
  void PublishStopEvent(HANDLE hStopEvent);
  void CloseServeEvents();
  void EndWorkerThreads(HANDLE hWatcher, HANDLE hHousekeeper, HANDLE hListener);

  // Set by every stop request, also one that arrives before Serve has
  // created "TAMREL_STOP"; the run sequence looks at it between its steps.
  HANDLE m_hStopRequested;
  // Orders HandleStop against the creation and closing of m_hStopEvent.
  std::mutex m_stopEventLock;
  // One reader-writer lock per reference cache; never held while waiting
  // for the database.
  mutable std::shared_mutex m_permissionsLock;
  mutable std::shared_mutex m_printersLock;
  mutable std::shared_mutex m_usersLock;
};
