#include "printer_monitor/printer_watcher.h"

#include "service_core/quillon_service.h"

// The watcher's notification loop is not built yet: until it is, the thread
// only waits for the stop request so that the run sequence is complete.
DWORD WINAPI WatchPrinters(LPVOID pService) {
  auto* service = static_cast<CQuillonService*>(pService);
  WaitForSingleObject(service->m_hStopEvent, INFINITE);
  return 0;
}
