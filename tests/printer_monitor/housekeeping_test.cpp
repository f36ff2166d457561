// The queue housekeeping passes and thread, on the simulated spooler and the
// real registry of the test prefix.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "monitor_harness.h"
#include "printer_monitor/queue_housekeeping.h"

namespace {

class HousekeepingTest : public ::testing::Test {
 protected:
  void TearDown() override {
    h.ClosePrinters();
    for (const std::string& name : m_keys) {
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kGdiSettingsKey) + "\\" + name).c_str());
    }
    // Left behind, the parent key would keep the settings key from being
    // deleted by the tests of the other settings.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kGdiSettingsKey);
  }

  void Watch(const char* pszName, DWORD dwKind) {
    h.spooler->AddPrinter(pszName);
    h.service->m_printers.emplace_back(pszName, dwKind, TRUE);
  }
  DWORD Job(const char* pszPrinter, DWORD dwStatus) {
    sim::JobFields job;
    job.status = dwStatus;
    return h.spooler->AddJob(pszPrinter, job);
  }
  void SetDeletePrinted(const std::string& printer, DWORD dwValue) {
    RegKey key;
    const std::string path = std::string(kGdiSettingsKey) + "\\" + printer;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), kDeletePrintedValue, 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue)),
              ERROR_SUCCESS);
    m_keys.insert(printer);
  }
  std::set<DWORD> Deleted() const {
    std::set<DWORD> ids;
    for (const sim::JobCommand& c : h.spooler->Commands()) {
      EXPECT_EQ(c.command, static_cast<DWORD>(JOB_CONTROL_DELETE));
      ids.insert(c.jobId);
    }
    return ids;
  }
  std::set<DWORD> Handled() {
    std::lock_guard<std::mutex> lock(h.service->m_handledJobsLock);
    std::set<DWORD> ids;
    for (const auto& entry : h.service->m_handledJobs) ids.insert(entry.first);
    return ids;
  }
  void Pass() { RunHousekeepingPass(*h.service, static_cast<DWORD>(time(nullptr)), nullptr); }

  CMonitorHarness h;
  std::set<std::string> m_keys;
};

TEST_F(HousekeepingTest, FinishedJobsOlderThan900SecondsAreRemoved) {
  const DWORD dwNow = 2000000000;
  auto& table = h.service->m_jobTable;
  table[1] = {10, dwNow - 900};
  table[2] = {20, dwNow - 901};
  table[3] = {30, dwNow + 5};   // the clock was set back since
  table[4] = {40, dwNow};
  RunHousekeepingPass(*h.service, dwNow, nullptr);
  std::set<DWORD> left;
  for (const auto& entry : table) left.insert(entry.first);
  EXPECT_EQ(left, (std::set<DWORD>{1, 4}));
}

TEST_F(HousekeepingTest, CompleteJobsOfGdiPrintersAreDeletedPrintedOnesOnRequest) {
  Watch("Gdi", PRN_GDI);
  Watch("Plain", PRN_NORMAL);
  DWORD complete = Job("Gdi", JOB_STATUS_COMPLETE);
  DWORD printed = Job("Gdi", JOB_STATUS_PRINTED);
  Job("Gdi", JOB_STATUS_PRINTING);
  Job("Plain", JOB_STATUS_COMPLETE);
  Job("Plain", JOB_STATUS_PRINTED);
  Pass();
  EXPECT_EQ(Deleted(), (std::set<DWORD>{complete}));

  SetDeletePrinted("Plain", 1);   // never consulted for an ordinary printer
  SetDeletePrinted("Gdi", 1);
  Pass();
  EXPECT_EQ(Deleted(), (std::set<DWORD>{complete, printed}));
  EXPECT_EQ(h.spooler->Queue("Plain").size(), 2u);
}

// A job whose spool data the accounting has yet to read stays queued (the
// spooler would delete its spool file with it), until it is released or
// its hold is older than 900 s.
TEST_F(HousekeepingTest, AJobWhoseSpoolDataIsHeldStaysUntilReleasedOrTheHoldIsTooOld) {
  Watch("Gdi", PRN_GDI);
  const DWORD dwNow = 2000000000;
  const DWORD held = Job("Gdi", JOB_STATUS_COMPLETE);
  const DWORD stale = Job("Gdi", JOB_STATUS_COMPLETE);
  const DWORD future = Job("Gdi", JOB_STATUS_COMPLETE);
  h.service->m_spoolHolds.Hold(held, dwNow - 900);
  h.service->m_spoolHolds.Hold(stale, dwNow - 901);
  h.service->m_spoolHolds.Hold(future, dwNow + 5);   // the clock was set back since
  RunHousekeepingPass(*h.service, dwNow, nullptr);
  EXPECT_EQ(Deleted(), (std::set<DWORD>{stale, future}));
  h.service->m_spoolHolds.Release(held);
  RunHousekeepingPass(*h.service, dwNow, nullptr);
  EXPECT_EQ(Deleted(), (std::set<DWORD>{held, stale, future}));
}

