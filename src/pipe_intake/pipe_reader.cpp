#include "pipe_intake/pipe_reader.h"

#include <cstdio>
#include <new>

#include "service_core/exc.h"

namespace {

// A cancelled read completes within moments; the wait is only a bound.
constexpr DWORD kCancelWaitMs = 5000;

}  // namespace

void FailConnection(const char* pszFormat, int nValue) {
  char szText[160];
  std::snprintf(szText, sizeof(szText), pszFormat, nValue);
  throw new CExc("CQuillonService", szText);
}

VOID WINAPI PipeReadCompleted(DWORD dwErrorCode, DWORD dwTransferred, LPOVERLAPPED pOverlapped) {
  auto* pRead = reinterpret_cast<PIPE_READ*>(pOverlapped);
  pRead->dwError = dwErrorCode;
  pRead->cbReceived = dwTransferred;
  pRead->bDone = true;
  if (dwErrorCode == 0) SetEvent(pOverlapped->hEvent);
}

CPipeReader::CPipeReader(HANDLE hPipe, HANDLE hStop, DWORD dwTimeoutMs)
    : m_hPipe(hPipe),
      m_hStop(hStop),
      m_dwTimeoutMs(dwTimeoutMs),
      m_hEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_bPending(false) {}

CPipeReader::~CPipeReader() { Abandon(); }

void CPipeReader::Abandon() {
  if (!m_read) return;
  if (m_bPending && !m_read->bDone) {
    CancelIo(m_hPipe);
    const ULONGLONG start = GetTickCount64();
    while (!m_read->bDone) {
      const ULONGLONG waited = GetTickCount64() - start;
      if (waited >= kCancelWaitMs) break;
      SleepEx(static_cast<DWORD>(kCancelWaitMs - waited), TRUE);
    }
  }
  // A read that failed to start may still have queued its completion (Wine
  // does so for a message longer than the buffer): let it run while the
  // block exists.
  SleepEx(0, TRUE);
  if (m_bPending && !m_read->bDone) {
    // The system may still write into the block: it is left to it.
    m_read.release();
  }
  m_read.reset();
  m_bPending = false;
}

DWORD CPipeReader::Read(DWORD cbMax) {
  Abandon();
  try {
    m_read.reset(new PIPE_READ());
    m_read->data.assign(cbMax, 0);
  } catch (const std::bad_alloc&) {
    m_read.reset();
    FailConnection("CQuillonService::ExtractDataFromPipe() not enough memory\n");
  }
  m_read->ov.hEvent = m_hEvent.get();
  if (m_hEvent) ResetEvent(m_hEvent.get());
  if (!m_hEvent || !ReadFileEx(m_hPipe, m_read->data.data(), cbMax, &m_read->ov,
                               PipeReadCompleted)) {
    const int nError = static_cast<int>(GetLastError());
    FailConnection(
        "CQuillonService::ExtractDataFromPipe() ReadFileEx failed,GetLastError() - %d\n", nError);
  }
  m_bPending = true;
  HANDLE waitFor[2] = {m_hStop, m_hEvent.get()};
  for (;;) {
    const DWORD dwWait = WaitForMultipleObjectsEx(2, waitFor, FALSE, m_dwTimeoutMs, TRUE);
    if (dwWait == WAIT_OBJECT_0 + 1) break;
    if (dwWait == WAIT_IO_COMPLETION) continue;
    FailConnection("CQuillonService::ExtractDataFromPipe() dwWait - %d is wrong\n",
                   static_cast<int>(dwWait));
  }
  m_bPending = false;
  return m_read->cbReceived <= cbMax ? m_read->cbReceived : cbMax;
}
