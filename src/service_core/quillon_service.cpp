#include "service_core/quillon_service.h"

#include <algorithm>
#include <string>

#include "database/com_errors.h"
#include "database/record_classes.h"
#include "database/reference_tables.h"
#include "job_accounting/job_journal.h"
#include "job_accounting/job_keeper.h"
#include "job_accounting/job_thread.h"
#include "pipe_intake/pipe_listener.h"
#include "printer_monitor/printer_watcher.h"
#include "printer_monitor/queue_housekeeping.h"
#include "service_core/configuration.h"
#include "service_core/exc.h"
#include "service_core/wait_only_security.h"

namespace {

// How long the worker body waits for the watcher and the housekeeping thread
// to see the stop event before it closes the events under them.
constexpr DWORD kWorkerStopTimeout = 20000;
// The listener ends by itself on the stop event; only a listener that has
// not ended after this grace is forced to end.
constexpr DWORD kListenerGrace = 2000;
// A forcibly ended thread is gone within moments; the wait is only a bound.
constexpr DWORD kTerminateTimeout = 5000;
// Restarts after a failed worker body back off up to this delay.
constexpr DWORD kMaxRestartDelay = 60000;

DWORD RestartDelay(unsigned nFailures) {
  if (nFailures <= 1) return 0;   // the first restart is immediate
  unsigned shift = std::min(nFailures - 2, 6u);
  return std::min<DWORD>(1000u << shift, kMaxRestartDelay);
}

}  // namespace

// Publishes the worker body's events in m_hStopEvent and m_hJobEvent for the
// length of one pass, and withdraws them on every way out of it, before
// their owners close them.
class CQuillonService::CPublishedEvents {
 public:
  CPublishedEvents(CQuillonService& service, HANDLE hStop, HANDLE hJob)
      : m_service(service) {
    std::lock_guard<std::mutex> lock(m_service.m_stopEventLock);
    m_service.m_hStopEvent = hStop;
    m_service.m_hJobEvent = hJob;
    // A stop that came while there was no event to set is honoured now.
    if (m_service.m_hStopRequested &&
        WaitForSingleObject(m_service.m_hStopRequested.get(), 0) == WAIT_OBJECT_0) {
      SetEvent(hStop);
    }
  }
  ~CPublishedEvents() {
    std::lock_guard<std::mutex> lock(m_service.m_stopEventLock);
    m_service.m_hStopEvent = nullptr;
    m_service.m_hJobEvent = nullptr;
  }
  CPublishedEvents(const CPublishedEvents&) = delete;
  CPublishedEvents& operator=(const CPublishedEvents&) = delete;

 private:
  CQuillonService& m_service;
};

CQuillonService::CQuillonService()
    : CSvcBase(kServiceName),
      m_hStopEvent(nullptr),
      m_hJobEvent(nullptr),
      m_pfnGetPageCount(nullptr),
      mapPrinters(kPrinterNameWidth),
      mapUsers(kUserNameWidth),
      m_pfnJobThread(JobThread),
      m_dwHousekeepingPeriodMs(kHousekeepingPeriodMs),
      m_dwFinishedJobMaxAge(kFinishedJobMaxAge),
      m_nListenerTerminations(0),
      m_hStopRequested(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CQuillonService::~CQuillonService() {
  // The events belong to the worker body, which has closed them by now.
  m_pfnGetPageCount = nullptr;
  m_hPageCounter.reset();
  if (pConnection) {
    // The process is ending either way: a refused close changes nothing.
    try {
      pConnection->Close();
    } catch (const _com_error&) {
    }
  }
  mapUsers.Clear();
  mapPrinters.Clear();
  mapPermissions.Clear();
  m_handledJobs.clear();
  pConnection.Release();
  m_printers.clear();
  m_jobTable.clear();
}

BOOL CQuillonService::Prepare() { return TRUE; }

void CQuillonService::HandleStop() {
  if (m_hStopRequested) SetEvent(m_hStopRequested.get());
  std::lock_guard<std::mutex> lock(m_stopEventLock);
  if (m_hStopEvent) SetEvent(m_hStopEvent);
}

void CQuillonService::PulseJobEvent() {
  std::lock_guard<std::mutex> lock(m_stopEventLock);
  if (m_hJobEvent) PulseEvent(m_hJobEvent);
}

bool CQuillonService::WaitForStopRequest(DWORD dwMilliseconds) {
  if (!m_hStopRequested) {
    Sleep(dwMilliseconds);
    return !m_bRunning;
  }
  return WaitForSingleObject(m_hStopRequested.get(), dwMilliseconds) == WAIT_OBJECT_0;
}

bool CQuillonService::OpenConnection() {
  try {
    HRESULT hr = pConnection.CreateInstance();
    if (FAILED(hr)) throw _com_error(hr);
    pConnection->Open(ReadConnectionString());
    return true;
  } catch (const _com_error& e) {
    // The system's text for the HRESULT, and what the driver said, so that
    // an administrator can see why the database did not open.
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, ComFailureText(e).c_str());
    pConnection.Release();
    return false;
  }
}