TEST_F(HousekeepingTest, DeletePrintedOfZeroDeletesNoPrintedJobs) {
  Watch("Gdi", PRN_GDI);
  SetDeletePrinted("Gdi", 0);
  Job("Gdi", JOB_STATUS_PRINTED);
  Pass();
  EXPECT_TRUE(Deleted().empty());
}

TEST_F(HousekeepingTest, HandledJobsStayWhileQueuedOnAnyWatchedPrinter) {
  Watch("Gdi1", PRN_GDI);
  Watch("Gdi2", PRN_GDI);
  Watch("Plain", PRN_NORMAL);
  DWORD onFirst = Job("Gdi1", 0);
  DWORD onSecond = Job("Gdi2", 0);
  DWORD onPlain = Job("Plain", 0);
  h.service->m_handledJobs = {{onFirst, TRUE}, {onSecond, TRUE}, {onPlain, TRUE}, {999, TRUE}};
  for (int pass = 0; pass < 3; ++pass) Pass();
  EXPECT_EQ(Handled(), (std::set<DWORD>{onFirst, onSecond, onPlain}));
  h.spooler->RemoveJob(onFirst);
  Pass();
  EXPECT_EQ(Handled(), (std::set<DWORD>{onSecond, onPlain}));
}

TEST_F(HousekeepingTest, EmptyQueueOfTheOnlyGdiPrinterEmptiesTheHandledJobs) {
  Watch("Gdi", PRN_GDI);
  h.service->m_handledJobs = {{5, TRUE}, {6, TRUE}};
  Pass();
  EXPECT_TRUE(Handled().empty());
}

TEST_F(HousekeepingTest, QueueThatCannotBeListedKeepsEveryHandledJob) {
  Watch("Gdi", PRN_GDI);
  Watch("Plain", PRN_NORMAL);
  DWORD complete = Job("Gdi", JOB_STATUS_COMPLETE);
  h.service->m_handledJobs = {{5, TRUE}};
  h.spooler->FailNextEnumJobs(1);
  Pass();
  EXPECT_EQ(Handled(), (std::set<DWORD>{5}));
  EXPECT_TRUE(Deleted().empty());
  Pass();
  EXPECT_TRUE(Handled().empty());
  EXPECT_EQ(Deleted(), (std::set<DWORD>{complete}));
}

TEST_F(HousekeepingTest, ThreadMakesPassesAtItsPeriodUntilTheStop) {
  Watch("Gdi", PRN_GDI);
  DWORD complete = Job("Gdi", JOB_STATUS_COMPLETE);
  h.service->m_settings.dwHousekeepingPeriodMs = 1;
  UniqueHandle thread(CreateThread(nullptr, 0, CleanQueues, h.service.get(), 0, nullptr));
  ASSERT_TRUE(h.spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h.spooler->Commands()[0].jobId, complete);
  // Set, then closed at once as the run sequence may do: the thread ends.
  SetEvent(h.stop.get());
  h.stop.reset();
  h.service->m_hStopEvent = nullptr;
  ASSERT_EQ(WaitForSingleObject(thread.get(), kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD dwExit = 1;
  GetExitCodeThread(thread.get(), &dwExit);
  EXPECT_EQ(dwExit, 0u);
}

TEST_F(HousekeepingTest, StopDuringTheWaitEndsTheThreadWithoutAPass) {
  Watch("Gdi", PRN_GDI);
  Job("Gdi", JOB_STATUS_COMPLETE);
  ASSERT_EQ(h.service->m_settings.dwHousekeepingPeriodMs, kHousekeepingPeriodMs);
  UniqueHandle thread(CreateThread(nullptr, 0, CleanQueues, h.service.get(), 0, nullptr));
  SetEvent(h.stop.get());
  ASSERT_EQ(WaitForSingleObject(thread.get(), kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(h.spooler->Counts().enumJobsCalls, 0u);
  EXPECT_EQ(CleanQueues(nullptr), static_cast<DWORD>(-1));
}

}  // namespace
