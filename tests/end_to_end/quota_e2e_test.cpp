// Page quotas with the real quillon.exe as a service on the winspool.drv
// stand-in and a PostgreSQL database that a second print server (another
// process with a service object of its own) records into as well. The
// quotas are set and reset with quillonctl. The test adds jobs from its
// own process and reads back what the service commanded.
//
// The service reads quotas, resets and other servers' rows every 5 s, on a
// connection of its own. Where a change is to show, the test waits until
// that connection has finished a refresh that began after the change (the
// server's own view of its sessions, pg_stat_activity), then adds one job,
// and prints how long the wait took. A rule pauses the jobs of "marker",
// which mark how far the service has decided.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "calendar/local_days.h"
#include "db_test_support.h"
#include "installed_service.h"
#include "service_core/win_owners.h"
#include "spooler_driver.h"

namespace {

const char* const kName = kInstalledServiceName;
const char kPrinter[] = "Sim Quota";
const DWORD kWaitMs = 30000;
// The service refreshes every 5 s; this bound is only reached when it does not.
const double kRefreshWaitSeconds = 30;
// The service's sessions are named so, for pg_stat_activity.
const char kApplicationName[] = "quillon_quota_e2e";
// The user with the quota is one of the second server's users.
const wchar_t kAnn[] = L"user-0";
const char kAnnAnsi[] = "user-0";

std::string ServiceDir() { return FullPath(QUILLON_QUOTA_E2E_DIR); }

class QuotaEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string reason = CTestDatabase::Unavailable(Backend::PostgreSQL);
    if (!reason.empty()) {
      if (std::getenv("QUILLON_TEST_PG_REQUIRED")) FAIL() << reason;
      GTEST_SKIP() << reason;
    }
    db.reset(new CTestDatabase(Backend::PostgreSQL));
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
    RemoveInstalledService(m_manager.get(), kName, kWaitMs);
    spooler.Reset();
    ASSERT_TRUE(spooler.AddPrinter(kPrinter));
    ASSERT_TRUE(PlaceServiceFiles(
        ServiceDir(), {FullPath(QUILLON_EXE), FullPath(QUILLON_PAGECNT), FullPath(QUILLON_WINSPOOL)},
        {kPrinter}, {}));
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor(kServiceExeName));
    // The test database's search path, and a name for the service's sessions.
    std::string dsn = db->ConnectionString();
    ASSERT_EQ(dsn.back(), '}') << dsn;
    dsn.insert(dsn.size() - 1, std::string("; SET application_name TO '") + kApplicationName + "'");
    ASSERT_TRUE(SetServiceDsn(dsn));
  }

  void TearDown() override {
    if (m_service) {
      EXPECT_TRUE(StopServiceProcess(m_service.get(), kWaitMs));
      m_service.reset();
    }
    if (m_manager) RemoveInstalledService(m_manager.get(), kName, kWaitMs);
    sim::SpoolerDriver::RemoveOverrideFor(kServiceExeName);
  }

  void RunService() {
    ASSERT_EQ(RunProgram(ServiceDir() + "\\" + kServiceExeName, "-i"), 0u);
    m_service.reset(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(m_service);
    ASSERT_TRUE(StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(spooler.WaitUntil(
        [](const sim::SpoolerCounts& c) {
          return c.openNotifications == 1 && c.fetches >= 1 && c.blocksFreed == c.blocksGiven;
        },
        kWaitMs));
  }

  // quillonctl with the arguments, on this test's database; its exit code.
  DWORD Console(const std::string& args) {
    std::string output;
    const DWORD code = RunProgramOutput(FullPath(QUILLONCTL_EXE),
                                        args + " --dsn \"" + db->ConnectionString() + "\"",
                                        &output);
    std::printf("quillonctl %s: %lu\n%s", args.c_str(), code, output.c_str());
    return code;
  }

  void Record(const char* user, int pages, int64_t submitted) {
    db->Exec("INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages, JobSize, "
             "Submitted, PaperSize, PaperLength, PaperWidth, Color, Duplex) SELECT p.idPrinter, "
             "u.idUser, 1, 'earlier', " + std::to_string(pages) + ", 100, " +
             std::to_string(submitted) + ", 9, 0, 0, 1, 1 FROM PRINTERS p, USERS u WHERE "
             "p.PrnName = '" + kPrinter + "' AND u.UserName = '" + user + "'");
  }

  // Adds a job of the user with its pages counted and waits until the
  // service has dealt with it: its command, or 0 when it was let run. A
  // job of "marker", whom a rule pauses, follows it: once the marker has
  // its command, the job before it has been decided.
  DWORD Decide(const wchar_t* user, DWORD pages) {
    const DWORD commandsBefore = spooler.Counts().commands;
    const DWORD id = spooler.AddJob(kPrinter, Job(user, pages));
    const DWORD marker = spooler.AddJob(kPrinter, Job(L"marker", 1));
    DWORD got = 0;
    bool bMarked = false;
    for (DWORD n = commandsBefore + 1; n <= commandsBefore + 2 && !bMarked; ++n) {
      if (!spooler.WaitForCommands(n, kWaitMs)) break;
      for (const sim::JobCommand& command : spooler.Commands()) {
        if (command.jobId == id) got = command.command;
        if (command.jobId == marker) bMarked = true;
      }
    }
    EXPECT_TRUE(bMarked) << "the marker job got no command";
    return got;
  }

  static sim::JobFields Job(const wchar_t* user, DWORD pages) {
    sim::JobFields job;
    job.user = user;
    job.document = std::wstring(L"Letter of ") + user;
    job.totalPages = pages;
    job.totalBytes = 1000 * pages;
    job.status = JOB_STATUS_SPOOLING;
    return job;
  }

  // The database's clock now.
  int64_t DatabaseNow() { return db->QueryInt("SELECT CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)"); }

  // Waits until a refresh of the service that began after tChange (ms,
  // the database's clock) has ended: its last statement, the catch-up's
  // read of PRNDATA by id, has been prepared, run and let go (the driver
  // then DEALLOCATEs its plan, the only statement a refresh prepares when
  // the quotas stay as they are). The database offers no signal to wait
  // on, so its view of the sessions is looked at every 50 ms.
  bool WaitForRefreshSince(int64_t tChange, const char* what) {
    const std::string sql =
        std::string("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = '") +
        kApplicationName + "' AND state = 'idle' AND query LIKE 'DEALLOCATE %' AND "
        "EXTRACT(EPOCH FROM query_start) * 1000 > " + std::to_string(tChange);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (db->QueryInt(sql) > 0) {
        std::printf("%s: the service read it after %.1f s\n", what, seconds);
        return true;
      }
      if (seconds > kRefreshWaitSeconds) {
        ADD_FAILURE() << what << ": no refresh of the service ended within " << seconds << " s";
        return false;
      }
      Sleep(50);
    }
  }

  // The second print server records `jobs` jobs of one page each, among
  // them jobs / 9 (rounded up) of user-0, submitted now.
  void SecondServerRecords(int jobs) {
    const std::string suffix = std::to_string(GetCurrentProcessId());
    const std::string ready = "quota_e2e_ready_" + suffix, go = "quota_e2e_go_" + suffix;
    UniqueHandle hReady(CreateEventA(nullptr, FALSE, FALSE, ready.c_str()));
    UniqueHandle hGo(CreateEventA(nullptr, TRUE, FALSE, go.c_str()));
    std::string command = std::string("\"") + FullPath(QUILLON_ACCOUNTING_SERVICE_PROGRAM) +
                          "\" \"" + db->ConnectionString() + "\" " + ready + " " + go +
                          " second " + std::to_string(jobs);
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi))
        << GetLastError();
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(WaitForSingleObject(hReady.get(), kWaitMs), WAIT_OBJECT_0);
    SetEvent(hGo.get());
    ASSERT_EQ(WaitForSingleObject(process.get(), kWaitMs * 2), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.get(), &exitCode);
    ASSERT_EQ(exitCode, 0u);
  }

  std::unique_ptr<CTestDatabase> db;
  sim::SpoolerDriver spooler;
  ScHandle m_manager;
  ScHandle m_service;
};

