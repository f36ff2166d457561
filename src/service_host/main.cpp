// Process entry: the same executable installs ("-i"), removes ("-u") or runs
// the service under the Service Control Manager.
#include "service_core/quillon_service.h"

int main(int argc, char** argv) {
  DWORD dwExitCode;
  {
    CQuillonService service;
    if (!service.HandleCommandLine(argc, argv)) service.RunDispatcher();
    dwExitCode = service.m_status.dwWin32ExitCode;
  }
  return static_cast<int>(dwExitCode);
}
