// The printer change watcher against the simulated spooler, with its rules
// in a real database.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "db_test_support.h"
#include "monitor_harness.h"
#include "page_quota/quota_tables.h"
#include "printer_monitor/printer_watcher.h"
#include "printer_monitor/queue_housekeeping.h"
#include "service_core/lock.h"
#include "service_core/text_utils.h"

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

  static sim::JobFields JobOf(const std::wstring& user) {
    sim::JobFields job;
    job.user = user;
    job.totalBytes = 1000;
    job.status = JOB_STATUS_SPOOLING;
    return job;
  }

  std::map<DWORD, FINISHED_JOB> JobTable() {
    CLock lock(kJobQueueTimeout, kJobQueueMutex);
    return h->service->m_jobTable;
  }

  // Short pauses, so that a lost printer is tried again at once.
  void QuickRetries() {
    h->service->m_settings.watcher.dwRetryFirstMs = 1;
    h->service->m_settings.watcher.dwRetryLongestMs = 20;
    h->service->m_settings.watcher.dwCheckMs = 50;
  }

  // The events of watching lost and resumed, in order.
  std::vector<DWORD> WatchEvents() const {
    std::vector<DWORD> ids;
    for (DWORD id : h->eventLog->Ids()) {
      if (id == EVMSG_PRINTER_UNWATCHED || id == EVMSG_PRINTER_WATCHED) ids.push_back(id);
    }
    return ids;
  }

  std::unique_ptr<CMonitorHarness> h;
};

TEST_P(WatcherTest, PauseRuleIsAppliedOnceAndTheJobNeverRecorded) {
  Rules({"Laser"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD id = h->spooler->AddJob("Laser", JobOf(L"alice"));
  // The pause is a change of its own: its notification comes second.
  ASSERT_TRUE(h->WaitFetched(2));
  h->spooler->PrintJob(id);
  ASSERT_TRUE(h->spooler->Queue("Laser").empty());
  ASSERT_TRUE(h->WaitFetched(3));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_PAUSE, true}}));
  EXPECT_TRUE(JobTable().empty());
  EXPECT_TRUE(CJobThreadObserver::Taken().empty());
  std::lock_guard<std::mutex> lock(h->service->m_handledJobsLock);
  EXPECT_EQ(h->service->m_handledJobs.count(id), 1u);
}

// Later deltas carry only the field that changed: no status, no total.
TEST_P(WatcherTest, JobLetRunOnAnOrdinaryPrinterIsRecordedOnceWhenItFinishes) {
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD id = h->spooler->AddJob("Laser", JobOf(L"bob"));
  ASSERT_TRUE(h->WaitFetched(1));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.status = JOB_STATUS_PRINTING; });
  ASSERT_TRUE(h->WaitFetched(2));
  EXPECT_TRUE(JobTable().empty()) << "recorded before it finished";

  const DWORD dwBefore = static_cast<DWORD>(time(nullptr));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.bytesPrinted = 1000; });
  ASSERT_TRUE(h->WaitFetched(3));
  EXPECT_EQ(h->spooler->Fetches().back().entries, 1u) << "the block told more than the bytes";
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
  h->spooler->RemoveJob(id);
  ASSERT_TRUE(h->WaitFetched(4));
  EXPECT_TRUE(JobTable().empty()) << "recorded twice";
  EXPECT_TRUE(CJobThreadObserver::Taken().empty());
  EXPECT_TRUE(h->spooler->Commands().empty());
  // Seen on the way: the printer and the user are in the database now.
  EXPECT_EQ(db->Count("PRINTERS", "PrnName = 'Laser'"), 1);
  EXPECT_EQ(db->Count("USERS", "UserName = 'bob'"), 1);
}

