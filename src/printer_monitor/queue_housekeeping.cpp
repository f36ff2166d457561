#include "printer_monitor/queue_housekeeping.h"

#include "service_core/quillon_service.h"

// The five-minute queue passes are not built yet: until they are, the thread
// only waits for the stop request.
DWORD WINAPI CleanQueues(LPVOID pService) {
  auto* service = static_cast<CQuillonService*>(pService);
  WaitForSingleObject(service->m_hStopEvent, INFINITE);
  return 0;
}
