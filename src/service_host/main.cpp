// Process entry: the same executable installs ("-i"), removes ("-u") or runs
// the service under the Service Control Manager.
#include <memory>

#include "service_core/quillon_service.h"

int main(int argc, char** argv) {
  std::unique_ptr<CQuillonService> service(new CQuillonService());
  if (!service->HandleCommandLine(argc, argv)) service->RunDispatcher();
  const DWORD dwExitCode = service->m_status.dwWin32ExitCode;
  // Threads that a stop gave up waiting for still use the object: the
  // process ends them, and the journal holds every job they had taken.
  if (service->ThreadsLeftRunning()) ExitProcess(dwExitCode);
  service.reset();
  return static_cast<int>(dwExitCode);
}
