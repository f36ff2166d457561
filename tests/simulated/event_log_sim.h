// Simulated event log: RegisterEventSourceA, ReportEventA and
// DeregisterEventSource are replaced, and every reported event is kept with
// its message text formatted from the message table of the test program.
#pragma once

#include <windows.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform_seam.h"

namespace sim {

struct LoggedEvent {
  std::string source;                 // the name the source was registered with
  WORD type = 0;
  DWORD id = 0;
  std::vector<std::string> strings;   // the insertion strings, in order
  std::string text;                   // the formatted message
};

class EventLog : public Piece<EventLog> {
 public:
  EventLog() = default;
  ~EventLog() override;

  std::vector<LoggedEvent> Events() const;
  std::vector<DWORD> Ids() const;
  void Clear();
  // The next n registrations fail (RegisterEventSourceA returns null).
  void FailRegistrations(int n);
  int Registrations() const;   // successful registrations so far
  int OpenSources() const;     // registered and not yet deregistered
  // Sources still registered, and deregistrations of handles never given.
  std::string Leaks() const override;

  // The replaced functions.
  static HANDLE WINAPI RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
  static BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory,
                                  DWORD dwEventID, PSID lpUserSid, WORD wNumStrings,
                                  DWORD dwDataSize, LPCSTR* lpStrings, LPVOID lpRawData);
  static BOOL WINAPI DeregisterEventSource(HANDLE hEventLog);

 private:
  mutable std::mutex m_lock;
  std::vector<LoggedEvent> m_events;
  std::set<HANDLE> m_open;
  std::vector<std::string*> m_names;   // a source's handle points at its name
  int m_failNext = 0;
  int m_registrations = 0;
  int m_badDeregistrations = 0;
};

}  // namespace sim
