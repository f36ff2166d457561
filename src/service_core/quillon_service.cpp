#include "service_core/quillon_service.h"

#include <objbase.h>

#include <algorithm>
#include <string>

#include "database/com_errors.h"
#include "pipe_intake/pipe_listener.h"
#include "printer_monitor/printer_watcher.h"
#include "printer_monitor/queue_housekeeping.h"
#include "service_core/configuration.h"

namespace {

// How long the worker body waits for the watcher and the housekeeping thread
// to see the stop event before it closes the events under them.
constexpr DWORD kWorkerStopTimeout = 20000;
// The listener may end by itself on the stop event; only after this grace
// is it forced to end.
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

CQuillonService::CQuillonService()
    : CSvcBase(kServiceName),
      m_hStopEvent(nullptr),
      m_hJobEvent(nullptr),
      m_hPageCounter(nullptr),
      m_pfnGetPageCount(nullptr),
      m_hStopRequested(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CQuillonService::~CQuillonService() {
  if (m_hJobEvent) CloseHandle(m_hJobEvent);
  m_hJobEvent = nullptr;
  if (m_hPageCounter) FreeLibrary(m_hPageCounter);
  m_hPageCounter = nullptr;
  m_pfnGetPageCount = nullptr;
  if (pConnection) {
    // The process is ending either way: a refused close changes nothing.
    try {
      pConnection->Close();
    } catch (const _com_error&) {
    }
  }
  mapUsers.clear();
  mapPrinters.clear();
  mapPermissions.clear();
  m_handledJobs.clear();
  pConnection.Release();
  m_printers.clear();
  m_jobTable.clear();
  if (m_hStopEvent) CloseHandle(m_hStopEvent);
  if (m_hStopRequested) CloseHandle(m_hStopRequested);
}

BOOL CQuillonService::Prepare() { return TRUE; }

void CQuillonService::HandleStop() {
  if (m_hStopRequested) SetEvent(m_hStopRequested);
  std::lock_guard<std::mutex> lock(m_stopEventLock);
  if (m_hStopEvent) SetEvent(m_hStopEvent);
}

bool CQuillonService::WaitForStopRequest(DWORD dwMilliseconds) {
  if (!m_hStopRequested) {
    Sleep(dwMilliseconds);
    return !m_bRunning;
  }
  return WaitForSingleObject(m_hStopRequested, dwMilliseconds) == WAIT_OBJECT_0;
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
    std::string text = ComErrorText(e);
    std::string diagnostic = ComErrorDescription(e);
    if (!diagnostic.empty()) text += " - " + diagnostic;
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, text.c_str());
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
    HMODULE hPrevious = m_hPageCounter;
    m_hPageCounter = LoadLibraryA("pagecnt");
    if (hPrevious) FreeLibrary(hPrevious);
    if (!m_hPageCounter) {
      m_pfnGetPageCount = nullptr;
      ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR,
                       "pagecnt.dll cannot be found\n");
      return;
    }
    m_pfnGetPageCount = reinterpret_cast<PFN_GET_PAGE_COUNT>(
        reinterpret_cast<void*>(GetProcAddress(m_hPageCounter, "GetPageCount")));
    if (!m_pfnGetPageCount) return;

    CoInitialize(nullptr);
    if (!OpenConnection()) {
      CoUninitialize();
      return;
    }
    if (WaitForStopRequest(0)) {
      CoUninitialize();
      return;
    }

    try {
      Serve();
    } catch (...) {
      // Serve has closed what it created; start again from the library,
      // backing off when the failure repeats so that it cannot spin.
      CoUninitialize();
      if (WaitForStopRequest(RestartDelay(++nFailures))) return;
      continue;
    }
    CoUninitialize();
    return;
  }
}

void CQuillonService::PublishStopEvent(HANDLE hStopEvent) {
  std::lock_guard<std::mutex> lock(m_stopEventLock);
  m_hStopEvent = hStopEvent;
  // A stop that came while there was no event to set is honoured now.
  if (m_hStopRequested &&
      WaitForSingleObject(m_hStopRequested, 0) == WAIT_OBJECT_0) {
    SetEvent(hStopEvent);
  }
}

void CQuillonService::CloseServeEvents() {
  HANDLE hStop;
  {
    std::lock_guard<std::mutex> lock(m_stopEventLock);
    hStop = m_hStopEvent;
    m_hStopEvent = nullptr;
  }
  if (hStop) CloseHandle(hStop);
  if (m_hJobEvent) CloseHandle(m_hJobEvent);
  m_hJobEvent = nullptr;
}

void CQuillonService::EndWorkerThreads(HANDLE hWatcher, HANDLE hHousekeeper,
                                       HANDLE hListener) {
  // The listener may sit in ConnectNamedPipe, where it cannot see the stop
  // event: it is forced to end. Not at once, though: a thread ended while it
  // is still starting up can take the loader lock with it, and then every
  // later thread start and exit of the process hangs.
  if (hListener) {
    if (WaitForSingleObject(hListener, kListenerGrace) == WAIT_TIMEOUT) {
      TerminateThread(hListener, 0);
      WaitForSingleObject(hListener, kTerminateTimeout);
    }
    CloseHandle(hListener);
  }
  // The other two end on the stop event; they read it through this object,
  // so it stays open until they have seen it.
  HANDLE workers[2];
  DWORD nWorkers = 0;
  if (hWatcher) workers[nWorkers++] = hWatcher;
  if (hHousekeeper) workers[nWorkers++] = hHousekeeper;
  if (nWorkers) {
    WaitForMultipleObjects(nWorkers, workers, TRUE, kWorkerStopTimeout);
  }
  for (DWORD i = 0; i < nWorkers; ++i) CloseHandle(workers[i]);
}

void CQuillonService::Serve() {
  HANDLE hStop = CreateEventA(nullptr, TRUE, FALSE, kStopEventName);
  if (!hStop) {
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "Cannot create event");
    return;
  }
  PublishStopEvent(hStop);

  // "JOB_EVENT" is a signal for every process on the machine: it carries a
  // descriptor with a null access list. A descriptor with no access list
  // set at all would get the default one of the service's account instead,
  // which ordinary users' programs cannot open.
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};
  m_hJobEvent = CreateEventA(&sa, TRUE, FALSE, kJobEventName);

  try {
    LoadPermissionTable();
    LoadPrinterTable();
    LoadUserTable();
  } catch (...) {
    // Nothing has been started yet; the run sequence starts again.
    CloseServeEvents();
    throw;
  }

  HANDLE hWatcher = CreateThread(nullptr, 0, WatchPrinters, this, 0, nullptr);
  HANDLE hHousekeeper =
      CreateThread(nullptr, 0, CleanQueues, this, CREATE_SUSPENDED, nullptr);
  if (hHousekeeper) {
    SetThreadPriority(hHousekeeper, THREAD_PRIORITY_LOWEST);
    ResumeThread(hHousekeeper);
  }
  HANDLE hListener =
      CreateThread(nullptr, 0, PipeListenerThread, this, 0, nullptr);

  for (;;) {
    DWORD dwWait = WaitForMultipleObjects(1, &hStop, FALSE, INFINITE);
    if (dwWait == WAIT_OBJECT_0) break;
    if (dwWait == WAIT_FAILED) {
      // The event cannot be waited on: stop rather than spin.
      SetEvent(hStop);
      break;
    }
  }

  EndWorkerThreads(hWatcher, hHousekeeper, hListener);
  CloseServeEvents();
}
