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

// While a stop waits for the threads, the SCM hears of it this often, and
// is told to expect the next report within the hint.
constexpr DWORD kStopProgressMs = 1000;
constexpr DWORD kStopWaitHintMs = 3000;
// Restarts after a failed worker body back off up to this delay.
constexpr DWORD kMaxRestartDelay = 60000;

DWORD RestartDelay(unsigned nFailures) {
  if (nFailures <= 1) return 0;   // the first restart is immediate
  unsigned shift = std::min(nFailures - 2, 6u);
  return std::min<DWORD>(1000u << shift, kMaxRestartDelay);
}

}  // namespace

// The worker body's threads, ended on every way out of it: the stop event
// is set (on a normal stop it is already) and each thread is waited for
// until it has ended by itself, never ended from outside (a thread ended
// that way can leave the heap or the loader lock held), and so are the
// threads with a ticket of EnterWork (per-job threads, registrations of new
// names) and every job being settled. While that takes time the SCM
// hears STOP_PENDING with a new checkpoint every second. Threads that have
// not ended when the patience runs out are left to the end of the process:
// the events stay open for them and the service object is never destroyed
// (ThreadsLeftRunning).
class CQuillonService::CWorkerThreads {
 public:
  CWorkerThreads(CQuillonService& service, UniqueHandle& stopEvent, UniqueHandle& jobEvent)
      : m_service(service), m_stopEvent(stopEvent), m_jobEvent(jobEvent) {}
  ~CWorkerThreads() { End(); }
  CWorkerThreads(const CWorkerThreads&) = delete;
  CWorkerThreads& operator=(const CWorkerThreads&) = delete;

  void Add(UniqueHandle thread) {
    if (thread) m_threads.push_back(std::move(thread));
  }

  void End() {
    if (m_bEnded) return;
    m_bEnded = true;
    SetEvent(m_stopEvent.get());
    std::vector<HANDLE> waits;
    for (const UniqueHandle& thread : m_threads) waits.push_back(thread.get());
    CJobKeeper& keeper = m_service.Keeper();
    if (keeper.ReplayThread()) waits.push_back(keeper.ReplayThread());
    waits.push_back(keeper.SettledEvent());
    waits.push_back(m_service.m_pWork->IdleEvent());
    // The quotas' refresh ends within its current statement.
    if (m_service.m_quotas.RefreshThread()) waits.push_back(m_service.m_quotas.RefreshThread());
    const ULONGLONG deadline = GetTickCount64() + m_service.m_settings.dwStopPatienceMs;
    for (;;) {
      const DWORD dwWait = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(),
                                                  TRUE, kStopProgressMs);
      if (dwWait != WAIT_TIMEOUT) break;   // ended (or cannot be waited on)
      if (GetTickCount64() >= deadline) {
        m_service.m_bThreadsLeft = true;
        for (UniqueHandle& thread : m_threads) thread.release();
        m_stopEvent.release();
        m_jobEvent.release();
        return;
      }
      // Only a stop the SCM asked for is reported; a restart is none.
      if (m_service.WaitForStopRequest(0)) m_service.ReportStopProgress(kStopWaitHintMs);
    }
    keeper.EndReplaying();
    m_service.m_quotas.EndRefreshing();
  }

 private:
  CQuillonService& m_service;
  UniqueHandle& m_stopEvent;
  UniqueHandle& m_jobEvent;
  std::vector<UniqueHandle> m_threads;
  bool m_bEnded = false;
};

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
    : CSvcBase(kServiceName, kServiceDependencies),
      m_hStopEvent(nullptr),
      m_hJobEvent(nullptr),
      m_pfnGetPageCount(nullptr),
      mapPrinters(kPrinterNameWidth),
      mapUsers(kUserNameWidth),
      m_hStopRequested(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  // A shutdown of the machine is a stop like any other.
  m_status.dwControlsAccepted |= SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SHUTDOWN;
}

CQuillonService::~CQuillonService() {
  // Nothing is torn down while a per-job thread or a registration still
  // uses the object (a service that served has waited for them already).
  m_pWork->WaitIdle(INFINITE);
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

void CQuillonService::HandleShutdown() { HandleStop(); }

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
    // Threads left running keep what they use; no restart beside them.
    if (bServed || m_bThreadsLeft) return;
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

  CWorkerThreads workers(*this, stopEvent, jobEvent);
  // What an earlier run journaled is written first, on the replay thread;
  // jobs that come meanwhile queue behind it.
  Keeper().StartReplaying(stopEvent.get());
  workers.Add(UniqueHandle(CreateThread(nullptr, 0, WatchPrinters, this, 0, nullptr)));
  UniqueHandle housekeeper(
      CreateThread(nullptr, 0, CleanQueues, this, CREATE_SUSPENDED, nullptr));
  if (housekeeper) {
    SetThreadPriority(housekeeper.get(), THREAD_PRIORITY_LOWEST);
    ResumeThread(housekeeper.get());
  }
  workers.Add(std::move(housekeeper));
  workers.Add(UniqueHandle(CreateThread(nullptr, 0, PipeListenerThread, this, 0, nullptr)));
  m_quotas.StartRefreshing(ReadConnectionString(), stopEvent.get());

  HANDLE hStop = stopEvent.get();
  for (;;) {
    DWORD dwWait = WaitForMultipleObjects(1, &hStop, FALSE, INFINITE);
    if (dwWait == WAIT_OBJECT_0) break;
    if (dwWait == WAIT_FAILED) break;   // cannot be waited on: stop rather than spin
  }
  workers.End();
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
    const std::string path =
        m_settings.sJournalPath.empty() ? dir + kJournalFile : m_settings.sJournalPath;
    m_pKeeper.reset(new CJobKeeper(*this, path, cbLimit, m_settings.keeper));
  }
  return *m_pKeeper;
}
