#include "pipe_intake/pipe_listener.h"

#include <memory>
#include <utility>

#include "pipe_intake/connection_count.h"
#include "pipe_intake/pipe_connection.h"
#include "pipe_intake/pipe_security.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

namespace {

constexpr DWORD kMaxInstances = 100;
constexpr DWORD kBufferBytes = 1024;
constexpr DWORD kDefaultTimeoutMs = 1000;

bool IsClientGone(DWORD dwError) {
  return dwError == ERROR_NO_DATA || dwError == ERROR_BROKEN_PIPE ||
         dwError == ERROR_PIPE_NOT_CONNECTED;
}

// Hands the connected instance to a connection thread of its own. When no
// thread can be had, the instance is closed here, so that its client sees
// the broken pipe at once instead of waiting for an answer that never comes.
void StartConnection(CQuillonService& service, UniqueHandle pipe, HANDLE hStop,
                     const std::shared_ptr<CConnectionCount>& connections) {
  std::unique_ptr<PIPE_CONN_PARAM> conn(new PIPE_CONN_PARAM());
  conn->ticket = CConnectionCount::Enter(connections);
  conn->hPipe = std::move(pipe);
  conn->pService = &service;
  // The connection may outlive the worker body's handle of the event.
  if (!DuplicateHandle(GetCurrentProcess(), hStop, GetCurrentProcess(), conn->hStopEvent.put(),
                       0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return;
  }
  UniqueHandle thread(
      service.m_settings.pipeIntake.pfnStartThread(ExtractDataFromPipe, conn.get()));
  if (thread) conn.release();   // the thread owns it now
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
  // Open for as long as this thread runs: the worker body waits for it.
  const HANDLE hStop = service->m_hStopEvent;
  const CPipeIntakeSettings& settings = service->m_settings.pipeIntake;
  CNullDaclSecurity security;
  UniqueHandle connected(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  auto connections = std::make_shared<CConnectionCount>();

  DWORD dwResult = 0;
  for (;;) {
    UniqueHandle pipe(CreateNamedPipeA(
        settings.sPipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, kMaxInstances, kBufferBytes,
        kBufferBytes, kDefaultTimeoutMs, security.Attributes()));
    if (!pipe) {
      service->ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "Cannot create pipe");
      dwResult = static_cast<DWORD>(-1);
      break;
    }
    const PipeConnect outcome =
        connected ? ConnectPipeClient(pipe.get(), connected.get(), hStop) : PipeConnect::Failed;
    if (outcome == PipeConnect::Stopped) break;
    if (outcome == PipeConnect::Failed) {
      service->ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "Cannot connect pipe");
      dwResult = static_cast<DWORD>(-1);
      break;
    }
    if (outcome == PipeConnect::Connected) {
      StartConnection(*service, std::move(pipe), hStop, connections);
    }
    // A stop during the pause ends the listener at once.
    if (WaitForSingleObject(hStop, settings.dwAcceptPauseMs) != WAIT_TIMEOUT) break;
  }
  // Every connection ends at the stop: one that waits for data at once, one
  // that settles a job as soon as its row is written or journaled.
  connections->WaitIdle(INFINITE);
  return dwResult;
}
