// One pipe message at a time, read asynchronously (ReadFileEx with
// PipeReadCompleted) and waited for together with the service's stop event.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "service_core/win_owners.h"

// The block of one read: the OVERLAPPED first, so that the completion
// routine finds the rest from its address.
struct PIPE_READ {
  OVERLAPPED ov;
  DWORD dwError;      // as the completion routine was told
  DWORD cbReceived;
  bool bDone;         // the completion routine has run
  std::vector<BYTE> data;
};

// Completion routine of the reads: records what it was told and, when the
// read succeeded, signals the read's event. A failed read is left to the
// reader's time-out.
VOID WINAPI PipeReadCompleted(DWORD dwErrorCode, DWORD dwTransferred, LPOVERLAPPED pOverlapped);

class CPipeReader {
 public:
  // hStop: the service's stop event; dwTimeoutMs: the wait for each message.
  CPipeReader(HANDLE hPipe, HANDLE hStop, DWORD dwTimeoutMs);
  // A read still under way is cancelled and its completion awaited, so that
  // nothing writes into a block that is gone.
  ~CPipeReader();
  CPipeReader(const CPipeReader&) = delete;
  CPipeReader& operator=(const CPipeReader&) = delete;

  // Reads the next message, at most cbMax bytes, into Data() (zeroed first);
  // returns the number of bytes received. Throws a new CExc ("CQuillonService")
  // when the read cannot be started, the memory cannot be had, or the wait
  // ends otherwise than by the read (stop, time-out, failure).
  DWORD Read(DWORD cbMax);
  const BYTE* Data() const { return m_read ? m_read->data.data() : nullptr; }

 private:
  void Abandon();

  HANDLE m_hPipe;
  HANDLE m_hStop;
  DWORD m_dwTimeoutMs;
  UniqueHandle m_hEvent;
  std::unique_ptr<PIPE_READ> m_read;
  bool m_bPending;   // started and not yet seen complete
};

// Raises the connection failure with its text, formatted with the value.
[[noreturn]] void FailConnection(const char* pszFormat, int nValue = 0);
