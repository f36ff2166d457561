// Through the pipe to the watcher and back: a rule pushed on the pipe makes
// the watcher delete a later job, and a job that the watcher saw finish on
// an ordinary printer is recorded, when a client reports it, with the bytes
// the watcher stored.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "db_test_support.h"
#include "job_accounting/job_data.h"
#include "monitor_harness.h"
#include "net_sessions_sim.h"
#include "pipe_client_support.h"
#include "pipe_intake/pipe_listener.h"
#include "service_core/lock.h"

namespace {

class PipeRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string unavailable = CTestDatabase::Unavailable(Backend::SQLite);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    db.reset(new CTestDatabase(Backend::SQLite));
    RemoveJournal();
    h.reset(new CMonitorHarness());
    h->service->pConnection = db->Connect();
    h->service->m_settings.dwJobSizeRetryMs = 1;
    pipeName = "\\\\.\\pipe\\quillon-road-test-" + std::to_string(GetCurrentProcessId());
    h->service->m_settings.pipeIntake.sPipeName = pipeName;
    h->service->m_settings.pipeIntake.dwAcceptPauseMs = 0;
    ASSERT_TRUE(h->spooler->AddPrinter("Laser"));
    h->WriteLists({"Laser"}, {});
    ASSERT_TRUE(h->StartWatcher(1));
    listener.reset(CreateThread(nullptr, 0, PipeListenerThread, h->service.get(), 0, nullptr));
    ASSERT_TRUE(listener);
  }
  void TearDown() override {
    if (h) {
      EXPECT_TRUE(h->StopWatcher());   // the same stop event ends the listener
      if (listener) {
        EXPECT_EQ(WaitForSingleObject(listener.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
      }
    }
    h.reset();
    db.reset();
    RemoveJournal();
  }
  bool Send(uint32_t dwType, const void* p, uint32_t cb) {
    UniqueHandle client = ConnectTo(pipeName);
    return client && WriteHeader(client.get(), dwType, cb) && WriteMessage(client.get(), p, cb) &&
           WaitServerClose(client.get()) && h->service->Keeper().WaitUntilSettled(kWaitMs);
  }

  sim::Owned<sim::NetSessions> sessions;
  std::unique_ptr<CTestDatabase> db;
  std::unique_ptr<CMonitorHarness> h;
  UniqueHandle listener;
  std::string pipeName;
};

TEST_F(PipeRoadTest, ADeleteRuleForEveryoneFromThePipeDeletesTheNextJob) {
  const PERMISSION_ENTRY entry = {-1, -1, JOB_CONTROL_DELETE};
  ASSERT_TRUE(Send(PIPE_PERMISSION, &entry, sizeof(entry)));
  sim::JobFields job;
  job.user = L"frank";
  const DWORD id = h->spooler->AddJob("Laser", job);
  ASSERT_TRUE(h->spooler->WaitForCommands(1, kWaitMs));
  EXPECT_EQ(h->spooler->Commands(),
            (std::vector<sim::JobCommand>{{"Laser", id, JOB_CONTROL_DELETE, true}}));
}

TEST_F(PipeRoadTest, AReportedJobOfAnOrdinaryPrinterGetsTheWatchersBytes) {
  sim::JobFields fields;
  fields.user = L"gina";
  fields.totalBytes = 8192;
  const DWORD id = h->spooler->AddJob("Laser", fields);
  ASSERT_TRUE(h->WaitFetched(1));
  h->spooler->UpdateJob(id, [](sim::JobFields& f) { f.bytesPrinted = 8192; });
  ASSERT_TRUE(h->WaitFetched(2));
  {
    CLock lock(kJobQueueTimeout, kJobQueueMutex);
    ASSERT_EQ(h->service->m_jobTable.count(id), 1u) << "the watcher stored nothing";
  }
  JOB_DATA job = {};
  std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszPrinter), L"Laser", 5);
  std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszUser), L"gina", 4);
  job.dwTotalPages = 1;
  job.dwCopies = 1;
  job.dwJobId = id;
  ASSERT_TRUE(Send(PIPE_JOB, &job, sizeof(job)));
  EXPECT_EQ(db->QueryInt("SELECT JobSize FROM PRNDATA"), 8192);
  CLock lock(kJobQueueTimeout, kJobQueueMutex);
  EXPECT_EQ(h->service->m_jobTable.count(id), 0u) << "the entry was not taken";
}

}  // namespace
