// The printer change watcher against the simulated spooler, with its rules
// in a real database.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "db_test_support.h"
#include "job_accounting/job_thread.h"
#include "monitor_harness.h"
#include "printer_monitor/printer_watcher.h"
#include "printer_monitor/queue_housekeeping.h"
#include "service_core/lock.h"

namespace {

class WatcherTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    h.reset(new CMonitorHarness());
    h->service->pConnection = conn;
    ASSERT_TRUE(h->spooler->AddPrinter("Laser"));
  }
  void TearDown() override {
    h.reset();
    DatabaseTest::TearDown();
  }

  // Rows for the printers and users in this order (ids 1, 2, ...) and the
  // rules, then the caches loaded from them as the worker body does.
  void Rules(const std::vector<std::string>& printers, const std::vector<std::string>& users,
             const std::vector<PERMISSION_ENTRY>& rules) {
    for (const std::string& p : printers) {
      db->Exec("INSERT INTO PRINTERS (PrnName) VALUES (" + SqlText(p) + ")");
    }
    for (const std::string& u : users) {
      db->Exec("INSERT INTO USERS (UserName) VALUES (" + SqlText(u) + ")");
    }
    for (const PERMISSION_ENTRY& r : rules) {
      db->Exec("INSERT INTO PRNPERMISSIONS (idPrinter, idUser, Action) VALUES (" +
               std::to_string(r.idPrinter) + ", " + std::to_string(r.idUser) + ", " +
               std::to_string(r.Action) + ")");
    }
    ASSERT_EQ(h->service->LoadPermissionTable(), 1);
    ASSERT_EQ(h->service->LoadPrinterTable(), 1);
    ASSERT_EQ(h->service->LoadUserTable(), 1);
  }

  static sim::JobFields JobOf(const std::string& user) {
    sim::JobFields job;
    job.user = user;
    job.totalBytes = 1000;
    return job;
  }

  std::map<DWORD, FINISHED_JOB> JobTable() {
    CLock lock(kJobQueueTimeout, kJobQueueMutex);
    return h->service->m_jobTable;
  }

  std::unique_ptr<CMonitorHarness> h;
};

TEST_P(WatcherTest, PauseRuleIsAppliedOnceAndTheJobNeverRecorded) {
  Rules({"Laser"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD id = h->spooler->AddJob("Laser", JobOf("alice"));
  // The pause is a change of its own: its notification comes second.
  ASSERT_TRUE(h->WaitFetched(2));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) {
    f.status |= JOB_STATUS_PRINTED;
    f.bytesPrinted = 1000;
  });
  ASSERT_TRUE(h->WaitFetched(3));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_PAUSE, true}}));
  EXPECT_TRUE(JobTable().empty());
  EXPECT_TRUE(CJobThreadObserver::Taken().empty());
  std::lock_guard<std::mutex> lock(h->service->m_handledJobsLock);
  EXPECT_EQ(h->service->m_handledJobs.count(id), 1u);
}

TEST_P(WatcherTest, JobLetRunOnAnOrdinaryPrinterIsRecordedOnceWhenItFinishes) {
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD id = h->spooler->AddJob("Laser", JobOf("bob"));
  ASSERT_TRUE(h->WaitFetched(1));
  EXPECT_TRUE(JobTable().empty()) << "recorded before it finished";

  const DWORD dwBefore = static_cast<DWORD>(time(nullptr));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.bytesPrinted = 1000; });
  ASSERT_TRUE(h->WaitFetched(2));
  auto table = JobTable();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.begin()->first, id);
  EXPECT_EQ(table.begin()->second.dwBytesPrinted, 1000u);
  EXPECT_GE(table.begin()->second.dwStoredAt, dwBefore);
  {
    CLock lock(kJobQueueTimeout, kJobQueueMutex);
    h->service->m_jobTable.clear();   // as the accounting takes it
  }
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.status |= JOB_STATUS_PRINTED; });
  ASSERT_TRUE(h->WaitFetched(3));
  EXPECT_TRUE(JobTable().empty()) << "recorded twice";
  EXPECT_TRUE(CJobThreadObserver::Taken().empty());
  EXPECT_TRUE(h->spooler->Commands().empty());
  // Seen on the way: the printer and the user are in the database now.
  EXPECT_EQ(db->Count("PRINTERS", "PrnName = 'Laser'"), 1);
  EXPECT_EQ(db->Count("USERS", "UserName = 'bob'"), 1);
}

