// New printer and user names, registered on threads of their own. The
// decision about the first job of a new name waits for its registration
// only a moment (kNameWaitMs); a database that is slow or away therefore
// holds up no printer's job control for longer, whatever else the watcher's
// thread serves. A job whose names are not (yet) registered is decided from
// the caches, as after a registration that failed: a printer without an id
// gets no command, a user without one the printer's rule for every user.
// The registration goes on and serves the jobs after it.
#pragma once

#include <windows.h>

#include <mutex>
#include <set>
#include <string>

class CQuillonService;

// The healthy database registers a name in a few milliseconds.
constexpr DWORD kNameWaitMs = 250;

class CNameRegistrations {
 public:
  explicit CNameRegistrations(CQuillonService& service) : m_service(service) {}
  CNameRegistrations(const CNameRegistrations&) = delete;
  CNameRegistrations& operator=(const CNameRegistrations&) = delete;

  // Registers the printer and the user (an empty name: nothing to
  // register), unless a registration of that name is under way, on a thread
  // that holds a work ticket of the service; waits up to dwWaitMs for it.
  // The ids land in mapPrinters and mapUsers.
  void Register(const std::string& printer, const std::string& user, DWORD dwWaitMs);

 private:
  struct REQUEST;
  static DWORD WINAPI Routine(LPVOID pParam);

  CQuillonService& m_service;
  std::mutex m_lock;
  std::set<std::string> m_pending;   // "P" or "U" and the name
};
