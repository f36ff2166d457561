#include "pipe_intake/pipe_listener.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "service_core/work_count.h"
#include "pipe_intake/pipe_connection.h"
#include "pipe_intake/pipe_security.h"
#include "service_core/text_utils.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

namespace {

constexpr DWORD kMaxInstances = 100;
constexpr DWORD kBufferBytes = 1024;
constexpr DWORD kDefaultTimeoutMs = 1000;
// A name that cannot be had, or an instance that fails, is tried again
// after 1 s, 2 s, 4 s, ... up to this.
constexpr DWORD kMaxRetryMs = 30000;

bool IsClientGone(DWORD dwError) {
  return dwError == ERROR_NO_DATA || dwError == ERROR_BROKEN_PIPE ||
         dwError == ERROR_PIPE_NOT_CONNECTED;
}

std::string SystemText(DWORD dwError) {
  SetLastError(dwError);
  LocalBuffer<char> text(GetLastErrorText());
  std::string s = text ? text.get() : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

DWORD RetryDelay(unsigned nFailures) {
  return std::min<DWORD>(1000u << std::min(nFailures - 1, 5u), kMaxRetryMs);
}

// Serves the name until the stop: always holds an instance of it, so the
// name never lapses between two connections for another program to take.
class CListener {
 public:
  CListener(CQuillonService& service, HANDLE hStop)
      : m_service(service),
        m_settings(service.m_settings.pipeIntake),
        m_hStop(hStop),
        m_hConnected(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        m_connections(std::make_shared<CWorkCount>()) {}

  void Run();

 private:
  // A new instance. The first of the name fails when another program holds
  // the name (ERROR_ACCESS_DENIED); later ones join the name this listener
  // holds.
  UniqueHandle Create(bool bFirst, DWORD* pdwError);
  // Hands the connected instance to a connection thread of its own. When
  // no thread can be had, the instance is closed here, so that its client
  // sees the broken pipe at once instead of waiting for an answer.
  void StartConnection(UniqueHandle pipe);
  // Waits, or less when the stop comes; true at the stop.
  bool Pause(DWORD dwMs) { return WaitForSingleObject(m_hStop, dwMs) != WAIT_TIMEOUT; }
  // Reports the first failure of a streak (event 115) and backs off; true
  // at the stop.
  bool Trouble(const std::string& why);

  CQuillonService& m_service;
  const CPipeIntakeSettings& m_settings;
  HANDLE m_hStop;
  CPipeSecurity m_security;
  UniqueHandle m_hConnected;
  std::shared_ptr<CWorkCount> m_connections;
  unsigned m_nFailures = 0;
};

UniqueHandle CListener::Create(bool bFirst, DWORD* pdwError) {
  const DWORD dwOpen = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                       (bFirst ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  UniqueHandle pipe(CreateNamedPipeA(
      m_settings.sPipeName.c_str(), dwOpen,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      kMaxInstances, kBufferBytes, kBufferBytes, kDefaultTimeoutMs, m_security.Attributes()));
  *pdwError = pipe ? 0 : GetLastError();
  DWORD nInstances = 0;
  // The flag is not honoured everywhere (Wine 8 creates the instance all
  // the same): a first instance that has company beyond this listener's
  // own connections joined another program's name, and is given up.
  if (pipe && bFirst &&
      GetNamedPipeHandleStateA(pipe.get(), nullptr, &nInstances, nullptr, nullptr, nullptr, 0) &&
      nInstances > 1 + m_connections->Held()) {
    pipe.reset();
    *pdwError = ERROR_ACCESS_DENIED;
  }
  return pipe;
}

bool CListener::Trouble(const std::string& why) {
  if (m_nFailures++ == 0) {
    m_service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PIPE_UNAVAILABLE,
                               m_settings.sPipeName.c_str(), why.c_str());
  }
  return Pause(RetryDelay(m_nFailures));
}

void CListener::StartConnection(UniqueHandle pipe) {
  std::unique_ptr<PIPE_CONN_PARAM> conn(new PIPE_CONN_PARAM());
  conn->ticket = CWorkCount::Enter(m_connections);
  conn->hPipe = std::move(pipe);
  conn->pService = &m_service;
  // The connection may outlive the worker body's handle of the event.
  if (!DuplicateHandle(GetCurrentProcess(), m_hStop, GetCurrentProcess(), conn->hStopEvent.put(),
                       0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return;
  }
  UniqueHandle thread(m_settings.pfnStartThread(ExtractDataFromPipe, conn.get()));
  if (thread) conn.release();   // the thread owns it now
}

void CListener::Run() {
  // The instance that waits for the next client.
  UniqueHandle listening;
  for (;;) {
    if (!listening) {
      DWORD dwError = 0;
      listening = Create(true, &dwError);
      if (!listening) {
        const std::string why =
            dwError == ERROR_ACCESS_DENIED || dwError == ERROR_PIPE_BUSY
                ? "another program holds the name"
                : "it cannot be created: " + SystemText(dwError);
        if (Trouble(why)) break;
        continue;
      }
      if (m_nFailures) {
        m_nFailures = 0;
        m_service.ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_PIPE_SERVED,
                                   m_settings.sPipeName.c_str());
      }
    }
    const PipeConnect outcome =
        m_hConnected ? ConnectPipeClient(listening.get(), m_hConnected.get(), m_hStop)
                     : PipeConnect::Failed;
    if (outcome == PipeConnect::Stopped) break;
    if (outcome == PipeConnect::ClientGone) {
      // A client that came and went: the same instance waits again.
      DisconnectNamedPipe(listening.get());
      continue;
    }
    if (outcome == PipeConnect::Failed) {
      const std::string why = "a connection failed: " + SystemText(GetLastError());
      listening.reset();
      if (Trouble(why)) break;
      continue;
    }
    // The next instance exists before this one goes to its thread. Without
    // one (all instances in use), the next round makes the name's first.
    DWORD dwError = 0;
    UniqueHandle next = Create(false, &dwError);
    StartConnection(std::move(listening));
    listening = std::move(next);
    // At most one connection a second; a client may connect to the next
    // instance meanwhile and is served after the pause.
    if (Pause(m_settings.dwAcceptPauseMs)) break;
  }
  // Every connection ends at the stop, one still accounting within moments.
  listening.reset();
  m_connections->WaitIdle(INFINITE);
}

}  // namespace

PipeConnect ConnectPipeClient(HANDLE hPipe, HANDLE hConnected, HANDLE hStop) {
  OVERLAPPED ov = {};
  ov.hEvent = hConnected;
  ResetEvent(hConnected);
  if (ConnectNamedPipe(hPipe, &ov)) return PipeConnect::Connected;
  const DWORD dwError = GetLastError();
  if (dwError == ERROR_PIPE_CONNECTED) return PipeConnect::Connected;
  if (IsClientGone(dwError)) return PipeConnect::ClientGone;
  if (dwError != ERROR_IO_PENDING) return PipeConnect::Failed;

  HANDLE waitFor[2] = {hStop, hConnected};
  const DWORD dwWait = WaitForMultipleObjects(2, waitFor, FALSE, INFINITE);
  DWORD cb = 0;
  if (dwWait == WAIT_OBJECT_0 + 1) {
    if (GetOverlappedResult(hPipe, &ov, &cb, FALSE)) return PipeConnect::Connected;
    return IsClientGone(GetLastError()) ? PipeConnect::ClientGone : PipeConnect::Failed;
  }
  // The connect still refers to ov: it must be over before ov goes.
  CancelIo(hPipe);
  GetOverlappedResult(hPipe, &ov, &cb, TRUE);
  return dwWait == WAIT_OBJECT_0 ? PipeConnect::Stopped : PipeConnect::Failed;
}

DWORD WINAPI PipeListenerThread(LPVOID pService) {
  auto* service = static_cast<CQuillonService*>(pService);
  if (!service) return static_cast<DWORD>(-1);
  try {
    // Open for as long as this thread runs: the worker body waits for it.
    CListener listener(*service, service->m_hStopEvent);
    listener.Run();
  } catch (const std::bad_alloc&) {
    service->ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PIPE_UNAVAILABLE,
                              service->m_settings.pipeIntake.sPipeName.c_str(),
                              "not enough memory");
    return static_cast<DWORD>(-1);
  }
  return 0;
}
