// The real quillon.exe, unchanged, as a service under Wine's SCM, watching
// printers of the winspool.drv stand-in: the program, its page counter and
// the stand-in lie in a directory of this test's own, with the printer
// lists; this test adds jobs from its own process and reads back what the
// service commanded and recorded. The database holds the rules (see
// printer_control_rules.sql). "Sim GDI" is a host-based printer, whose
// finished jobs the service accounts itself.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/connection.h"
#include "database/odbc_statement.h"
#include "database/wide_text.h"
#include "service_core/win_owners.h"
#include "installed_service.h"
#include "spool_fixture.h"
#include "spooler_driver.h"

namespace {

const char* const kName = kInstalledServiceName;
const char* const kExeName = kServiceExeName;
const char kPause[] = "Sim Pause";
const char kFree[] = "Sim Free";
const char kDelete[] = "Sim Delete";
const char kGdi[] = "Sim GDI";
const char* const kPrinters[] = {kPause, kFree, kDelete, kGdi};
const DWORD kWaitMs = 30000;

std::string ServiceDir() { return FullPath(QUILLON_PRINTER_CONTROL_DIR); }
std::string ServiceExe() { return ServiceDir() + "\\" + kExeName; }

sim::JobFields JobOf(const std::wstring& user) {
  sim::JobFields job;
  job.user = user;
  job.document = L"Letter of " + user;
  job.totalBytes = 2048;
  job.totalPages = 2;
  job.status = JOB_STATUS_SPOOLING;
  return job;
}

class PrinterControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
    RemoveService();
    spooler.Reset();
    for (const char* printer : kPrinters) ASSERT_TRUE(spooler.AddPrinter(printer));
    ASSERT_NO_FATAL_FAILURE(PlaceFiles());
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor(kExeName));
    Query(L"DELETE FROM PRNDATA");   // what an earlier case recorded

    ASSERT_EQ(RunProgram(ServiceExe(), "-i"), 0u);
    m_service.reset(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(m_service);
    ASSERT_TRUE(StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
    // Watching: one notification armed per printer of the lists, each
    // fetched once with a refresh.
    ASSERT_TRUE(spooler.WaitUntil(
        [](const sim::SpoolerCounts& c) {
          return c.openNotifications == 4 && c.fetches >= 4 && c.blocksFreed == c.blocksGiven;
        },
        kWaitMs))
        << "open printers " << spooler.Counts().openPrinters << ", notifications "
        << spooler.Counts().openNotifications;
    for (const char* printer : kPrinters) m_armingFetches[printer] = FetchesOf(printer);
  }

  void TearDown() override {
    if (m_service) {
      DWORD pid = ServiceProcessId();
      SERVICE_STATUS status;
      ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status);
      EXPECT_TRUE(WaitForProcessEnd(pid, kWaitMs));
      EXPECT_EQ(spooler.Leaks(), "") << "the service did not give back what it had of the spooler";
      m_service.reset();
    }
    if (m_manager) RemoveService();
    sim::SpoolerDriver::RemoveOverrideFor(kExeName);
    m_spoolDirectory.reset();
  }

  void PlaceFiles() {
    const std::string dir = ServiceDir();
    ASSERT_TRUE(PlaceServiceFiles(
        dir, {FullPath(QUILLON_EXE), FullPath(QUILLON_PAGECNT), FullPath(QUILLON_WINSPOOL)},
        {kPause, kFree, kDelete}, {kGdi}));
    // The spooler's directory, where the service looks for shadow files.
    m_spoolDirectory.reset(new CSpoolDirectorySetting(dir));
    const char* db = getenv("QUILLON_PRINTER_CONTROL_DB");
    ASSERT_NE(db, nullptr) << "QUILLON_PRINTER_CONTROL_DB names the service's database";
    ASSERT_TRUE(SetServiceDsn(std::string("Driver=SQLite3;Database=") + db));
  }

  // The first column of every row the service's database gives for the
  // statement, as text.
  static std::vector<std::wstring> Query(const std::wstring& sql) {
    ConnectionPtr connection;
    connection.CreateInstance();
    connection->Open((std::string("Driver=SQLite3;Database=") +
                      getenv("QUILLON_PRINTER_CONTROL_DB")).c_str());
    std::vector<std::wstring> rows;
    {
      COdbcStatement stmt(connection->Handle());
      stmt.ExecDirect(sql);
      while (sql.compare(0, 6, L"SELECT") == 0 && stmt.Fetch()) {
        wchar_t buffer[512] = {};
        SQLLEN ind = 0;
        SQLGetData(stmt.Handle(), 1, SQL_C_WCHAR, buffer, sizeof(buffer), &ind);
        rows.push_back(ind == SQL_NULL_DATA ? L"<null>" : buffer);
      }
      stmt.Free();
    }
    connection->Close();
    return rows;
  }

  void RemoveService() { RemoveInstalledService(m_manager.get(), kName, kWaitMs); }
  DWORD ServiceProcessId() const { return ServiceProcessIdOf(m_service.get()); }

  size_t FetchesOf(const std::string& printer) {
    size_t seen = 0;
    for (const sim::Fetch& f : spooler.Fetches()) seen += f.printer == printer ? 1 : 0;
    return seen;
  }
  // Until the service has fetched the printer's notification `fetches`
  // times since it armed it and given back every block: it has then decided
  // on what it fetched.
  bool WaitForDecisions(const std::string& printer, size_t fetches) {
    const size_t wanted = m_armingFetches[printer] + fetches;
    return spooler.WaitUntil(
        [&](const sim::SpoolerCounts& c) {
          return FetchesOf(printer) >= wanted && c.blocksFreed == c.blocksGiven;
        },
        kWaitMs);
  }

  // Prints the job and waits until the service pulses JOB_EVENT, which it
  // does once the job's row is written.
  bool PrintAndWaitForTheRow(DWORD id) {
    return JobEventPulsedDuring([&] { spooler.PrintJob(id); }, kWaitMs);
  }

  sim::SpoolerDriver spooler;
  std::unique_ptr<CSpoolDirectorySetting> m_spoolDirectory;
  ScHandle m_manager;
  ScHandle m_service;
  std::map<std::string, size_t> m_armingFetches;
};