// Two jobs on a GDI printer; the older finishes first, is removed right
// after printing, and both come in one block with the newer one's fields.
TEST_P(WatcherTest, EveryJobOfABlockIsDealtWithAndEachFinishedJobHandedOffOnce) {
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  sim::JobFields older = JobOf(L"Zo\u00EB");
  older.document = L"R\u00E9sum\u00E9 2026.pdf";
  older.totalPages = 3;
  older.devMode = sim::MakeDevMode(DMPAPER_A3, 2, DMCOLOR_COLOR, DMDUP_VERTICAL);
  older.devMode->dmSize = offsetof(DEVMODEW, dmColor);   // an older, smaller device mode
  DWORD first = 0, second = 0;
  {
    // The watcher is kept inside its first decision while the rest happens.
    std::unique_lock<std::mutex> hold(h->service->m_handledJobsLock);
    first = h->spooler->AddJob("Laser", older);
    ASSERT_TRUE(h->spooler->WaitForFetches(h->dwFetchesAtStart + 1, kWaitMs));
    second = h->spooler->AddJob("Laser", JobOf(L"bob"));
    h->spooler->PrintJob(first);
  }
  ASSERT_TRUE(h->WaitFetched(2));
  EXPECT_EQ(h->spooler->Fetches()[h->dwFetchesAtStart + 1].jobs, 2u);
  h->spooler->PrintJob(second);
  ASSERT_TRUE(CJobThreadObserver::WaitTaken(2));

  auto taken = CJobThreadObserver::Taken();
  ASSERT_EQ(taken.size(), 2u);
  const JOB_DATA& a = taken[0].job;
  EXPECT_EQ(taken[0].printer, L"Laser");
  EXPECT_EQ(a.dwJobId, first);
  EXPECT_EQ(JOB_TEXT(a, wszUser), L"Zo\u00EB");
  EXPECT_EQ(JOB_TEXT(a, wszDocument), L"R\u00E9sum\u00E9 2026.pdf");
  EXPECT_EQ(JOB_TEXT(a, wszComputer), L"CLIENT");
  EXPECT_EQ(a.dwTotalPages, 3u);
  EXPECT_EQ(a.wPaperSize, DMPAPER_A3);
  EXPECT_EQ(a.dwCopies, 2);
  EXPECT_TRUE(taken[0].bCopiesKnown);
  EXPECT_EQ(a.wColor, 1) << "read beyond the device mode's dmSize";
  EXPECT_EQ(a.tSubmitted, 1709287200);   // 2024-03-01 10:00 UTC
  EXPECT_EQ(taken[1].job.dwJobId, second);
  EXPECT_EQ(JOB_TEXT(taken[1].job, wszUser), L"bob");
  // The bytes printed go with a GDI printer's job, not into the table.
  EXPECT_TRUE(taken[0].bSizeKnown);
  EXPECT_EQ(taken[0].dwSize, 1000u);
  EXPECT_TRUE(JobTable().empty());
}

TEST_P(WatcherTest, AJobWhoseCommandFailsIsLetRunAndRecorded) {
  Rules({"Laser"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  h->spooler->FailNextSetJobs(1);
  DWORD id = h->spooler->AddJob("Laser", JobOf(L"alice"));
  ASSERT_TRUE(h->WaitFetched(1));
  h->spooler->PrintJob(id);
  ASSERT_TRUE(CJobThreadObserver::WaitTaken(1));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_PAUSE, false}}));
  auto taken = CJobThreadObserver::Taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].job.dwJobId, id);
  std::lock_guard<std::mutex> lock(h->service->m_handledJobsLock);
  EXPECT_EQ(h->service->m_handledJobs.count(id), 0u);
}

