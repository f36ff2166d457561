// Simulated print spooler for in-process tests of the printer monitoring.
//
// Usage:
//   #include "sim_fixture.h"
//   #include "spooler_sim.h"
//   sim::Owned<sim::Spooler> spooler;              // one per test
//   spooler->AddPrinter("Laser");
//   sim::JobFields job;                              // defaults: see spooler_core.h
//   job.user = "alice";
//   DWORD id = spooler->AddJob("Laser", job);        // signals Laser's notifications
//   spooler->UpdateJob(id, [](sim::JobFields& f) { f.status = JOB_STATUS_PRINTED; });
//   ASSERT_TRUE(spooler->WaitForCommands(1, 5000));  // never sleep to wait
//   EXPECT_EQ(spooler->Commands()[0].command, JOB_CONTROL_PAUSE);
//
// The code under test calls OpenPrinterA, ClosePrinter,
// FindFirstPrinterChangeNotification, FindNextPrinterChangeNotification,
// FindClosePrinterChangeNotification, FreePrinterNotifyInfo, SetJobA,
// EnumJobsA and GetJobA by their own names; a program that links the piece
// sim_spooler reaches this spooler instead of winspool.drv.
//
// - A change notification is a real manual-reset event: it is signalled on
//   every change of its printer's queue (AddJob, UpdateJob, RemoveJob, an
//   applied SetJobA) and reset by FindNextPrinterChangeNotification.
// - FindNextPrinterChangeNotification gives one heap block: for every job
//   of the queue in queue order, one entry per JOB_NOTIFY_TYPE field that
//   FindFirst's options asked for, in that order. Texts are ANSI strings,
//   the device mode a DEVMODEA, the submission time a SYSTEMTIME (UTC); a
//   field whose JobFields value is empty has cbBuf 0 and pBuf null.
//   FailNextFetches / DiscardNextFetches / EmptyNextFetches inject faults.
// - SetJobA is recorded (Commands()) and applied: pause and resume set and
//   clear JOB_STATUS_PAUSED, cancel and delete take the job off the queue.
// - EnumJobsA and GetJobA (levels 1 and 2) follow the size protocol:
//   FALSE with ERROR_INSUFFICIENT_BUFFER and the size needed.
// - When the fixture ends, every printer handle and notification must be
//   closed and every block freed exactly once, or the test fails (Leaks()).
// - WaitForCommands / WaitForFetches / WaitForFreedBlocks / WaitUntil wait
//   (one waiting thread at a time) for what the code under test did.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform_seam.h"
#include "spooler_core.h"

namespace sim {

namespace detail {
// The spooler's state on this program's heap, with its own lock and
// activity event; built before the core that uses it.
class LocalSpoolerPlace {
 protected:
  LocalSpoolerPlace();
  ~LocalSpoolerPlace();
  SpoolerPlace Place();

 private:
  std::unique_ptr<spool::State> m_state;
  HANDLE m_lock;
  HANDLE m_activity;
  std::string m_prefix;
};
}  // namespace detail

class Spooler : private detail::LocalSpoolerPlace, public SpoolerCore, public Piece<Spooler> {
 public:
  Spooler();
  ~Spooler() override;
  std::string Leaks() const override { return SpoolerCore::Leaks(); }
};

}  // namespace sim
