// Scoped lock on a named, machine-wide mutex with a time-out. Throws a new
// CExc ("CLock") when the mutex cannot be created or the wait times out.
#pragma once

#include <windows.h>

class CLock {
 public:
  CLock(DWORD dwTimeout, const char* pszName);
  ~CLock();
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;

  HANDLE m_hMutex;   // held while non-null
};

// The mutex and time-out that guard the finished-job table.
constexpr const char kJobQueueMutex[] = "JOB_QUEUE_MUTEX";
constexpr DWORD kJobQueueTimeout = 1000;