// Job control does not wait on the database: while another connection holds
// it locked, a known user's job on a known printer is decided from the
// caches at once, also right behind the first job of a new user, whose
// registration waits for the lock.
TEST_P(WatcherTest, DuringALockAKnownUsersJobIsPausedAtOnceEvenBehindANewUsersJob) {
  ASSERT_TRUE(h->spooler->AddPrinter("Other"));
  Rules({"Laser", "Other"}, {"alice"}, {{1, 2, JOB_CONTROL_PAUSE}});   // alice on Other
  h->WriteLists({"Laser", "Other"}, {});
  ASSERT_TRUE(h->StartWatcher(2));
  if (db->Kind() == Backend::SQLite) {
    db->Exec("BEGIN EXCLUSIVE");
  } else {
    db->Exec("BEGIN");
    db->Exec("LOCK TABLE PRINTERS, USERS IN ACCESS EXCLUSIVE MODE");
  }
  // Both printers are served by one thread of the watcher.
  const DWORD stranger = h->spooler->AddJob("Laser", JobOf(L"stranger"));
  ASSERT_TRUE(h->WaitFetched(1));
  const DWORD known = h->spooler->AddJob("Other", JobOf(L"alice"));
  const ULONGLONG start = GetTickCount64();
  const bool bPaused = h->spooler->WaitForCommands(1, kWaitMs);
  const ULONGLONG took = GetTickCount64() - start;
  db->Exec("COMMIT");
  ASSERT_TRUE(bPaused) << "the known user's job waited for the database";
  std::printf("paused %llu ms after it was queued\n", static_cast<unsigned long long>(took));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Other", known, JOB_CONTROL_PAUSE, true}}));
  // The new user is registered once the lock has gone; the service object
  // waits for the registration before it goes.
  h.reset();
  EXPECT_EQ(db->Count("USERS", "UserName = 'stranger'"), 1);
  (void)stranger;
}

// Nothing more is signalled after a discarded block until a refresh.
TEST_P(WatcherTest, DiscardedDataIsFollowedByARefreshAtOnce) {
  Rules({"Laser"}, {"alice"}, {{1, 1, JOB_CONTROL_CANCEL}});
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  h->spooler->DiscardNextFetches(1);
  DWORD id = h->spooler->AddJob("Laser", JobOf(L"alice"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  ASSERT_TRUE(h->WaitFetched(2));
  auto fetches = h->spooler->Fetches();
  const size_t start = h->dwFetchesAtStart;
  EXPECT_EQ(fetches[start].outcome, sim::spool::FetchOutcome::Discarded);
  EXPECT_FALSE(fetches[start].refreshAsked);
  EXPECT_TRUE(fetches[start + 1].refreshAsked);
  EXPECT_EQ(fetches[start + 1].outcome, sim::spool::FetchOutcome::Data);
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_CANCEL, true}}));
}

