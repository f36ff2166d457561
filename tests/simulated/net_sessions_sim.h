// Simulated network sessions of this server: NetSessionEnum (level 10) and
// NetApiBufferFree are replaced. Tests fill a session table; the query hands
// it out in batches that fit the caller's preferred buffer size, with
// ERROR_MORE_DATA and a resume handle, and every buffer must come back
// through NetApiBufferFree exactly once.
#pragma once

#include <windows.h>
#include <lm.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform_seam.h"

namespace sim {

class NetSessions : public Piece<NetSessions> {
 public:
  ~NetSessions() override;

  // Appends a session of user from client (both as the query reports them).
  void Add(const std::wstring& client, const std::wstring& user);
  // The next queries fail with this status (0: they succeed again).
  void FailWith(NET_API_STATUS status);
  int Queries() const;                 // NetSessionEnum calls so far
  std::wstring LastServer() const;     // the server name of the last query
  std::vector<DWORD> LevelsAsked() const;
  std::string Leaks() const override;

  static NET_API_STATUS Enum(LMSTR servername, LMSTR UncClientName, LMSTR username,
                             DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                             LPDWORD entriesread, LPDWORD totalentries,
                             LPDWORD resume_handle);
  static NET_API_STATUS Free(LPVOID Buffer);

 private:
  struct Session {
    std::wstring client, user;
  };
  mutable std::mutex m_lock;
  std::vector<Session> m_sessions;
  NET_API_STATUS m_failure = 0;
  int m_queries = 0;
  std::wstring m_lastServer;
  std::vector<DWORD> m_levels;
  std::set<void*> m_outstanding;
  int m_badFrees = 0;
};

}  // namespace sim
