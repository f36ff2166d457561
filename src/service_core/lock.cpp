#include "service_core/lock.h"

#include "service_core/exc.h"

CLock::CLock(DWORD dwTimeout, const char* pszName) : m_hMutex(nullptr) {
  m_hMutex = CreateMutexA(nullptr, FALSE, pszName);
  if (!m_hMutex) throw new CExc("CLock", "Cannot create mutex");

  if (WaitForSingleObject(m_hMutex, dwTimeout) == WAIT_TIMEOUT) {
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
    throw new CExc("CLock", "Time-out occurred");
  }
  // WAIT_OBJECT_0, or WAIT_ABANDONED when the last holder died with it: held.
}

CLock::~CLock() {
  if (m_hMutex) {
    ReleaseMutex(m_hMutex);
    CloseHandle(m_hMutex);
  }
}
