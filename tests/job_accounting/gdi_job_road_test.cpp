// The whole road of jobs on a GDI printer, in one process: the simulated
// spooler signals, the watcher sees each job finish, the per-job thread
// completes its copies and accounts it into a real SQLite database.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <ctime>
#include <thread>

#include "database/wide_text.h"
#include "db_test_support.h"
#include "job_accounting/job_thread.h"
#include "printer_monitor/queue_housekeeping.h"
#include "monitor_harness.h"
#include "net_sessions_sim.h"
#include "service_core/lock.h"
#include "service_core/win_owners.h"
#include "spool_fixture.h"

namespace {

// Prints the job and waits until the accounting has pulsed JOB_EVENT.
bool PrintAndWaitForTheRow(CMonitorHarness& harness, HANDLE hJobEvent, DWORD id) {
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  DWORD woken = WAIT_TIMEOUT;
  std::thread waiter([&] { woken = SignalObjectAndWait(ready.get(), hJobEvent, kWaitMs, FALSE); });
  if (WaitForSingleObject(ready.get(), kWaitMs) != WAIT_OBJECT_0) {
    waiter.join();
    return false;
  }
  harness.spooler->PrintJob(id);
  waiter.join();
  return woken == WAIT_OBJECT_0;
}

// A per-job thread that waits until the test lets it go on (or the wait
// bound has passed) before it does the real thread's work: the job is then
// taken, not yet counted.
UniqueHandle g_parked;
UniqueHandle g_goOn;
DWORD WINAPI ParkedJobThread(LPVOID pParam) {
  SetEvent(g_parked.get());
  WaitForSingleObject(g_goOn.get(), kWaitMs);
  return JobThread(pParam);
}

// A page counter that counts 5 A4 pages in any file there is.
std::string g_counted;
bool g_countedExisted = false;
int __cdecl FivePagesCounter(const char* pszFile, const char*, PAGE_COUNT_RESULT* pResult) {
  g_counted = pszFile;
  g_countedExisted = GetFileAttributesA(pszFile) != INVALID_FILE_ATTRIBUTES;
  if (!g_countedExisted) return 0;
  pResult->dwPages = 5;
  pResult->wPaperSize = DMPAPER_A4;
  return 1;
}

// The watcher on one GDI printer with the real per-job thread, accounting
// into SQLite; sDsnOptions are added to the service's connection string.
class GdiJobRoadTest : public ::testing::Test {
 protected:
  void Start(const std::string& sDsnOptions) {
    const std::string unavailable = CTestDatabase::Unavailable(Backend::SQLite);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    db.reset(new CTestDatabase(Backend::SQLite));
    spoolDirectory.reset(new CSpoolDirectorySetting(harness.dir.Path()));
    harness.service->m_settings.pfnJobThread = JobThread;   // the real one this time
    harness.service->pConnection.CreateInstance();
    harness.service->pConnection->Open((db->ConnectionString() + sDsnOptions).c_str());
    ASSERT_TRUE(harness.spooler->AddPrinter("GDI 1"));
    harness.WriteLists({}, {"GDI 1"});
    ASSERT_TRUE(harness.StartWatcher(1));
  }