// The fetch fails: the printer is closed, reopened and rearmed, with one
// event each way, and the job that came meanwhile is dealt with.
TEST_P(WatcherTest, AFailedFetchRearmsThePrinterAndLosesNoJob) {
  Rules({"Laser"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  QuickRetries();
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  h->spooler->FailNextFetches(1);
  DWORD id = h->spooler->AddJob("Laser", JobOf(L"alice"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands()[0].jobId, id);
  EXPECT_EQ(WatchEvents(), (std::vector<DWORD>{EVMSG_PRINTER_UNWATCHED, EVMSG_PRINTER_WATCHED}));
  EXPECT_EQ(h->spooler->Counts().openPrinters, 1) << "the first handle was not given back";
}

// Nothing signals the watcher when the spooler goes; the check finds out.
TEST_P(WatcherTest, WatchingOutlivesASpoolerThatStopsAndStartsAgain) {
  QuickRetries();
  h->WriteLists({}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  DWORD during = h->spooler->AddJob("Laser", JobOf(L"carol"));
  ASSERT_TRUE(h->WaitFetched(1));
  h->spooler->Stop();
  ASSERT_TRUE(h->spooler->WaitUntil(
      [](const sim::SpoolerCounts& c) { return c.openNotifications == 0 && c.openPrinters == 0; },
      kWaitMs))
      << "the stale handles were kept";
  // Printed and gone while the spooler was away from the watcher.
  h->spooler->PrintJob(during);
  const DWORD dwFetchesBefore = h->spooler->Counts().fetches;
  h->spooler->Start();
  // Rearmed and refreshed: a job that came and went between the arming and
  // the refresh would be in neither.
  ASSERT_TRUE(h->spooler->WaitUntil(
      [&](const sim::SpoolerCounts& c) {
        if (c.openNotifications != 1 || c.fetches <= dwFetchesBefore) return false;
        const auto fetches = h->spooler->Fetches();
        for (size_t i = dwFetchesBefore; i < fetches.size(); ++i) {
          if (fetches[i].refreshAsked &&
              fetches[i].outcome == sim::spool::FetchOutcome::Data) {
            return true;
          }
        }
        return false;
      },
      kWaitMs));
  DWORD after = h->spooler->AddJob("Laser", JobOf(L"dave"));
  h->spooler->PrintJob(after);
  ASSERT_TRUE(CJobThreadObserver::WaitTaken(2));
  auto taken = CJobThreadObserver::Taken();
  ASSERT_EQ(taken.size(), 2u);
  // Each job has a thread of its own, and the two threads record in the
  // order they run, not the order they were started in.
  std::vector<DWORD> ids = {taken[0].job.dwJobId, taken[1].job.dwJobId};
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<DWORD>{std::min(during, after), std::max(during, after)}))
      << "the job gone during the restart (its absence from the refresh finished it) and the "
         "one after it";
  ASSERT_EQ(WatchEvents(), (std::vector<DWORD>{EVMSG_PRINTER_UNWATCHED, EVMSG_PRINTER_WATCHED}));
  SetLastError(RPC_S_SERVER_UNAVAILABLE);
  LocalBuffer<char> text(GetLastErrorText());
  for (const sim::LoggedEvent& e : h->eventLog->Events()) {
    if (e.id != EVMSG_PRINTER_UNWATCHED) continue;
    EXPECT_EQ(e.strings, (std::vector<std::string>{"Laser", text.get()}));
  }
}

TEST_P(WatcherTest, APrinterMissingAtStartIsWatchedOnceItExists) {
  Rules({"Later"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  QuickRetries();
  h->WriteLists({"Later"}, {"Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  EXPECT_EQ(h->eventLog->Ids(), std::vector<DWORD>{EVMSG_PRINTER_INIT});
  ASSERT_TRUE(h->spooler->AddPrinter("Later"));
  ASSERT_TRUE(h->spooler->WaitUntil(
      [](const sim::SpoolerCounts& c) { return c.openNotifications == 2; }, kWaitMs));
  DWORD id = h->spooler->AddJob("Later", JobOf(L"alice"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands()[0].jobId, id);
  EXPECT_EQ(h->eventLog->Ids(), (std::vector<DWORD>{EVMSG_PRINTER_INIT, EVMSG_PRINTER_WATCHED}));
}

TEST_P(WatcherTest, StopSignalledTogetherWithANotificationWins) {
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  {
    // The watcher is kept inside its first notification while a second one
    // and the stop arrive.
    std::unique_lock<std::mutex> hold(h->service->m_handledJobsLock);
    h->spooler->AddJob("Laser", JobOf(L"bob"));
    ASSERT_TRUE(h->spooler->WaitForFetches(h->dwFetchesAtStart + 1, kWaitMs));
    h->spooler->AddJob("Laser", JobOf(L"carol"));
    SetEvent(h->stop.get());
  }
  ASSERT_EQ(WaitForSingleObject(h->watcher.get(), kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  sim::SpoolerCounts counts = h->spooler->Counts();
  EXPECT_EQ(counts.fetches, h->dwFetchesAtStart + 1);
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
  DWORD id = h->spooler->AddJob("Laser", JobOf(L"dave"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_DELETE, true}}));
  EXPECT_TRUE(h->spooler->Queue("Laser").empty());
}

// A quota judges only what the rules let run: alice's rule pauses her job
// although the quota would delete it; bob, without a rule, passes the
// quota with his job's 2 pages and it is deleted, with one event that
// names him, the printer, the use and the limit.
TEST_P(WatcherTest, ARulesCommandBeatsAQuotaAndAQuotaStopsWhatTheRulesLetRun) {
  Rules({"Laser"}, {"alice", "bob"}, {{1, 1, JOB_CONTROL_PAUSE}});
  page_quota::QUOTA quota;
  quota.pages = 1;
  page_quota::ParsePeriod("none", quota.period);
  quota.action = JOB_CONTROL_DELETE;
  page_quota::StoreQuota(conn, quota);
  h->service->m_quotas.Refresh(conn, static_cast<int64_t>(std::time(nullptr)));
  h->WriteLists({"Laser"}, {});
  ASSERT_TRUE(h->StartWatcher(1));
  sim::JobFields alice = JobOf(L"alice"), bob = JobOf(L"bob");
  alice.totalPages = bob.totalPages = 2;
  const DWORD aliceId = h->spooler->AddJob("Laser", alice);
  const DWORD bobId = h->spooler->AddJob("Laser", bob);
  ASSERT_TRUE(h->spooler->WaitForCommands(2, kWaitMs));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", aliceId, JOB_CONTROL_PAUSE, true},
                                          {"Laser", bobId, JOB_CONTROL_DELETE, true}}));
  std::vector<sim::LoggedEvent> stops;
  for (const sim::LoggedEvent& e : h->eventLog->Events()) {
    if (e.id == EVMSG_QUOTA_STOPPED) stops.push_back(e);
  }
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0].type, EVENTLOG_INFORMATION_TYPE);
  EXPECT_EQ(stops[0].strings,
            (std::vector<std::string>{"bob", "Laser",
                                      "0 of 1 pages used, 2 for this job; its command: delete (5)"}));
}

// A printer named in both lists is watched once; the printers beyond one
// wait's 63 are watched by another thread.
TEST_P(WatcherTest, PrintersBeyondOneWaitAreWatchedAndEachPrinterOnce) {
  Rules({"Far"}, {"alice"}, {{1, 1, JOB_CONTROL_PAUSE}});
  std::vector<std::string> normal;
  for (int i = 0; i < MAXIMUM_WAIT_OBJECTS - 1; ++i) {
    normal.push_back("Filler " + std::to_string(i));
    ASSERT_TRUE(h->spooler->AddPrinter(normal.back()));
  }
  ASSERT_TRUE(h->spooler->AddPrinter("Far"));
  normal.push_back("Far");
  h->WriteLists(normal, {"far"});
  ASSERT_TRUE(h->StartWatcher(MAXIMUM_WAIT_OBJECTS));
  DWORD id = h->spooler->AddJob("Far", JobOf(L"alice"));
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands()[0].jobId, id);
  EXPECT_TRUE(h->eventLog->Events().empty());
  ASSERT_TRUE(h->WaitFetched(2));
  EXPECT_EQ(h->spooler->Counts().commands, 1u);
  ASSERT_TRUE(h->StopWatcher());
  EXPECT_EQ(h->spooler->Counts().openNotifications, 0);
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

TEST_P(WatcherTest, PrinterThatCannotBeArmedIsReportedAndStillKeptClean) {
  ASSERT_TRUE(h->spooler->AddPrinter("Unarmed"));
  h->spooler->RefuseNotifications("Unarmed", true);
  // Tried first: reported by the time Laser is watched.
  h->WriteLists({}, {"Unarmed", "Laser"});
  ASSERT_TRUE(h->StartWatcher(1));
  sim::JobFields complete = JobOf(L"bob");
  complete.status = JOB_STATUS_COMPLETE;
  DWORD id = h->spooler->AddJob("Unarmed", complete);
  EXPECT_EQ(h->spooler->Counts().fetches, h->dwFetchesAtStart);
  EXPECT_EQ(WatchEvents(), std::vector<DWORD>{EVMSG_PRINTER_UNWATCHED});
  // Opened afresh after the failed arm, for the housekeeping.
  EXPECT_EQ(h->spooler->Counts().openPrinters, 2);
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
