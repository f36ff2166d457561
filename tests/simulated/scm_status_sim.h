// Simulated SCM status channel for in-process tests of the service entry and
// control handler: RegisterServiceCtrlHandlerA, RegisterServiceCtrlHandlerExA
// and SetServiceStatus are replaced, and every status record sent is kept in
// order.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform_seam.h"

namespace sim {

class ScmStatus : public Piece<ScmStatus> {
 public:
  // Forgets every status sent and the registered handler.
  void Clear();
  void FailHandlerRegistration(bool fail);
  std::string RegisteredName() const;
  // The registered handler as a plain one: an extended handler is called
  // with event type 0, no event data, and the context it was registered
  // with (Win32 reference, LPHANDLER_FUNCTION_EX).
  LPHANDLER_FUNCTION Handler() const;
  std::vector<SERVICE_STATUS> Sent() const;
  std::vector<DWORD> States() const;
  // Waits until a status with this state has been sent; false on time-out.
  bool WaitForState(DWORD dwState, DWORD dwTimeoutMs) const;
  // Statuses sent with a handle this channel never gave out.
  std::string Leaks() const override;

  static SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(
      LPCSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc);
  static SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExA(
      LPCSTR lpServiceName, LPHANDLER_FUNCTION_EX lpHandlerProc, LPVOID lpContext);
  static BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                                      LPSERVICE_STATUS lpServiceStatus);

 private:
  mutable std::mutex m_lock;
  mutable std::condition_variable m_changed;
  bool m_failRegistration = false;
  std::string m_name;
  LPHANDLER_FUNCTION m_handler = nullptr;
  LPHANDLER_FUNCTION_EX m_handlerEx = nullptr;
  LPVOID m_context = nullptr;
  static void WINAPI CallHandlerEx(DWORD dwControl);
  static SERVICE_STATUS_HANDLE Register(LPCSTR lpServiceName, LPHANDLER_FUNCTION handler,
                                        LPHANDLER_FUNCTION_EX handlerEx, LPVOID context);
  std::vector<SERVICE_STATUS> m_sent;
  int m_badHandles = 0;
};

}  // namespace sim
