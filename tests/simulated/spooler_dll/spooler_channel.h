// The channel between the winspool.drv stand-in, inside the program under
// test, and the test program that drives it from another process: the
// spooler's State in a named file mapping, a named mutex that serialises
// every call of either side, and a named event set after every change.
// Notification events are named after the channel too, so that either side
// can signal the other's (see SpoolerCore::Changed).
#pragma once

#include <windows.h>

#include "spooler_core.h"

namespace sim {

constexpr char kSpoolerChannel[] = "QuillonSpoolerSim";

// Opens the channel, creating it (an empty spooler) when it does not exist.
class SharedSpoolerPlace {
 public:
  SharedSpoolerPlace();
  ~SharedSpoolerPlace();
  SharedSpoolerPlace(const SharedSpoolerPlace&) = delete;
  SharedSpoolerPlace& operator=(const SharedSpoolerPlace&) = delete;

  bool Ok() const { return m_state != nullptr; }
  SpoolerPlace Place() const;

 private:
  HANDLE m_mapping = nullptr;
  HANDLE m_lock = nullptr;
  HANDLE m_activity = nullptr;
  spool::State* m_state = nullptr;
};

}  // namespace sim
