#include "pipe_client_support.h"

#include "job_accounting/job_journal.h"

UniqueHandle ConnectTo(const std::string& pipe, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    UniqueHandle h(CreateFileA(pipe.c_str(), kPipeClientAccess, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr));
    if (h) return h;
    const DWORD dwError = GetLastError();
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return UniqueHandle();
    if (dwError == ERROR_PIPE_BUSY) {
      WaitNamedPipeA(pipe.c_str(), static_cast<DWORD>(deadline - now));
    } else {
      Sleep(10);   // no instance yet, nothing to wait on
    }
  }
}

bool WriteMessage(HANDLE hPipe, const void* pData, DWORD cb) {
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov = {};
  ov.hEvent = event.get();
  DWORD written = 0;
  if (!WriteFile(hPipe, pData, cb, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  if (WaitForSingleObject(event.get(), 20000) != WAIT_OBJECT_0) {
    CancelIo(hPipe);
    GetOverlappedResult(hPipe, &ov, &written, TRUE);
    return false;
  }
  return GetOverlappedResult(hPipe, &ov, &written, FALSE) && written == cb;
}

bool WriteHeader(HANDLE hPipe, uint32_t dwType, uint32_t dwSize) {
  const PIPE_DATA header = {dwType, dwSize};
  return WriteMessage(hPipe, &header, sizeof(header));
}

bool WaitServerClose(HANDLE hPipe, DWORD timeoutMs) {
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov = {};
  ov.hEvent = event.get();
  BYTE b = 0;
  DWORD cb = 0;
  if (!ReadFile(hPipe, &b, 1, nullptr, &ov)) {
    const DWORD dwError = GetLastError();
    if (dwError != ERROR_IO_PENDING) return dwError == ERROR_BROKEN_PIPE || dwError == ERROR_PIPE_NOT_CONNECTED;
  }
  const bool ended = WaitForSingleObject(event.get(), timeoutMs) == WAIT_OBJECT_0;
  if (!ended) CancelIo(hPipe);
  const BOOL ok = GetOverlappedResult(hPipe, &ov, &cb, TRUE);
  return ended && !ok;
}

void RemoveJournal() {
  char szPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  std::string path(szPath);
  path = path.substr(0, path.find_last_of("\\/") + 1) + kJournalFile;
  DeleteFileA(path.c_str());
}
