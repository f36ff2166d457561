#include "service_core/lock.h"

#include "service_core/exc.h"
#include "service_core/win_owners.h"

CLock::CLock(DWORD dwTimeout, const char* pszName) : m_hMutex(nullptr) {
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, pszName));
  if (!mutex) throw new CExc("CLock", "Cannot create mutex");

  if (WaitForSingleObject(mutex.get(), dwTimeout) == WAIT_TIMEOUT) {
    throw new CExc("CLock", "Time-out occurred");
  }
  // WAIT_OBJECT_0, or WAIT_ABANDONED when the last holder died with it: held.
  m_hMutex = mutex.release();
}

CLock::~CLock() {
  if (m_hMutex) {
    ReleaseMutex(m_hMutex);
    CloseHandle(m_hMutex);
  }
}