  std::unique_ptr<CTestDatabase> db;
  CMonitorHarness harness;
  sim::Owned<sim::NetSessions> sessions;
  std::unique_ptr<CSpoolDirectorySetting> spoolDirectory;
};

// Copies come from the job's device mode; without one, from the shadow file.
TEST_F(GdiJobRoadTest, FinishedJobsBecomeOneRowEachWithTheirDeviceModesCopies) {
  ASSERT_NO_FATAL_FAILURE(Start(""));
  if (IsSkipped()) return;
  CTestDatabase& db = *this->db;
  UniqueHandle jobEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  harness.service->m_hJobEvent = jobEvent.get();

  sim::JobFields fields;
  fields.document = L"Quarterly \u00A3 \u00B0.xlsx";
  fields.user = L"Zo\u00EB";
  fields.machine = L"\\\\WS-ZOE";
  fields.status = JOB_STATUS_SPOOLING;
  fields.totalPages = 4;
  fields.totalBytes = 5000;
  fields.devMode = sim::MakeDevMode(DMPAPER_A3, 2, DMCOLOR_COLOR, DMDUP_HORIZONTAL);
  fields.submitted = SYSTEMTIME{2024, 3, 5, 1, 10, 0, 0, 0};   // Friday 1 March
  const DWORD withDevMode = harness.spooler->AddJob("GDI 1", fields);
  fields.devMode.reset();
  const DWORD without = harness.spooler->AddJob("GDI 1", fields);
  for (DWORD id : {withDevMode, without}) {
    char szShadow[32];
    snprintf(szShadow, sizeof(szShadow), "%05u.shd", static_cast<unsigned>(id));
    harness.dir.Write(szShadow, ShadowFileBytes(0x66, 200, 3));
  }
  ASSERT_TRUE(harness.WaitFetched(1));
  ASSERT_TRUE(PrintAndWaitForTheRow(harness, jobEvent.get(), withDevMode))
      << "the job was never accounted";
  ASSERT_TRUE(PrintAndWaitForTheRow(harness, jobEvent.get(), without))
      << "the job was never accounted";
  ASSERT_TRUE(harness.StopWatcher());
  harness.service->m_hJobEvent = nullptr;

  ASSERT_EQ(db.Count("PRNDATA"), 2);
  EXPECT_EQ(db.QueryTexts("SELECT PrnName FROM PRINTERS p JOIN PRNDATA d ON "
                          "p.idPrinter = d.idPrinter"),
            (std::vector<std::string>{"GDI 1", "GDI 1"}));
  EXPECT_EQ(db.QueryTexts("SELECT UserName FROM USERS"),
            std::vector<std::string>{WideToAnsi(L"Zo\u00EB")});
  EXPECT_EQ(db.QueryTexts("SELECT CompName FROM COMPUTERS"), std::vector<std::string>{"WS-ZOE"});
  // Taken as the spooler gave it: no repair of OEM text.
  EXPECT_EQ(db.QueryTexts("SELECT DISTINCT DocName FROM PRNDATA"),
            std::vector<std::string>{WideToAnsi(L"Quarterly \u00A3 \u00B0.xlsx")});
  EXPECT_EQ(db.QueryTexts("SELECT Pages FROM PRNDATA ORDER BY idPrnData"),
            (std::vector<std::string>{"8", "12"}))
      << "4 pages: 2 copies from the device mode, 3 from the shadow file";
  EXPECT_EQ(db.QueryInt("SELECT MAX(JobSize) FROM PRNDATA"), 5000) << "as the watcher stored it";
  EXPECT_EQ(db.QueryInt("SELECT MIN(Submitted) FROM PRNDATA"), 1709287200);
  EXPECT_EQ(db.QueryInt("SELECT PaperSize FROM PRNDATA ORDER BY idPrnData"), DMPAPER_A3);
  EXPECT_EQ(db.QueryInt("SELECT Color FROM PRNDATA ORDER BY idPrnData"), DMCOLOR_COLOR);
  EXPECT_EQ(db.QueryInt("SELECT Duplex FROM PRNDATA ORDER BY idPrnData"), DMDUP_HORIZONTAL);
  EXPECT_EQ(db.Count("PRNUSERS"), 1);
  EXPECT_EQ(db.Count("PRNCOMPS"), 1);
  CLock lock(kJobQueueTimeout, kJobQueueMutex);
  EXPECT_TRUE(harness.service->m_jobTable.empty()) << "a GDI job's bytes went into the table";
}

// A job seen finished while another connection holds the database: it is
// journaled by the watcher, its per-job thread is waited for at the stop,
// and the next start writes it once, with the bytes the watcher saw.
// A complete job that the spooler did not count: the housekeeping leaves it
// queued, with its spool file, until its per-job thread has counted that
// file; then it deletes it, and the spooler its files with it.
TEST_F(GdiJobRoadTest, TheHousekeepingDeletesAJobOnlyOnceItsSpoolFileIsCounted) {
  ASSERT_NO_FATAL_FAILURE(Start(""));
  if (IsSkipped()) return;
  CTestDatabase& db = *this->db;
  g_parked.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  g_goOn.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  harness.service->m_settings.pfnJobThread = ParkedJobThread;
  harness.service->m_pfnGetPageCount = FivePagesCounter;
  harness.spooler->SetSpoolDirectory(harness.dir.Path());
  harness.spooler->KeepPrintedJobs("GDI 1", true);
  sim::JobFields fields;
  fields.status = JOB_STATUS_SPOOLING;
  fields.totalBytes = 4000;
  fields.devMode = sim::MakeDevMode(DMPAPER_LETTER, 2, DMCOLOR_MONOCHROME, DMDUP_SIMPLEX);
  fields.spoolData = std::string(4000, 'x');
  const DWORD id = harness.spooler->AddJob("GDI 1", fields);
  char szSpoolFile[32];
  snprintf(szSpoolFile, sizeof(szSpoolFile), "%05u.SPL", static_cast<unsigned>(id));
  const std::string spoolFile = harness.dir.File(szSpoolFile);
  ASSERT_TRUE(harness.WaitFetched(1));
  harness.spooler->PrintJob(id);
  harness.spooler->UpdateJob(id, [](sim::JobFields& f) { f.status |= JOB_STATUS_COMPLETE; });
  ASSERT_EQ(WaitForSingleObject(g_parked.get(), kWaitMs), WAIT_OBJECT_0) << "never handed off";

  const DWORD dwNow = static_cast<DWORD>(std::time(nullptr));
  RunHousekeepingPass(*harness.service, dwNow, nullptr);
  EXPECT_TRUE(harness.spooler->Commands().empty()) << "deleted before its spool file was counted";
  SetEvent(g_goOn.get());
  ASSERT_TRUE(harness.service->Keeper().WaitUntilSettled(kWaitMs));
  EXPECT_EQ(_stricmp(g_counted.c_str(), spoolFile.c_str()), 0) << g_counted;
  EXPECT_TRUE(g_countedExisted);
  EXPECT_EQ(db.QueryInt("SELECT Pages FROM PRNDATA"), 10) << "5 pages counted, 2 copies";
  EXPECT_EQ(db.QueryInt("SELECT PaperSize FROM PRNDATA"), DMPAPER_A4) << "the counter's paper";

  RunHousekeepingPass(*harness.service, dwNow, nullptr);
  EXPECT_EQ(harness.spooler->Commands(),
            (std::vector<sim::JobCommand>{{"GDI 1", id, JOB_CONTROL_DELETE, true}}));
  EXPECT_FALSE(harness.dir.Exists(szSpoolFile)) << "the spooler kept a deleted job's files";
  ASSERT_TRUE(harness.StopWatcher());
}

TEST_F(GdiJobRoadTest, AJobCaughtByAStopWhileTheDatabaseIsLockedIsWrittenOnceByTheNextStart) {
  // The driver waits about 2 s for another connection's lock.
  ASSERT_NO_FATAL_FAILURE(Start(";Timeout=1000"));
  if (IsSkipped()) return;
  CTestDatabase& db = *this->db;
  sim::JobFields fields;
  fields.document = L"Caught.pdf";
  fields.user = L"kim";
  fields.status = JOB_STATUS_SPOOLING;
  fields.totalPages = 3;
  fields.totalBytes = 7000;
  fields.devMode = sim::MakeDevMode(DMPAPER_A4, 2, DMCOLOR_MONOCHROME, DMDUP_SIMPLEX);
  const DWORD id = harness.spooler->AddJob("GDI 1", fields);
  ASSERT_TRUE(harness.WaitFetched(1));

  db.Exec("BEGIN EXCLUSIVE");
  harness.spooler->PrintJob(id);
  // The block in which it finished has been dealt with: the job is taken.
  ASSERT_TRUE(harness.WaitFetched(2));
  EXPECT_EQ(harness.service->Keeper().InFlight() + harness.service->Keeper().Waiting(), 1u);
  ASSERT_TRUE(harness.StopWatcher());
  harness.service.reset();   // waits for the per-job thread
  db.Exec("COMMIT");
  EXPECT_EQ(db.Count("PRNDATA"), 0) << "written while the lock held";

  CQuillonService next;
  next.m_settings.sJournalPath = harness.dir.File(kJournalFile);
  next.pConnection = db.Connect();
  ASSERT_TRUE(next.Keeper().Replay(nullptr));
  EXPECT_EQ(db.QueryTexts("SELECT DocName FROM PRNDATA"), std::vector<std::string>{"Caught.pdf"});
  EXPECT_EQ(db.QueryInt("SELECT Pages FROM PRNDATA"), 6) << "3 pages, 2 copies";
  EXPECT_EQ(db.QueryInt("SELECT JobSize FROM PRNDATA"), 7000) << "as the watcher saw it";
}

}  // namespace
