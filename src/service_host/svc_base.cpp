#include "service_host/svc_base.h"

#include <cstring>
#include <initializer_list>

namespace {
// Control codes from 128 up belong to the service itself.
constexpr DWORD kFirstUserControl = 128;
// What the SCM is told to expect after a stop request: the service's own
// stop reports progress (ReportStopProgress) well within this.
constexpr DWORD kStopWaitHintMs = 5000;
}  // namespace

CSvcBase* CSvcBase::s_pInstance = nullptr;

CSvcBase::CSvcBase(const char* pszName, const char* pszDependencies)
    : m_pszDependencies(pszDependencies),
      m_hStatus(nullptr), m_status(), m_bRunning(FALSE), m_hEventLog(nullptr) {
  std::memset(m_szName, 0, sizeof(m_szName));
  std::strncpy(m_szName, pszName ? pszName : "", sizeof(m_szName) - 1);

  m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  m_status.dwCurrentState = SERVICE_STOPPED;
  m_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  m_status.dwWin32ExitCode = 0;
  m_status.dwServiceSpecificExitCode = 0;
  m_status.dwCheckPoint = 0;
  m_status.dwWaitHint = 0;

  s_pInstance = this;
}

CSvcBase::~CSvcBase() {
  if (m_hEventLog) {
    DeregisterEventSource(m_hEventLog);
    m_hEventLog = nullptr;
  }
  if (s_pInstance == this) s_pInstance = nullptr;
}

void CSvcBase::Run() {
  while (m_bRunning) Sleep(5000);
}

BOOL CSvcBase::Prepare() { return TRUE; }
void CSvcBase::HandleStop() {}
void CSvcBase::HandleInterrogate() {}
void CSvcBase::HandlePause() {}
void CSvcBase::HandleContinue() {}
void CSvcBase::HandleShutdown() {}
BOOL CSvcBase::HandleUserControl(DWORD) { return FALSE; }

void CSvcBase::ReportToEventLog(WORD wType, DWORD dwEventId, const char* s1,
                                const char* s2, const char* s3) {
  // Callers pass the strings from the left; a null in the middle is skipped
  // rather than handed to the event log as a string.
  const char* strings[3];
  WORD count = 0;
  for (const char* s : {s1, s2, s3}) {
    if (s) strings[count++] = s;
  }

  // Several threads report through the one object: the first registration
  // that is published wins, a concurrent second one is given back.
  HANDLE hLog = m_hEventLog;
  if (!hLog) {
    HANDLE hNew = RegisterEventSourceA(nullptr, m_szName);
    if (!hNew) return;   // dropped; the next report registers again
    hLog = InterlockedCompareExchangePointer(&m_hEventLog, hNew, nullptr);
    if (hLog) {
      DeregisterEventSource(hNew);
    } else {
      hLog = hNew;
    }
  }
  ReportEventA(hLog, wType, 0, dwEventId, nullptr, count, 0,
               count ? strings : nullptr, nullptr);
}

void CSvcBase::SendStatus() {
  std::lock_guard<std::mutex> lock(m_statusLock);
  SetServiceStatus(m_hStatus, &m_status);
}

void CSvcBase::EnterStopPending() {
  std::lock_guard<std::mutex> lock(m_statusLock);
  m_status.dwCurrentState = SERVICE_STOP_PENDING;
  m_status.dwCheckPoint = 1;
  m_status.dwWaitHint = kStopWaitHintMs;
  SetServiceStatus(m_hStatus, &m_status);
}

void CSvcBase::ReportStopProgress(DWORD dwWaitHintMs) {
  std::lock_guard<std::mutex> lock(m_statusLock);
  if (m_status.dwCurrentState != SERVICE_STOP_PENDING) return;
  ++m_status.dwCheckPoint;
  m_status.dwWaitHint = dwWaitHintMs;
  SetServiceStatus(m_hStatus, &m_status);
}

BOOL CSvcBase::RunDispatcher() {
  SERVICE_TABLE_ENTRYA table[] = {
      {m_szName, ServiceEntry},
      {nullptr, nullptr},
  };
  return StartServiceCtrlDispatcherA(table);
}

void WINAPI CSvcBase::ServiceEntry(DWORD, LPSTR*) {
  CSvcBase* self = s_pInstance;
  self->m_status.dwCurrentState = SERVICE_START_PENDING;
  self->m_hStatus = RegisterServiceCtrlHandlerExA(self->m_szName, ControlHandlerEx, nullptr);
  if (!self->m_hStatus) {
    self->ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_CTRLHANDLERNOTINSTALLED);
    return;
  }
  if (self->StartUp()) {
    self->m_bRunning = TRUE;
    self->m_status.dwWin32ExitCode = 0;
    self->m_status.dwCheckPoint = 0;
    self->m_status.dwWaitHint = 0;
    self->Run();
  }
  self->m_status.dwCurrentState = SERVICE_STOPPED;
  self->m_status.dwCheckPoint = 0;
  self->m_status.dwWaitHint = 0;
  self->SendStatus();
}

BOOL CSvcBase::StartUp() {
  m_status.dwCurrentState = SERVICE_START_PENDING;
  SendStatus();

  BOOL bPrepared = Prepare();
  m_status.dwWin32ExitCode = GetLastError();
  m_status.dwCheckPoint = 0;
  m_status.dwWaitHint = 0;

  if (!bPrepared) {
    ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_FAILEDINIT);
    m_status.dwCurrentState = SERVICE_STOPPED;
    SendStatus();
    return FALSE;
  }
  ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_STARTED);
  m_status.dwCurrentState = SERVICE_RUNNING;
  SendStatus();
  return TRUE;
}

void CSvcBase::ShutdownStop() {
  // The machine shuts down: for a service that asked to hear of it, a stop
  // like any other. The pre-shutdown notice comes before the shutdown and
  // is waited for (up to the system's pre-shutdown time).
  EnterStopPending();
  HandleShutdown();
  m_bRunning = FALSE;
  ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_STOPPED);
}

DWORD WINAPI CSvcBase::ControlHandlerEx(DWORD dwControl, DWORD, LPVOID, LPVOID) {
  ControlHandler(dwControl);
  return NO_ERROR;
}

void WINAPI CSvcBase::ControlHandler(DWORD dwControl) {
  CSvcBase* self = s_pInstance;
  switch (dwControl) {
    case SERVICE_CONTROL_STOP:
      self->EnterStopPending();
      self->HandleStop();
      self->m_bRunning = FALSE;
      self->ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_STOPPED);
      break;
    case SERVICE_CONTROL_PAUSE:
      self->HandlePause();
      break;
    case SERVICE_CONTROL_CONTINUE:
      self->HandleContinue();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      self->HandleInterrogate();
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      if (self->m_status.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN) {
        self->ShutdownStop();
      } else {
        self->HandleShutdown();
      }
      break;
    case SERVICE_CONTROL_PRESHUTDOWN:
      if (self->m_status.dwControlsAccepted & SERVICE_ACCEPT_PRESHUTDOWN) {
        self->ShutdownStop();
      } else {
        self->ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_BADREQUEST);
      }
      break;
    default:
      if (dwControl < kFirstUserControl ||
          !self->HandleUserControl(dwControl)) {
        self->ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_BADREQUEST);
      }
      break;
  }
  self->SendStatus();
}
