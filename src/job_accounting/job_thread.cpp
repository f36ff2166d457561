#include "job_accounting/job_thread.h"

DWORD WINAPI JobThread(LPVOID pParam) {
  auto* pStart = static_cast<JOB_THREAD_PARAM*>(pParam);
  if (!pStart) return static_cast<DWORD>(-1);
  // Not accounted yet (see the header): both blocks are released unread.
  if (pStart->pInfo) FreePrinterNotifyInfo(pStart->pInfo);
  delete pStart;
  return 1;
}