TEST_F(QuotaEndToEndTest, AQuotaStopsTheJobThatWouldPassItUntilAResetAndCountsASecondServer) {
  db->Exec(std::string("INSERT INTO USERS (UserName) VALUES ('") + kAnnAnsi + "')");
  db->Exec("INSERT INTO USERS (UserName) VALUES ('bob')");
  db->Exec(std::string("INSERT INTO PRINTERS (PrnName) VALUES ('") + kPrinter + "')");
  const int64_t tNow = static_cast<int64_t>(std::time(nullptr));
  const calendar::CLocalDays days;
  calendar::CalendarDate first = days.DateOf(tNow);
  first.day = 1;
  // 9 pages this month; 50 last month, in its last hour, which do not count.
  Record(kAnnAnsi, 9, tNow - 60);
  Record(kAnnAnsi, 50, days.StartOf(first) - 3600);
  ASSERT_EQ(Console(std::string("quota set --user ") + kAnnAnsi +
                    " --printer any --pages 10 --period month --action pause"),
            0u);
  // The marker's rule (see Decide).
  ASSERT_EQ(Console(std::string("rule add --printer \"") + kPrinter +
                    "\" --user marker --action pause"),
            0u);
  ASSERT_NO_FATAL_FAILURE(RunService());

  // The quotas are read when the service starts; that first refresh loads
  // rows too, so a second one is waited for.
  ASSERT_TRUE(WaitForRefreshSince(0, "the quotas at start"));
  ASSERT_TRUE(WaitForRefreshSince(DatabaseNow(), "the refresh after"));
  EXPECT_EQ(Decide(kAnn, 3), static_cast<DWORD>(JOB_CONTROL_PAUSE)) << "9 of 10 used";
  EXPECT_EQ(Decide(L"bob", 3), 0u) << "bob has no quota";
  EXPECT_EQ(Decide(kAnn, 1), 0u) << "9 + 1 is the limit exactly; last month's 50 do not count";
  EXPECT_EQ(Decide(kAnn, 2), static_cast<DWORD>(JOB_CONTROL_PAUSE));

  ASSERT_EQ(Console(std::string("quota reset --user ") + kAnnAnsi), 0u);
  ASSERT_TRUE(WaitForRefreshSince(DatabaseNow(), "the reset"));
  EXPECT_EQ(Decide(kAnn, 3), 0u) << "nothing used since the reset";

  // The second server records 10 pages of user-0 (90 jobs, every ninth hers).
  ASSERT_NO_FATAL_FAILURE(SecondServerRecords(90));
  ASSERT_EQ(db->QueryInt(std::string("SELECT SUM(d.Pages) FROM PRNDATA d JOIN USERS u ON "
                                     "u.idUser = d.idUser WHERE u.UserName = '") +
                         kAnnAnsi + "' AND d.Submitted >= (SELECT MAX(ResetAt) FROM QUOTARESETS)"),
            10);
  ASSERT_TRUE(WaitForRefreshSince(DatabaseNow(), "the second server's jobs"));
  EXPECT_EQ(Decide(kAnn, 1), static_cast<DWORD>(JOB_CONTROL_PAUSE)) << "10 of 10 used";
  EXPECT_EQ(Decide(L"bob", 5), 0u);
}

}  // namespace
