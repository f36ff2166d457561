// The whole road of a job on a GDI printer, in one process: the simulated
// spooler signals, the watcher sees the job finish, the per-job thread reads
// the shadow file and accounts it into a real SQLite database.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "db_test_support.h"
#include "job_accounting/job_thread.h"
#include "monitor_harness.h"
#include "net_sessions_sim.h"
#include "service_core/lock.h"
#include "service_core/win_owners.h"
#include "spool_fixture.h"

namespace {

TEST(GdiJobRoadTest, AFinishedJobBecomesOneRowWithItsShadowFilesCopies) {
  const std::string unavailable = CTestDatabase::Unavailable(Backend::SQLite);
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  CTestDatabase db(Backend::SQLite);
  CMonitorHarness harness;
  sim::Owned<sim::NetSessions> sessions;
  CSpoolDirectorySetting spoolDirectory(harness.dir.Path());
  harness.service->m_pfnJobThread = JobThread;   // the real one this time
  harness.service->pConnection = db.Connect();
  UniqueHandle jobEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  harness.service->m_hJobEvent = jobEvent.get();

  ASSERT_TRUE(harness.spooler->AddPrinter("GDI 1"));
  harness.WriteLists({}, {"GDI 1"});
  ASSERT_TRUE(harness.StartWatcher(1));

  sim::JobFields fields;
  fields.document = "Quarterly.xlsx";
  fields.user = "carol";
  fields.machine = "\\\\WS-CAROL";
  fields.totalPages = 4;
  fields.totalBytes = 5000;
  fields.bytesPrinted = 1200;
  fields.devMode = sim::MakeDevMode(DMPAPER_A3, 1, DMCOLOR_COLOR, DMDUP_HORIZONTAL);
  fields.submitted = SYSTEMTIME{2024, 3, 5, 1, 10, 0, 0, 0};   // Friday 1 March
  const DWORD id = harness.spooler->AddJob("GDI 1", fields);
  char szShadow[32];
  snprintf(szShadow, sizeof(szShadow), "%05u.shd", static_cast<unsigned>(id));
  harness.dir.Write(szShadow, ShadowFileBytes(0x66, 200, 3));
  ASSERT_TRUE(harness.WaitFetched(1));

  // The job finishes; the accounting pulses JOB_EVENT when its row is in.
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  DWORD woken = WAIT_TIMEOUT;
  std::thread waiter(
      [&] { woken = SignalObjectAndWait(ready.get(), jobEvent.get(), kWaitMs, FALSE); });
  ASSERT_EQ(WaitForSingleObject(ready.get(), kWaitMs), WAIT_OBJECT_0);
  harness.spooler->UpdateJob(id, [](sim::JobFields& f) { f.status = JOB_STATUS_PRINTED; });
  waiter.join();
  ASSERT_EQ(woken, WAIT_OBJECT_0) << "the job was never accounted";
  // The per-job thread gives its block back right after the pulse.
  ASSERT_TRUE(harness.spooler->WaitUntil(
      [](const sim::SpoolerCounts& c) { return c.blocksFreed == c.blocksGiven; }, kWaitMs));
  ASSERT_TRUE(harness.StopWatcher());
  harness.service->m_hJobEvent = nullptr;

  ASSERT_EQ(db.Count("PRNDATA"), 1);
  EXPECT_EQ(db.QueryTexts("SELECT PrnName FROM PRINTERS p JOIN PRNDATA d ON "
                          "p.idPrinter = d.idPrinter"),
            std::vector<std::string>{"GDI 1"});
  EXPECT_EQ(db.QueryTexts("SELECT UserName FROM USERS u JOIN PRNDATA d ON u.idUser = d.idUser"),
            std::vector<std::string>{"carol"});
  EXPECT_EQ(db.QueryTexts("SELECT CompName FROM COMPUTERS c JOIN PRNDATA d ON "
                          "c.idComp = d.idComp"),
            std::vector<std::string>{"WS-CAROL"});
  EXPECT_EQ(db.QueryTexts("SELECT DocName FROM PRNDATA"),
            std::vector<std::string>{"Quarterly.xlsx"});
  EXPECT_EQ(db.QueryInt("SELECT Pages FROM PRNDATA"), 12) << "4 pages, 3 copies";
  EXPECT_EQ(db.QueryInt("SELECT JobSize FROM PRNDATA"), 1200) << "as the watcher stored it";
  EXPECT_EQ(db.QueryInt("SELECT Submitted FROM PRNDATA"), 1709287200);   // 2024-03-01 10:00 UTC
  EXPECT_EQ(db.QueryInt("SELECT PaperSize FROM PRNDATA"), DMPAPER_A3);
  EXPECT_EQ(db.QueryInt("SELECT Color FROM PRNDATA"), DMCOLOR_COLOR);
  EXPECT_EQ(db.QueryInt("SELECT Duplex FROM PRNDATA"), DMDUP_HORIZONTAL);
  EXPECT_EQ(db.Count("PRNUSERS"), 1);
  EXPECT_EQ(db.Count("PRNCOMPS"), 1);
  CLock lock(kJobQueueTimeout, kJobQueueMutex);
  EXPECT_EQ(harness.service->m_jobTable.count(id), 0u) << "the watcher's entry was taken";
}

}  // namespace
