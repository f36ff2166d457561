// The real quillon.exe, unchanged, as a service under Wine's SCM, watching
// printers of the winspool.drv stand-in: the program, its page counter and
// the stand-in lie in a directory of this test's own, with the printer
// lists; this test adds jobs from its own process and reads back what the
// service commanded. The database holds the rules: on "Sim Pause" user
// "pauser" is paused, on "Sim Delete" user "deleter" is deleted. "Sim GDI"
// is a host-based printer, whose finished jobs the service accounts itself.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
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
const DWORD kWaitMs = 30000;

std::string ServiceDir() { return FullPath(QUILLON_PRINTER_CONTROL_DIR); }
std::string ServiceExe() { return ServiceDir() + "\\" + kExeName; }

sim::JobFields JobOf(const char* user) {
  sim::JobFields job;
  job.user = user;
  job.document = std::string("Letter of ") + user;
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
    for (const char* printer : {kPause, kFree, kDelete, kGdi}) {
      ASSERT_TRUE(spooler.AddPrinter(printer));
    }
    ASSERT_NO_FATAL_FAILURE(PlaceFiles());
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor(kExeName));

    ASSERT_EQ(RunProgram(ServiceExe(), "-i"), 0u);
    m_service.reset(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(m_service);
    ASSERT_TRUE(StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
    // Watching: one notification armed per printer of the lists.
    ASSERT_TRUE(spooler.WaitUntil(
        [](const sim::SpoolerCounts& c) { return c.openNotifications == 4; }, kWaitMs))
        << "open printers " << spooler.Counts().openPrinters << ", notifications "
        << spooler.Counts().openNotifications;
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

  // One number the service's database holds.
  static int64_t QueryDatabase(const std::string& sql) {
    ConnectionPtr connection;
    connection.CreateInstance();
    connection->Open((std::string("Driver=SQLite3;Database=") +
                      getenv("QUILLON_PRINTER_CONTROL_DB")).c_str());
    COdbcStatement stmt(connection->Handle());
    stmt.ExecDirect(AnsiToWide(sql));
    SQLBIGINT value = -1;
    SQLLEN ind = 0;
    if (stmt.Fetch()) SQLGetData(stmt.Handle(), 1, SQL_C_SBIGINT, &value, sizeof(value), &ind);
    stmt.Free();
    connection->Close();
    return value;
  }

  void RemoveService() { RemoveInstalledService(m_manager.get(), kName, kWaitMs); }
  DWORD ServiceProcessId() const { return ServiceProcessIdOf(m_service.get()); }

  // Until the service has fetched the printer's queue `fetches` times and
  // given back every block: it has then decided on what it fetched.
  bool WaitForDecisions(const std::string& printer, size_t fetches) {
    return spooler.WaitUntil(
        [&](const sim::SpoolerCounts& c) {
          size_t seen = 0;
          for (const sim::Fetch& f : spooler.Fetches()) seen += f.printer == printer ? 1 : 0;
          return seen >= fetches && c.blocksFreed == c.blocksGiven;
        },
        kWaitMs);
  }

  sim::SpoolerDriver spooler;
  std::unique_ptr<CSpoolDirectorySetting> m_spoolDirectory;
  ScHandle m_manager;
  ScHandle m_service;
};

TEST_F(PrinterControlTest, JobUnderAPauseRuleIsPausedOnce) {
  DWORD id = spooler.AddJob(kPause, JobOf("pauser"));
  ASSERT_TRUE(spooler.WaitForCommands(1, kWaitMs));
  // The pause changes the job, and the service hears of that too.
  EXPECT_TRUE(WaitForDecisions(kPause, 2));
  std::vector<sim::JobCommand> expected = {{kPause, id, JOB_CONTROL_PAUSE, true}};
  EXPECT_EQ(spooler.Commands(), expected);
  EXPECT_EQ(spooler.Job(id)->status & JOB_STATUS_PAUSED, static_cast<DWORD>(JOB_STATUS_PAUSED));
}

TEST_F(PrinterControlTest, JobWithoutARuleIsLeftAlone) {
  DWORD id = spooler.AddJob(kFree, JobOf("walker"));
  ASSERT_TRUE(WaitForDecisions(kFree, 1));
  EXPECT_EQ(spooler.Commands().size(), 0u) << "first command: job " << spooler.Commands()[0].jobId
                                           << ", " << spooler.Commands()[0].command;
  EXPECT_EQ(spooler.Queue(kFree), std::vector<DWORD>{id});
}

TEST_F(PrinterControlTest, JobUnderADeleteRuleLeavesTheQueue) {
  DWORD id = spooler.AddJob(kDelete, JobOf("deleter"));
  ASSERT_TRUE(spooler.WaitForCommands(1, kWaitMs));
  std::vector<sim::JobCommand> expected = {{kDelete, id, JOB_CONTROL_DELETE, true}};
  EXPECT_EQ(spooler.Commands(), expected);
  EXPECT_EQ(spooler.Queue(kDelete), std::vector<DWORD>{});
}

TEST_F(PrinterControlTest, AJobFinishedOnAGdiPrinterBecomesOneRow) {
  sim::JobFields job = JobOf("gdi-user");
  job.totalBytes = 3000;
  DWORD id = spooler.AddJob(kGdi, job);
  // Its shadow file asks for 3 copies.
  const std::string shadow = ShadowFileBytes(0x66, 200, 3);
  char szShadow[32];
  snprintf(szShadow, sizeof(szShadow), "\\%05u.shd", static_cast<unsigned>(id));
  ASSERT_TRUE(WriteTextFile(ServiceDir() + szShadow, shadow));
  ASSERT_TRUE(WaitForDecisions(kGdi, 1));

  // The service pulses JOB_EVENT once the job's row is written.
  UniqueHandle jobEvent(OpenEventA(SYNCHRONIZE, FALSE, "Global\\JOB_EVENT"));
  ASSERT_TRUE(jobEvent) << GetLastError();
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  DWORD woken = WAIT_TIMEOUT;
  std::thread waiter(
      [&] { woken = SignalObjectAndWait(ready.get(), jobEvent.get(), kWaitMs, FALSE); });
  ASSERT_EQ(WaitForSingleObject(ready.get(), kWaitMs), WAIT_OBJECT_0);
  spooler.UpdateJob(id, [](sim::JobFields& f) {
    f.status = JOB_STATUS_PRINTED;
    f.bytesPrinted = 3000;
  });
  waiter.join();
  ASSERT_EQ(woken, WAIT_OBJECT_0) << "the service never accounted the job";

  EXPECT_EQ(QueryDatabase("SELECT COUNT(*) FROM PRNDATA"), 1);
  EXPECT_EQ(QueryDatabase("SELECT Pages FROM PRNDATA"), 6) << "2 pages, 3 copies";
  EXPECT_EQ(QueryDatabase("SELECT JobSize FROM PRNDATA"), 3000);
  EXPECT_EQ(QueryDatabase("SELECT COUNT(*) FROM PRNDATA d JOIN PRINTERS p ON "
                          "p.idPrinter = d.idPrinter WHERE p.PrnName = 'Sim GDI'"),
            1);
  DeleteFileA((ServiceDir() + szShadow).c_str());
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