void CQuillonService::Run() {
  SetModuleDirectory();

  for (unsigned nFailures = 0;;) {
    if (WaitForStopRequest(0)) return;

    // A restart loads the library again; the reference of the earlier pass
    // is given back only after the new one is held, so the module stays.
    m_hPageCounter = ModuleHandle(LoadLibraryA("pagecnt"));
    if (!m_hPageCounter) {
      m_pfnGetPageCount = nullptr;
      ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR,
                       "pagecnt.dll cannot be found\n");
      return;
    }
    m_pfnGetPageCount = reinterpret_cast<PFN_GET_PAGE_COUNT>(reinterpret_cast<void*>(
        GetProcAddress(m_hPageCounter.get(), "GetPageCount")));
    if (!m_pfnGetPageCount) return;

    bool bServed;
    {
      ComApartment apartment;
      if (!OpenConnection() || WaitForStopRequest(0)) return;
      bServed = ServeOnce();
    }
    if (bServed) return;
    // Serve has closed what it created; start again from the library,
    // backing off when the failure repeats so that it cannot spin.
    if (WaitForStopRequest(RestartDelay(++nFailures))) return;
  }
}

bool CQuillonService::ServeOnce() {
  try {
    Serve();
    return true;
  } catch (CExc* pExc) {
    delete pExc;   // the catcher owns the system's own exceptions
    return false;
  } catch (...) {
    return false;
  }
}

void CQuillonService::EndWorkerThreads(HANDLE hWatcher, HANDLE hHousekeeper,
                                       HANDLE hListener) {
  // The listener waits for clients together with the stop event and ends at
  // once. Forcing it to end is a last resort for a listener that hangs, and
  // never at once: a thread ended while it is still starting up can take the
  // loader lock with it, and then every later thread start and exit of the
  // process hangs.
  if (hListener && WaitForSingleObject(hListener, kListenerGrace) == WAIT_TIMEOUT) {
    ++m_nListenerTerminations;
    TerminateThread(hListener, 0);
    WaitForSingleObject(hListener, kTerminateTimeout);
  }
  // The other two end on the stop event; they read it through this object,
  // so it stays open until they have seen it.
  HANDLE workers[2];
  DWORD nWorkers = 0;
  if (hWatcher) workers[nWorkers++] = hWatcher;
  if (hHousekeeper) workers[nWorkers++] = hHousekeeper;
  if (nWorkers) WaitForMultipleObjects(nWorkers, workers, TRUE, kWorkerStopTimeout);
}

void CQuillonService::Serve() {
  // Declared in the reverse order of closing: the stop event goes first.
  UniqueHandle jobEvent;
  UniqueHandle stopEvent(CreateEventA(nullptr, TRUE, FALSE, kStopEventName));
  if (!stopEvent) {
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "Cannot create event");
    return;
  }
  // "JOB_EVENT" is a signal for every process on the machine to wait on,
  // and for nobody but the service to set.
  CWaitOnlySecurity jobEventSecurity;
  jobEvent.reset(CreateEventA(jobEventSecurity.Attributes(), TRUE, FALSE, kJobEventName));
  CPublishedEvents published(*this, stopEvent.get(), jobEvent.get());

  // A loader that throws leaves nothing started; the run sequence starts
  // again and the owners above close the events.
  LoadPermissionTable();
  LoadPrinterTable();
  LoadUserTable();
  // What an earlier run journaled is written first, on the replay thread;
  // jobs that come meanwhile queue behind it.
  Keeper().StartReplaying(stopEvent.get());
  UniqueHandle watcher(CreateThread(nullptr, 0, WatchPrinters, this, 0, nullptr));
  UniqueHandle housekeeper(
      CreateThread(nullptr, 0, CleanQueues, this, CREATE_SUSPENDED, nullptr));
  if (housekeeper) {
    SetThreadPriority(housekeeper.get(), THREAD_PRIORITY_LOWEST);
    ResumeThread(housekeeper.get());
  }
  UniqueHandle listener(CreateThread(nullptr, 0, PipeListenerThread, this, 0, nullptr));

  HANDLE hStop = stopEvent.get();
  for (;;) {
    DWORD dwWait = WaitForMultipleObjects(1, &hStop, FALSE, INFINITE);
    if (dwWait == WAIT_OBJECT_0) break;
    if (dwWait == WAIT_FAILED) {
      // The event cannot be waited on: stop rather than spin.
      SetEvent(hStop);
      break;
    }
  }

  EndWorkerThreads(watcher.get(), housekeeper.get(), listener.get());
  // A replay in progress ends with its current job.
  Keeper().EndReplaying();
}

int CQuillonService::LoadPermissionTable() {
  return LoadPermissionRows(pConnection, mapPermissions);
}

int CQuillonService::LoadPrinterTable() { return LoadPrinterRows(pConnection, mapPrinters); }

int CQuillonService::LoadUserTable() { return LoadUserRows(pConnection, mapUsers); }

void CQuillonService::SetPermission(const PERMISSION_ENTRY* pEntry) {
  if (pEntry) mapPermissions.Set(*pEntry);
}

int CQuillonService::GetPermission(int32_t idPrinter, int32_t idUser,
                                   PERMISSION_ENTRY& entry) const {
  entry = mapPermissions.Get(idPrinter, idUser);
  return 1;
}

int CQuillonService::AddUser(const char* pszUserName, int32_t& idUser) {
  return AppendUser(pConnection, mapUsers, pszUserName, idUser);
}

CJobKeeper& CQuillonService::Keeper() {
  std::lock_guard<std::mutex> lock(m_keeperLock);
  if (!m_pKeeper) {
    char szPath[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string dir(szPath, n < MAX_PATH ? n : 0);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    const uint64_t cbLimit =
        static_cast<uint64_t>(ReadJournalLimitKB(kDefaultJournalLimitKB)) * 1024;
    m_pKeeper.reset(new CJobKeeper(*this, dir + kJournalFile, cbLimit, m_settings.keeper));
  }
  return *m_pKeeper;
}
