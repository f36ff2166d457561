#include "pipe_intake/pipe_listener.h"

#include "service_core/quillon_service.h"

// The named-pipe intake is not built yet: until it is, the thread only waits
// for the stop request (the worker body ends it forcibly in any case).
DWORD WINAPI PipeListenerThread(LPVOID pService) {
  auto* service = static_cast<CQuillonService*>(pService);
  WaitForSingleObject(service->m_hStopEvent, INFINITE);
  return 0;
}