TEST_P(WatcherTest, JobFinishedOnAGdiPrinterIsHandedToOneJobThread) {
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD id = h->spooler->AddJob("Laser", JobOf("bob"));
  ASSERT_TRUE(h->WaitFetched(1));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.status = JOB_STATUS_COMPLETE; });
  ASSERT_TRUE(h->WaitFetched(2));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.status |= JOB_STATUS_PRINTED; });
  ASSERT_TRUE(h->WaitFetched(3));
  auto taken = CJobThreadObserver::Taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].printer, L"Laser");
  EXPECT_EQ(taken[0].dwJobId, id);
  EXPECT_EQ(taken[0].dwStatus, static_cast<DWORD>(JOB_STATUS_COMPLETE))
      << "the block is the one in which the job finished";
  EXPECT_EQ(JobTable().size(), 1u);
}

TEST_P(WatcherTest, OnlyTheNewestJobOfTheQueueIsDealtWith) {
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD first = h->spooler->AddJob("Laser", JobOf("bob"));
  ASSERT_TRUE(h->WaitFetched(1));
  DWORD second = h->spooler->AddJob("Laser", JobOf("carol"));
  ASSERT_TRUE(h->WaitFetched(2));
  h->spooler->UpdateJob(first, [](sim::JobFields& f) { f.status = JOB_STATUS_PRINTED; });
  ASSERT_TRUE(h->WaitFetched(3));
  EXPECT_TRUE(JobTable().empty()) << "the earlier job was looked at";
  // Once it is the newest, its finish is seen.
  h->spooler->RemoveJob(second);
  ASSERT_TRUE(h->WaitFetched(4));
  auto table = JobTable();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.begin()->first, first);
}

TEST_P(WatcherTest, DiscardedDataIsReplacedByARefresh) {
  Rules({"Laser"}, {"alice"}, {{1, 1, JOB_CONTROL_CANCEL}});
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  h->spooler->DiscardNextFetches(1);
  DWORD id = h->spooler->AddJob("Laser", JobOf("alice"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  ASSERT_TRUE(h->WaitFetched(2));
  auto fetches = h->spooler->Fetches();
  ASSERT_GE(fetches.size(), 2u);
  EXPECT_EQ(fetches[0].outcome, sim::spool::FetchOutcome::Discarded);
  EXPECT_TRUE(fetches[1].refreshAsked);
  EXPECT_EQ(fetches[1].outcome, sim::spool::FetchOutcome::Data);
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_CANCEL, true}}));
}

TEST_P(WatcherTest, EmptyBlockIsDropped) {
  Rules({"Laser"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  h->spooler->EmptyNextFetches(1);
  DWORD id = h->spooler->AddJob("Laser", JobOf("alice"));
  ASSERT_TRUE(h->WaitFetched(1));
  EXPECT_TRUE(h->spooler->Commands().empty());
  // The next notification is dealt with as usual.
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.totalPages = 2; });
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands()[0].jobId, id);
}

