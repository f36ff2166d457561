#include "scm_status_sim.h"

#include <chrono>

namespace sim {
namespace {

// Any non-null value will do: only SetServiceStatus below ever sees it.
SERVICE_STATUS_HANDLE const kStatusHandle =
    reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<ULONG_PTR>(0x5CA1AB1E));

}  // namespace

// Win32 reference, RegisterServiceCtrlHandler and RegisterServiceCtrlHandlerEx:
// a status handle for SetServiceStatus, or 0 with the last error set; the
// extended handler also receives the lpContext given at registration.
SERVICE_STATUS_HANDLE ScmStatus::Register(LPCSTR lpServiceName, LPHANDLER_FUNCTION handler,
                                          LPHANDLER_FUNCTION_EX handlerEx, LPVOID context) {
  ScmStatus* scm = Current();
  if (!scm) {
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(scm->m_lock);
  if (scm->m_failRegistration) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  scm->m_name = lpServiceName ? lpServiceName : "";
  scm->m_handler = handler;
  scm->m_handlerEx = handlerEx;
  scm->m_context = context;
  return kStatusHandle;
}

SERVICE_STATUS_HANDLE WINAPI ScmStatus::RegisterServiceCtrlHandlerA(
    LPCSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc) {
  return Register(lpServiceName, lpHandlerProc, nullptr, nullptr);
}

SERVICE_STATUS_HANDLE WINAPI ScmStatus::RegisterServiceCtrlHandlerExA(
    LPCSTR lpServiceName, LPHANDLER_FUNCTION_EX lpHandlerProc, LPVOID lpContext) {
  return Register(lpServiceName, nullptr, lpHandlerProc, lpContext);
}

void WINAPI ScmStatus::CallHandlerEx(DWORD dwControl) {
  ScmStatus* scm = Current();
  LPHANDLER_FUNCTION_EX handler;
  LPVOID context;
  {
    std::lock_guard<std::mutex> guard(scm->m_lock);
    handler = scm->m_handlerEx;
    context = scm->m_context;
  }
  if (handler) handler(dwControl, 0, nullptr, context);
}

BOOL WINAPI ScmStatus::SetServiceStatus(SERVICE_STATUS_HANDLE hStatus,
                                        LPSERVICE_STATUS lpStatus) {
  ScmStatus* scm = Current();
  if (!scm) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> guard(scm->m_lock);
    if (hStatus != kStatusHandle || !lpStatus) {
      ++scm->m_badHandles;
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    scm->m_sent.push_back(*lpStatus);
  }
  scm->m_changed.notify_all();
  return TRUE;
}

void ScmStatus::Clear() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_name.clear();
  m_handler = nullptr;
  m_handlerEx = nullptr;
  m_context = nullptr;
  m_sent.clear();
}

void ScmStatus::FailHandlerRegistration(bool fail) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_failRegistration = fail;
}

std::string ScmStatus::RegisteredName() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_name;
}

LPHANDLER_FUNCTION ScmStatus::Handler() const {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_handlerEx) return CallHandlerEx;
  return m_handler;
}

std::vector<SERVICE_STATUS> ScmStatus::Sent() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_sent;
}

std::vector<DWORD> ScmStatus::States() const {
  std::vector<DWORD> states;
  for (const auto& st : Sent()) states.push_back(st.dwCurrentState);
  return states;
}

bool ScmStatus::WaitForState(DWORD dwState, DWORD dwTimeoutMs) const {
  std::unique_lock<std::mutex> guard(m_lock);
  return m_changed.wait_for(guard, std::chrono::milliseconds(dwTimeoutMs), [&] {
    for (const auto& st : m_sent) {
      if (st.dwCurrentState == dwState) return true;
    }
    return false;
  });
}

std::string ScmStatus::Leaks() const {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_badHandles) return "";
  return std::to_string(m_badHandles) + " status(es) sent without a registered handle; ";
}

}  // namespace sim

SIM_REPLACE_IMPORT(RegisterServiceCtrlHandlerA, sim::ScmStatus::RegisterServiceCtrlHandlerA)
SIM_REPLACE_IMPORT(RegisterServiceCtrlHandlerExA, sim::ScmStatus::RegisterServiceCtrlHandlerExA)
SIM_REPLACE_IMPORT(SetServiceStatus, sim::ScmStatus::SetServiceStatus)
