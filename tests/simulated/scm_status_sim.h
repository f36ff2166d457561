// Simulated SCM status channel for in-process tests of the service entry and
// control handler: RegisterServiceCtrlHandlerA and SetServiceStatus are
// replaced, and every status record sent is kept in order.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

class ScmStatus {
 public:
  static void Reset();
  static void FailHandlerRegistration(bool fail);
  static std::string RegisteredName();
  static LPHANDLER_FUNCTION Handler();
  static std::vector<SERVICE_STATUS> Sent();
  static std::vector<DWORD> States();
  // Waits until a status with this state has been sent; false on time-out.
  static bool WaitForState(DWORD dwState, DWORD dwTimeoutMs);
};

}  // namespace sim
