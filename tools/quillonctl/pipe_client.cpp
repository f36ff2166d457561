#include "pipe_client.h"

#include "pipe_intake/pipe_protocol.h"
#include "service_core/win_owners.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kMinTransferMs = 5000;

DWORD Remaining(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// One overlapped write, whole or not at all by the deadline.
bool WriteWhole(HANDLE hPipe, HANDLE hEvent, const void* pData, DWORD cb, ULONGLONG deadline,
                DWORD& dwError) {
  OVERLAPPED ov = {};
  ov.hEvent = hEvent;
  ResetEvent(hEvent);
  DWORD cbWritten = 0;
  if (!WriteFile(hPipe, pData, cb, nullptr, &ov)) {
    dwError = GetLastError();
    if (dwError != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(hEvent, Remaining(deadline)) != WAIT_OBJECT_0) {
      CancelIo(hPipe);
      GetOverlappedResult(hPipe, &ov, &cbWritten, TRUE);
      dwError = ERROR_TIMEOUT;
      return false;
    }
  }
  if (!GetOverlappedResult(hPipe, &ov, &cbWritten, FALSE)) {
    dwError = GetLastError();
    return false;
  }
  dwError = cbWritten == cb ? 0 : ERROR_WRITE_FAULT;
  return cbWritten == cb;
}

// The service never writes: a read ends when it closes its end.
void WaitForServiceToClose(HANDLE hPipe, HANDLE hEvent, ULONGLONG deadline) {
  OVERLAPPED ov = {};
  ov.hEvent = hEvent;
  ResetEvent(hEvent);
  BYTE byte = 0;
  DWORD cb = 0;
  if (ReadFile(hPipe, &byte, 1, nullptr, &ov) || GetLastError() != ERROR_IO_PENDING) return;
  if (WaitForSingleObject(hEvent, Remaining(deadline)) != WAIT_OBJECT_0) CancelIo(hPipe);
  GetOverlappedResult(hPipe, &ov, &cb, TRUE);
}

}  // namespace

CSendResult SendPipeMessage(const char* pszPipe, uint32_t dwType, const void* pPayload,
                            uint32_t cbPayload, DWORD dwTimeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + dwTimeoutMs;
  ULONGLONG absentSince = 0;
  UniqueHandle pipe;
  for (;;) {
    // Identification only: the service may learn who sends a rule, but a
    // program posing as the service cannot act as this user.
    pipe.reset(CreateFileA(pszPipe, kPipeClientAccess, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                           nullptr));
    if (pipe) break;
    const DWORD dwError = GetLastError();
    const ULONGLONG now = GetTickCount64();
    if (dwError == ERROR_FILE_NOT_FOUND) {
      if (!absentSince) absentSince = now;
      if (now - absentSince >= kAbsentGraceMs || now >= deadline) {
        return {SendOutcome::NotRunning, dwError};
      }
      Sleep(kPollMs);   // no instance to wait on: look again shortly
      continue;
    }
    absentSince = 0;
    if (dwError != ERROR_PIPE_BUSY) return {SendOutcome::CannotOpen, dwError};
    const DWORD dwLeft = Remaining(deadline);
    if (dwLeft == 0) return {SendOutcome::TimedOut, ERROR_SEM_TIMEOUT};
    // Fails when the time is up, or when the instances went meanwhile; the
    // next attempt tells which.
    WaitNamedPipeA(pszPipe, dwLeft);
  }

  const ULONGLONG transferDeadline =
      GetTickCount64() + (dwTimeoutMs > kMinTransferMs ? dwTimeoutMs : kMinTransferMs);
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event) return {SendOutcome::NotTakenWhole, GetLastError()};
  const PIPE_DATA header = {dwType, cbPayload};
  DWORD dwError = 0;
  if (!WriteWhole(pipe.get(), event.get(), &header, sizeof(header), transferDeadline, dwError) ||
      !WriteWhole(pipe.get(), event.get(), pPayload, cbPayload, transferDeadline, dwError)) {
    return {SendOutcome::NotTakenWhole, dwError};
  }
  WaitForServiceToClose(pipe.get(), event.get(), transferDeadline);
  return {SendOutcome::Sent, 0};
}
