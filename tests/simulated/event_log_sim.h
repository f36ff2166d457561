// Simulated event log for tests: RegisterEventSourceA, ReportEventA and
// DeregisterEventSource are replaced, and every reported event is kept with
// its message text formatted from the message table of the test program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sim {

struct LoggedEvent {
  std::string source;                 // the name the source was registered with
  WORD type = 0;
  DWORD id = 0;
  std::vector<std::string> strings;   // the insertion strings, in order
  std::string text;                   // the formatted message
};

class EventLog {
 public:
  static std::vector<LoggedEvent> Events();
  static std::vector<DWORD> Ids();
  static void Clear();
  // The next n registrations fail (RegisterEventSourceA returns null).
  static void FailRegistrations(int n);
  static int Registrations();     // successful registrations so far
  static int OpenSources();       // registered and not yet deregistered
};

}  // namespace sim
