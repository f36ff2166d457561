// Simulated print spooler for in-process tests of the printer monitoring.
//
// Usage:
//   #include "sim_fixture.h"
//   #include "spooler_sim.h"
//   sim::Owned<sim::Spooler> spooler;              // one per test
//   spooler->AddPrinter("Laser");
//   sim::JobFields job;                              // defaults: see spooler_core.h
//   job.user = L"Zo\u00EB";
//   DWORD id = spooler->AddJob("Laser", job);        // signals Laser's notifications
//   spooler->PrintJob(id);                           // printing, printed, gone
//   ASSERT_TRUE(spooler->WaitForCommands(1, 5000));  // never sleep to wait
//   EXPECT_EQ(spooler->Commands()[0].command, JOB_CONTROL_PAUSE);
//
// The code under test calls OpenPrinterA, ClosePrinter,
// FindFirstPrinterChangeNotification, FindNextPrinterChangeNotification,
// FindClosePrinterChangeNotification, FreePrinterNotifyInfo, SetJobA,
// EnumJobsA, GetJobA and GetJobW by their own names; a program that links
// the piece sim_spooler reaches this spooler instead of winspool.drv.
//
// - A change notification is a real manual-reset event, signalled when a
//   job field it asked for changes (or a condition of its filter is met)
//   and reset by FindNextPrinterChangeNotification.
// - FindNextPrinterChangeNotification gives one heap block: with
//   PRINTER_NOTIFY_OPTIONS_REFRESH every asked field of every queued job,
//   otherwise only the asked fields that changed since the last fetch, of
//   the jobs that changed; a job leaving the queue is a change of its status
//   (JOB_STATUS_DELETED). Texts are UTF-16 with cbBuf in bytes, the device
//   mode a DEVMODEW of its own dmSize, the submission time a SYSTEMTIME
//   (UTC). Too many changes between two fetches, or DiscardNextFetches,
//   give a block flagged PRINTER_NOTIFY_INFO_DISCARDED, after which nothing
//   is signalled until a refresh.
// - SetJobA is recorded (Commands()) and applied: pause and resume set and
//   clear JOB_STATUS_PAUSED, cancel and delete take the job off the queue;
//   FailNextSetJobs makes it fail.
// - EnumJobsA, GetJobA and GetJobW (level 2) follow the size protocol; the
//   ANSI ones convert with the ANSI code page.
// - Stop/Start: every handle given out before becomes invalid; the queues
//   stay.
// - When the fixture ends, every printer handle and notification must be
//   closed and every block freed exactly once, or the test fails (Leaks()).
// - WaitForCommands / WaitForFetches / WaitUntil wait (one waiting thread at
//   a time) for what the code under test did.
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
