#include "scm_status_sim.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sim {
namespace {

struct State {
  std::mutex lock;
  std::condition_variable changed;
  bool failRegistration = false;
  std::string name;
  LPHANDLER_FUNCTION handler = nullptr;
  std::vector<SERVICE_STATUS> sent;
};

State& S() {
  static State* state = new State();
  return *state;
}

// Any non-null value will do: only SetServiceStatus below ever sees it.
SERVICE_STATUS_HANDLE const kStatusHandle =
    reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<ULONG_PTR>(0x5CA1AB1E));

SERVICE_STATUS_HANDLE WINAPI SimRegisterServiceCtrlHandlerA(
    LPCSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc) {
  State& s = S();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.failRegistration) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  s.name = lpServiceName ? lpServiceName : "";
  s.handler = lpHandlerProc;
  return kStatusHandle;
}

BOOL WINAPI SimSetServiceStatus(SERVICE_STATUS_HANDLE hStatus,
                                LPSERVICE_STATUS lpStatus) {
  State& s = S();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (hStatus != kStatusHandle || !lpStatus) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    s.sent.push_back(*lpStatus);
  }
  s.changed.notify_all();
  return TRUE;
}

}  // namespace

void ScmStatus::Reset() {
  std::lock_guard<std::mutex> guard(S().lock);
  S().failRegistration = false;
  S().name.clear();
  S().handler = nullptr;
  S().sent.clear();
}

void ScmStatus::FailHandlerRegistration(bool fail) {
  std::lock_guard<std::mutex> guard(S().lock);
  S().failRegistration = fail;
}

std::string ScmStatus::RegisteredName() {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().name;
}

LPHANDLER_FUNCTION ScmStatus::Handler() {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().handler;
}

std::vector<SERVICE_STATUS> ScmStatus::Sent() {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().sent;
}

std::vector<DWORD> ScmStatus::States() {
  std::vector<DWORD> states;
  for (const auto& st : Sent()) states.push_back(st.dwCurrentState);
  return states;
}

bool ScmStatus::WaitForState(DWORD dwState, DWORD dwTimeoutMs) {
  std::unique_lock<std::mutex> guard(S().lock);
  return S().changed.wait_for(guard, std::chrono::milliseconds(dwTimeoutMs), [&] {
    for (const auto& st : S().sent) {
      if (st.dwCurrentState == dwState) return true;
    }
    return false;
  });
}

}  // namespace sim

extern "C" {
decltype(&sim::SimRegisterServiceCtrlHandlerA) __imp_RegisterServiceCtrlHandlerA =
    sim::SimRegisterServiceCtrlHandlerA;
decltype(&sim::SimSetServiceStatus) __imp_SetServiceStatus = sim::SimSetServiceStatus;
}