TEST_P(WatcherTest, StopSignalledTogetherWithANotificationWins) {
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  {
    // The watcher is kept inside its first notification while a second one
    // and the stop arrive.
    std::unique_lock<std::mutex> hold(h->service->m_handledJobsLock);
    h->spooler->AddJob("Laser", JobOf("bob"));
    ASSERT_TRUE(h->spooler->WaitForFetches(1, kWaitMs));
    h->spooler->AddJob("Laser", JobOf("carol"));
    SetEvent(h->stop.get());
  }
  ASSERT_EQ(WaitForSingleObject(h->watcher.get(), kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  sim::SpoolerCounts counts = h->spooler->Counts();
  EXPECT_EQ(counts.fetches, 1u);
  EXPECT_EQ(counts.openNotifications, 0);
  EXPECT_EQ(counts.openPrinters, 0);
  EXPECT_TRUE(h->service->m_printers.empty());
}

TEST_P(WatcherTest, StopEndsTheWatcherAlsoWhenItsHandleWasClosed) {
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  SetEvent(h->stop.get());
  h->stop.reset();   // as the run sequence does once it has waited long enough
  h->service->m_hStopEvent = nullptr;
  ASSERT_EQ(WaitForSingleObject(h->watcher.get(), kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(h->spooler->Counts().openNotifications, 0);
}

TEST_P(WatcherTest, RuleForEveryPrinterAndUserDeletesAJobNoOtherRuleNames) {
  Rules({"Other"}, {"carol"},
        {{-1, -1, JOB_CONTROL_DELETE}, {1, 1, JOB_CONTROL_PAUSE}, {1, 2, JOB_CONTROL_PAUSE}});
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD id = h->spooler->AddJob("Laser", JobOf("dave"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_DELETE, true}}));
  EXPECT_TRUE(h->spooler->Queue("Laser").empty());
}

TEST_P(WatcherTest, PrintersBeyondOneWaitAreWatched) {
  Rules({"Far"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  ASSERT_TRUE(h->spooler->AddPrinter("Filler"));
  ASSERT_TRUE(h->spooler->AddPrinter("Far"));
  // One printer listed 63 times fills the first wait.
  std::vector<std::string> normal(MAXIMUM_WAIT_OBJECTS - 1, "Filler");
  normal.push_back("Far");
  h->WriteLists(normal, {"Far"});
  ASSERT_TRUE(h->StartWatcher(MAXIMUM_WAIT_OBJECTS + 1));
  DWORD id = h->spooler->AddJob("Far", JobOf("alice"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands()[0].jobId, id);
  EXPECT_TRUE(h->eventLog->Events().empty());
  // Far's second slot saw the same job and knew it as handled.
  ASSERT_TRUE(h->WaitFetched(3));
  EXPECT_EQ(h->spooler->Counts().commands, 1u);
  ASSERT_TRUE(h->StopWatcher());
  EXPECT_EQ(h->spooler->Counts().openNotifications, 0);
}

TEST_P(WatcherTest, RealJobThreadGivesItsBlocksBack) {
  h->service->m_pfnJobThread = JobThread;
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD id = h->spooler->AddJob("Laser", JobOf("bob"));
  ASSERT_TRUE(h->WaitFetched(1));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.status = JOB_STATUS_PRINTED; });
  // The second block is the per-job thread's to give back.
  ASSERT_TRUE(h->WaitFetched(2));
  EXPECT_EQ(h->spooler->Counts().blocksGiven, 2u);
  // The job's accounting took the entry the watcher stored for it.
  EXPECT_EQ(JobTable().size(), 0u);
}

TEST_P(WatcherTest, FailedLoadLeavesNoPrinterOpen) {
  h->WriteLists({"Laser"}, {});
  DeleteFileA(kGdiPrinterListFile);
  ASSERT_TRUE(CreateDirectoryA(kGdiPrinterListFile, nullptr));
  h->watcher.reset(CreateThread(nullptr, 0, WatchPrinters, h->service.get(), 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(h->watcher.get(), kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  RemoveDirectoryA(kGdiPrinterListFile);
  EXPECT_EQ(h->spooler->Counts().openPrinters, 0);
  EXPECT_TRUE(h->service->m_printers.empty());
  EXPECT_EQ(h->eventLog->Ids(), std::vector<DWORD>{EVMSG_ERROR});
}

TEST_P(WatcherTest, PrinterThatCannotBeArmedIsStillKeptClean) {
  ASSERT_TRUE(h->spooler->AddPrinter("Unarmed"));
  h->spooler->RefuseNotifications("Unarmed", true);
  h->WriteLists({"Laser"}, {"Unarmed"});
  ASSERT_TRUE(h->StartWatcher(1));
  sim::JobFields complete = JobOf("bob");
  complete.status = JOB_STATUS_COMPLETE;
  DWORD id = h->spooler->AddJob("Unarmed", complete);
  EXPECT_EQ(h->spooler->Counts().fetches, 0u);
  EXPECT_TRUE(h->eventLog->Events().empty());
  RunHousekeepingPass(*h->service, static_cast<DWORD>(time(nullptr)), nullptr);
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Unarmed", id, JOB_CONTROL_DELETE, true}}));
}

// A housekeeping pass holds the list shared while it uses a printer; the
// watcher's stop closes the printers only after it has let go. The half
// second only bounds how long the absence of the close is looked for.
TEST_P(WatcherTest, StopClosesNoPrinterWhileAHousekeepingPassUsesIt) {
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  {
    std::shared_lock<std::shared_mutex> pass(h->service->m_printersLock);
    SetEvent(h->stop.get());
    EXPECT_EQ(WaitForSingleObject(h->watcher.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(h->spooler->Counts().openPrinters, 1);
  }
  ASSERT_EQ(WaitForSingleObject(h->watcher.get(), kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(h->spooler->Counts().openPrinters, 0);
}

INSTANTIATE_FOR_BOTH_DATABASES(WatcherTest);

}  // namespace
