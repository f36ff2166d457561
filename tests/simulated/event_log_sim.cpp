#include "event_log_sim.h"

#include <mutex>
#include <set>

namespace sim {
namespace {

struct State {
  std::mutex lock;
  std::vector<LoggedEvent> events;
  std::set<HANDLE> open;
  std::vector<std::string*> names;   // kept for the life of the program
  int failNext = 0;
  int registrations = 0;
};

State& S() {
  static State* state = new State();   // outlives every static destructor
  return *state;
}

std::string FormatText(DWORD id, const std::vector<std::string>& strings) {
  const char* args[3] = {"", "", ""};
  for (size_t i = 0; i < strings.size() && i < 3; ++i) args[i] = strings[i].c_str();
  char* buffer = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      GetModuleHandleA(nullptr), id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<LPSTR>(&buffer), 0,
      reinterpret_cast<va_list*>(const_cast<char**>(args)));
  std::string text = n && buffer ? std::string(buffer, n) : std::string();
  if (buffer) LocalFree(buffer);
  return text;
}

HANDLE WINAPI SimRegisterEventSourceA(LPCSTR, LPCSTR lpSourceName) {
  State& s = S();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.failNext > 0) {
    --s.failNext;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto* name = new std::string(lpSourceName ? lpSourceName : "");
  s.names.push_back(name);
  HANDLE h = static_cast<HANDLE>(name);
  s.open.insert(h);
  ++s.registrations;
  return h;
}

BOOL WINAPI SimReportEventA(HANDLE hEventLog, WORD wType, WORD, DWORD dwEventID,
                            PSID, WORD wNumStrings, DWORD, LPCSTR* lpStrings,
                            LPVOID) {
  State& s = S();
  LoggedEvent event;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.open.count(hEventLog)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    event.source = *static_cast<std::string*>(hEventLog);
  }
  event.type = wType;
  event.id = dwEventID;
  for (WORD i = 0; i < wNumStrings; ++i) {
    // A null string would crash the real event log; record it visibly.
    event.strings.push_back(lpStrings && lpStrings[i] ? lpStrings[i] : "<null>");
  }
  event.text = FormatText(dwEventID, event.strings);
  std::lock_guard<std::mutex> guard(s.lock);
  s.events.push_back(event);
  return TRUE;
}

BOOL WINAPI SimDeregisterEventSource(HANDLE hEventLog) {
  State& s = S();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.open.erase(hEventLog)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::vector<LoggedEvent> EventLog::Events() {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().events;
}

std::vector<DWORD> EventLog::Ids() {
  std::vector<DWORD> ids;
  for (const auto& e : Events()) ids.push_back(e.id);
  return ids;
}

void EventLog::Clear() {
  std::lock_guard<std::mutex> guard(S().lock);
  S().events.clear();
}

void EventLog::FailRegistrations(int n) {
  std::lock_guard<std::mutex> guard(S().lock);
  S().failNext = n;
}

int EventLog::Registrations() {
  std::lock_guard<std::mutex> guard(S().lock);
  return S().registrations;
}

int EventLog::OpenSources() {
  std::lock_guard<std::mutex> guard(S().lock);
  return static_cast<int>(S().open.size());
}

}  // namespace sim

// The import pointers that the code under test calls through.
extern "C" {
decltype(&sim::SimRegisterEventSourceA) __imp_RegisterEventSourceA =
    sim::SimRegisterEventSourceA;
decltype(&sim::SimReportEventA) __imp_ReportEventA = sim::SimReportEventA;
decltype(&sim::SimDeregisterEventSource) __imp_DeregisterEventSource =
    sim::SimDeregisterEventSource;
}
