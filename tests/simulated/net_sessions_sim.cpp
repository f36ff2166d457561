#include "net_sessions_sim.h"

#include <cstring>

namespace sim {
namespace {

// One record and its two texts, laid out as the real query lays them out:
// the records first, the strings after them in the same buffer.
size_t RecordBytes(const std::wstring& client, const std::wstring& user) {
  return sizeof(SESSION_INFO_10) + (client.size() + 1 + user.size() + 1) * sizeof(wchar_t);
}

}  // namespace

NetSessions::~NetSessions() {
  for (void* p : m_outstanding) delete[] static_cast<BYTE*>(p);
}

void NetSessions::Add(const std::wstring& client, const std::wstring& user) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_sessions.push_back({client, user});
}

void NetSessions::FailWith(NET_API_STATUS status) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_failure = status;
}

int NetSessions::Queries() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_queries;
}

std::wstring NetSessions::LastServer() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_lastServer;
}

std::vector<DWORD> NetSessions::LevelsAsked() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_levels;
}

std::string NetSessions::Leaks() const {
  std::lock_guard<std::mutex> guard(m_lock);
  std::string leaks;
  if (!m_outstanding.empty()) {
    leaks += std::to_string(m_outstanding.size()) + " session buffer(s) never freed; ";
  }
  if (m_badFrees) leaks += std::to_string(m_badFrees) + " free(s) of a buffer not handed out; ";
  return leaks;
}

NET_API_STATUS NetSessions::Enum(LMSTR servername, LMSTR, LMSTR, DWORD level, LPBYTE* bufptr,
                                 DWORD prefmaxlen, LPDWORD entriesread,
                                 LPDWORD totalentries, LPDWORD resume_handle) {
  NetSessions* s = Current();
  if (!s) return ERROR_NOT_SUPPORTED;
  std::lock_guard<std::mutex> guard(s->m_lock);
  ++s->m_queries;
  s->m_lastServer = servername ? servername : L"";
  s->m_levels.push_back(level);
  if (!bufptr || !entriesread || !totalentries) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = static_cast<DWORD>(s->m_sessions.size());
  if (s->m_failure) return s->m_failure;
  if (level != 10) return ERROR_INVALID_LEVEL;

  size_t first = resume_handle ? *resume_handle : 0;
  if (first > s->m_sessions.size()) first = s->m_sessions.size();
  // As many records as fit the preferred size, but at least one.
  size_t last = first, cbTotal = 0;
  while (last < s->m_sessions.size()) {
    const Session& session = s->m_sessions[last];
    size_t cb = RecordBytes(session.client, session.user);
    if (last > first && cbTotal + cb > prefmaxlen) break;
    cbTotal += cb;
    ++last;
  }
  if (last == first) {
    if (resume_handle) *resume_handle = 0;
    return NERR_Success;
  }

  BYTE* buffer = new BYTE[cbTotal];
  s->m_outstanding.insert(buffer);
  auto* records = reinterpret_cast<SESSION_INFO_10*>(buffer);
  auto* text = reinterpret_cast<wchar_t*>(buffer + (last - first) * sizeof(SESSION_INFO_10));
  for (size_t i = first; i < last; ++i) {
    SESSION_INFO_10& record = records[i - first];
    const Session& session = s->m_sessions[i];
    record.sesi10_cname = text;
    std::memcpy(text, session.client.c_str(), (session.client.size() + 1) * sizeof(wchar_t));
    text += session.client.size() + 1;
    record.sesi10_username = text;
    std::memcpy(text, session.user.c_str(), (session.user.size() + 1) * sizeof(wchar_t));
    text += session.user.size() + 1;
    record.sesi10_time = 60;
    record.sesi10_idle_time = 0;
  }
  *bufptr = buffer;
  *entriesread = static_cast<DWORD>(last - first);
  const bool bMore = last < s->m_sessions.size();
  if (resume_handle) *resume_handle = bMore ? static_cast<DWORD>(last) : 0;
  return bMore ? ERROR_MORE_DATA : NERR_Success;
}

NET_API_STATUS NetSessions::Free(LPVOID Buffer) {
  NetSessions* s = Current();
  if (!s) return ERROR_INVALID_PARAMETER;
  if (!Buffer) return NERR_Success;
  std::lock_guard<std::mutex> guard(s->m_lock);
  if (!s->m_outstanding.erase(Buffer)) {
    ++s->m_badFrees;
    return ERROR_INVALID_PARAMETER;
  }
  delete[] static_cast<BYTE*>(Buffer);
  return NERR_Success;
}

}  // namespace sim

SIM_DEFINE_FUNCTION(NetSessionEnum, NET_API_STATUS,
                    (LMSTR servername, LMSTR UncClientName, LMSTR username, DWORD level,
                     LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                     LPDWORD totalentries, LPDWORD resume_handle)) {
  return sim::NetSessions::Enum(servername, UncClientName, username, level, bufptr,
                                prefmaxlen, entriesread, totalentries, resume_handle);
}

SIM_DEFINE_FUNCTION(NetApiBufferFree, NET_API_STATUS, (LPVOID Buffer)) {
  return sim::NetSessions::Free(Buffer);
}
