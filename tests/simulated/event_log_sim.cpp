#include "event_log_sim.h"

#include "service_core/win_owners.h"

namespace sim {
namespace {

std::string FormatText(DWORD id, const std::vector<std::string>& strings) {
  const char* args[3] = {"", "", ""};
  for (size_t i = 0; i < strings.size() && i < 3; ++i) args[i] = strings[i].c_str();
  LocalBuffer<char> buffer;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      GetModuleHandleA(nullptr), id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<LPSTR>(buffer.put()), 0,
      reinterpret_cast<va_list*>(const_cast<char**>(args)));
  return n && buffer ? std::string(buffer.get(), n) : std::string();
}

}  // namespace

EventLog::~EventLog() {
  for (std::string* name : m_names) delete name;
}

HANDLE WINAPI EventLog::RegisterEventSourceA(LPCSTR, LPCSTR lpSourceName) {
  EventLog* log = Current();
  if (!log) {
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(log->m_lock);
  if (log->m_failNext > 0) {
    --log->m_failNext;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto* name = new std::string(lpSourceName ? lpSourceName : "");
  log->m_names.push_back(name);
  HANDLE h = static_cast<HANDLE>(name);
  log->m_open.insert(h);
  ++log->m_registrations;
  return h;
}

BOOL WINAPI EventLog::ReportEventA(HANDLE hEventLog, WORD wType, WORD, DWORD dwEventID,
                                   PSID, WORD wNumStrings, DWORD, LPCSTR* lpStrings,
                                   LPVOID) {
  EventLog* log = Current();
  if (!log) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  LoggedEvent event;
  {
    std::lock_guard<std::mutex> guard(log->m_lock);
    if (!log->m_open.count(hEventLog)) {
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
  std::lock_guard<std::mutex> guard(log->m_lock);
  log->m_events.push_back(event);
  return TRUE;
}

BOOL WINAPI EventLog::DeregisterEventSource(HANDLE hEventLog) {
  EventLog* log = Current();
  if (!log) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(log->m_lock);
  if (!log->m_open.erase(hEventLog)) {
    ++log->m_badDeregistrations;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

std::vector<LoggedEvent> EventLog::Events() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_events;
}

std::vector<DWORD> EventLog::Ids() const {
  std::vector<DWORD> ids;
  for (const auto& e : Events()) ids.push_back(e.id);
  return ids;
}

void EventLog::Clear() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_events.clear();
}

void EventLog::FailRegistrations(int n) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_failNext = n;
}

int EventLog::Registrations() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_registrations;
}

int EventLog::OpenSources() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return static_cast<int>(m_open.size());
}

std::string EventLog::Leaks() const {
  std::lock_guard<std::mutex> guard(m_lock);
  std::string leaks;
  if (!m_open.empty()) {
    leaks += std::to_string(m_open.size()) + " event source(s) still registered; ";
  }
  if (m_badDeregistrations) {
    leaks += std::to_string(m_badDeregistrations) +
             " deregistration(s) of a source not registered; ";
  }
  return leaks;
}

}  // namespace sim

SIM_REPLACE_IMPORT(RegisterEventSourceA, sim::EventLog::RegisterEventSourceA)
SIM_REPLACE_IMPORT(ReportEventA, sim::EventLog::ReportEventA)
SIM_REPLACE_IMPORT(DeregisterEventSource, sim::EventLog::DeregisterEventSource)