TEST_F(PrinterControlTest, JobsUnderPauseRulesArePausedOnceWhateverTheUsersName) {
  DWORD pauser = spooler.AddJob(kPause, JobOf(L"pauser"));
  DWORD zoe = spooler.AddJob(kPause, JobOf(L"Zo\u00EB"));
  ASSERT_TRUE(spooler.WaitForCommands(2, kWaitMs));
  // The pauses change the jobs, and the service hears of that too.
  EXPECT_TRUE(WaitForDecisions(kPause, 2));
  std::vector<sim::JobCommand> expected = {{kPause, pauser, JOB_CONTROL_PAUSE, true},
                                           {kPause, zoe, JOB_CONTROL_PAUSE, true}};
  EXPECT_EQ(spooler.Commands(), expected);
  EXPECT_EQ(spooler.Job(zoe)->status & JOB_STATUS_PAUSED, static_cast<DWORD>(JOB_STATUS_PAUSED));
}

TEST_F(PrinterControlTest, JobWithoutARuleIsLeftAlone) {
  DWORD id = spooler.AddJob(kFree, JobOf(L"walker"));
  ASSERT_TRUE(WaitForDecisions(kFree, 1));
  EXPECT_EQ(spooler.Commands().size(), 0u) << "first command: job " << spooler.Commands()[0].jobId
                                           << ", " << spooler.Commands()[0].command;
  EXPECT_EQ(spooler.Queue(kFree), std::vector<DWORD>{id});
}

TEST_F(PrinterControlTest, JobUnderADeleteRuleLeavesTheQueue) {
  DWORD id = spooler.AddJob(kDelete, JobOf(L"deleter"));
  ASSERT_TRUE(spooler.WaitForCommands(1, kWaitMs));
  std::vector<sim::JobCommand> expected = {{kDelete, id, JOB_CONTROL_DELETE, true}};
  EXPECT_EQ(spooler.Commands(), expected);
  EXPECT_EQ(spooler.Queue(kDelete), std::vector<DWORD>{});
}

