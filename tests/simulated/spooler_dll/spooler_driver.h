// The test program's side of the winspool.drv stand-in: the same spooler,
// seen from another process through the channel (spooler_channel.h).
//
// Usage:
//   sim::SpoolerDriver spooler;          // opens (or creates) the channel
//   spooler.Reset();                     // nothing of an earlier test left
//   spooler.AddPrinter("Sim Laser");     // before the program opens it
//   ... start the program, with winspool.drv beside it and the override
//   ASSERT_TRUE(spooler.WaitUntil([](const sim::SpoolerCounts& c) {
//     return c.openNotifications == 1; }, 30000));
//   DWORD id = spooler.AddJob("Sim Laser", job);   // signals the program
//   ASSERT_TRUE(spooler.WaitForCommands(1, 30000));
//   ... stop the program, then
//   EXPECT_EQ(spooler.Leaks(), "");
//
// Everything of SpoolerCore's test side works across the processes; the
// platform functions themselves only see handles of the calling process.
// One test program at a time may drive the channel (its ctest lock is
// "sim_spooler_channel").
#pragma once

#include <windows.h>

#include <string>

#include "spooler_channel.h"

namespace sim {

namespace detail {
class SharedPlaceOrAbort : protected SharedSpoolerPlace {
 protected:
  SharedPlaceOrAbort();
};
}  // namespace detail

class SpoolerDriver : private detail::SharedPlaceOrAbort, public SpoolerCore {
 public:
  SpoolerDriver();
  // Forgets every printer, job, handle and record. Only while no program
  // is using the stand-in.
  void Reset();
  // Writes HKCU\Software\Wine\AppDefaults\<exe>\DllOverrides
  // winspool.drv=native,builtin, so that the program named loads the
  // stand-in beside it; the other removes that key again.
  static bool OverrideFor(const std::string& exeName);
  static void RemoveOverrideFor(const std::string& exeName);
};

}  // namespace sim