// Three jobs queued on the GDI printer: the oldest, of a user named beyond
// ASCII, finishes first and leaves the queue at once, as the spooler does
// with printed jobs by default; the third one's pause fails, so it prints.
// Each becomes one row, with the names and the device mode's settings as
// the spooler gave them.
TEST_F(PrinterControlTest, EveryJobOfAGdiPrinterBecomesOneRowAsTheSpoolerToldIt) {
  sim::JobFields zoe = JobOf(L"Zo\u00EB");
  zoe.document = L"R\u00E9sum\u00E9 2026.pdf";
  zoe.machine = L"\\\\WS-ZO\u00CB";
  zoe.totalPages = 3;
  zoe.totalBytes = 3000;
  zoe.devMode = sim::MakeDevMode(DMPAPER_A3, 2, DMCOLOR_COLOR, DMDUP_VERTICAL);
  const DWORD older = spooler.AddJob(kGdi, zoe);
  const DWORD newer = spooler.AddJob(kGdi, JobOf(L"bob"));
  spooler.FailNextSetJobs(1);
  const DWORD failed = spooler.AddJob(kGdi, JobOf(L"failer"));
  ASSERT_TRUE(spooler.WaitForCommands(1, kWaitMs));
  ASSERT_TRUE(WaitForDecisions(kGdi, 1));

  ASSERT_TRUE(PrintAndWaitForTheRow(older)) << "the older job was never accounted";
  EXPECT_EQ(spooler.Queue(kGdi), (std::vector<DWORD>{newer, failed}));
  ASSERT_TRUE(PrintAndWaitForTheRow(newer)) << "the newer job was never accounted";
  ASSERT_TRUE(PrintAndWaitForTheRow(failed)) << "the job whose pause failed was never accounted";
  EXPECT_EQ(spooler.Commands(),
            (std::vector<sim::JobCommand>{{kGdi, failed, JOB_CONTROL_PAUSE, false}}));

  EXPECT_EQ(Query(L"SELECT u.UserName || '|' || d.Pages || '|' || d.JobSize FROM PRNDATA d "
                  L"JOIN USERS u ON u.idUser = d.idUser ORDER BY d.idPrnData"),
            (std::vector<std::wstring>{L"Zo\u00EB|6|3000", L"bob|2|2048", L"failer|2|2048"}))
      << "2 copies from the device mode; each job once";
  EXPECT_EQ(Query(L"SELECT p.PrnName || '|' || c.CompName || '|' || d.DocName || '|' || "
                  L"d.PaperSize || '|' || d.Color || '|' || d.Duplex FROM PRNDATA d "
                  L"JOIN PRINTERS p ON p.idPrinter = d.idPrinter "
                  L"JOIN COMPUTERS c ON c.idComp = d.idComp ORDER BY d.idPrnData LIMIT 1"),
            std::vector<std::wstring>{L"Sim GDI|WS-ZO\u00CB|R\u00E9sum\u00E9 2026.pdf|8|2|2"});
}

// The spooler stops and comes back under the running service; nothing
// signals the service, whose check finds its handles dead: it opens and
// arms its printers again, and later jobs are dealt with and recorded.
TEST_F(PrinterControlTest, AfterASpoolerRestartLaterJobsAreStillWatchedAndRecorded) {
  spooler.Stop();
  ASSERT_TRUE(spooler.WaitUntil(
      [&](const sim::SpoolerCounts&) {
        size_t failed = 0;
        for (const sim::Fetch& f : spooler.Fetches()) {
          failed += f.outcome == sim::spool::FetchOutcome::Failed ? 1 : 0;
        }
        return failed >= 4;
      },
      kWaitMs))
      << "the service never found the spooler gone";
  const DWORD fetchesDown = spooler.Counts().fetches;
  spooler.Start();
  ASSERT_TRUE(spooler.WaitUntil(
      [&](const sim::SpoolerCounts& c) {
        return c.openNotifications == 4 && c.fetches >= fetchesDown + 4 &&
               c.blocksFreed == c.blocksGiven;
      },
      kWaitMs))
      << "the service did not watch its printers again";

  DWORD paused = spooler.AddJob(kPause, JobOf(L"Zo\u00EB"));
  ASSERT_TRUE(spooler.WaitForCommands(1, kWaitMs));
  EXPECT_EQ(spooler.Commands()[0].jobId, paused);
  DWORD printed = spooler.AddJob(kGdi, JobOf(L"dave"));
  ASSERT_TRUE(PrintAndWaitForTheRow(printed)) << "the job was never accounted";
  EXPECT_EQ(Query(L"SELECT u.UserName FROM PRNDATA d JOIN USERS u ON u.idUser = d.idUser"),
            std::vector<std::wstring>{L"dave"});
}

TEST_F(PrinterControlTest, ServiceStopsPromptlyOnRequest) {
  DWORD pid = ServiceProcessId();
  ASSERT_NE(pid, 0u);
  ULONGLONG asked = GetTickCount64();
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  ASSERT_TRUE(WaitForProcessEnd(pid, kWaitMs));
  EXPECT_LT(GetTickCount64() - asked, 5000u) << "the watcher held up the stop";
  EXPECT_EQ(spooler.Counts().openPrinters, 0);
  EXPECT_EQ(spooler.Counts().openNotifications, 0);
}

}  // namespace
