// An administrator's first day, in a Wine prefix that is new for this test
// (fresh_prefix_run.sh): the service's files are copied into a directory,
// the service is installed, and everything else is done with quillonctl,
// which lies beside it: the database is set up, printers are listed, a rule
// is kept by name. The installed service on the winspool.drv stand-in then
// pauses that user's job and leaves another's alone, takes a rule added
// while it runs at once, and `status` tells whether all is well. Once on
// SQLite, once on PostgreSQL.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "db_test_support.h"
#include "installed_service.h"
#include "printer_monitor/gdi_settings.h"
#include "service_core/win_owners.h"
#include "spooler_driver.h"

namespace {

const char kLaser[] = "Sim Laser";
const char kGdi[] = "Sim GDI";
const DWORD kWaitMs = 30000;

sim::JobFields JobOf(const char* user) {
  const std::wstring name(user, user + std::strlen(user));
  sim::JobFields job;
  job.user = name;
  job.document = L"Letter of " + name;
  job.totalBytes = 2048;
  job.totalPages = 2;
  job.status = JOB_STATUS_SPOOLING;
  return job;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ConsoleEndToEndTest : public DatabaseTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::None; }

  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    m_dir = FullPath(QUILLON_CONSOLE_DIR) + (GetParam() == Backend::SQLite ? "_sqlite" : "_pg");
    CreateDirectoryA(m_dir.c_str(), nullptr);
    for (const char* file : {"printers.lst", "gdiprinters.lst", "quillon.jnl"}) {
      DeleteFileA((m_dir + "\\" + file).c_str());
    }
    ASSERT_TRUE(CopyFileA(FullPath(QUILLON_EXE).c_str(), (m_dir + "\\quillon.exe").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA(FullPath(QUILLON_PAGECNT).c_str(), (m_dir + "\\pagecnt.dll").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA(FullPath(QUILLON_WINSPOOL).c_str(), (m_dir + "\\winspool.drv").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA(FullPath(QUILLONCTL_EXE).c_str(), (m_dir + "\\quillonctl.exe").c_str(), FALSE));
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
    RemoveInstalledService(m_manager.get(), kInstalledServiceName, kWaitMs);
    spooler.Reset();
    ASSERT_TRUE(spooler.AddPrinter(kLaser));
    ASSERT_TRUE(spooler.AddPrinter(kGdi));
    // Both programs meet the stand-in: the service, and quillonctl's look.
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor("quillon.exe"));
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor("quillonctl.exe"));
    ASSERT_EQ(RunProgram(m_dir + "\\quillon.exe", "-i"), 0u);
  }

  void TearDown() override {
    if (m_manager) {
      RemoveInstalledService(m_manager.get(), kInstalledServiceName, kWaitMs);
      EXPECT_EQ(spooler.Leaks(), "") << "the service did not give back what it had of the spooler";
    }
    sim::SpoolerDriver::RemoveOverrideFor("quillon.exe");
    sim::SpoolerDriver::RemoveOverrideFor("quillonctl.exe");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kGdiSettingsKey) + "\\" + kGdi).c_str());
    DatabaseTest::TearDown();
  }

  // quillonctl, run as an administrator would: from its own directory.
  DWORD Quillonctl(const std::string& args, std::string* pOutput) {
    const DWORD code = RunProgramOutput(m_dir + "\\quillonctl.exe", args, pOutput);
    std::printf("> quillonctl %s\n%s(exit code %lu)\n", args.c_str(), pOutput->c_str(),
                static_cast<unsigned long>(code));
    return code;
  }

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

  std::string SetupArguments() const {
    const std::string& dsn = db->ConnectionString();
    if (GetParam() == Backend::SQLite) {
      // The embedded default, with the host's driver name.
      return "setup --database " + dsn.substr(dsn.find("Database=") + 9) + " --driver SQLite3";
    }
    return "setup --dsn \"" + dsn + "\"";
  }

  sim::SpoolerDriver spooler;
  std::string m_dir;
  ScHandle m_manager;
};

TEST_P(ConsoleEndToEndTest, SetUpByCommandsTheServiceAppliesTheRulesAndStatusTellsTheState) {
  std::string out;
  // The database: created once, then nothing to change.
  ASSERT_EQ(Quillonctl(SetupArguments(), &out), 0u);
  EXPECT_TRUE(Contains(out, "Created table PRNDATA.")) << out;
  EXPECT_TRUE(Contains(out, "Created index UX_USERS_UserName.")) << out;
  EXPECT_TRUE(Contains(out, "(\"DSN\" set)")) << out;
  EXPECT_EQ(db->Count("PRNDATA"), 0);
  ASSERT_EQ(Quillonctl(SetupArguments(), &out), 0u);
  EXPECT_TRUE(Contains(out, "Nothing to change")) << out;

  // The printers, and a rule by names nobody has registered yet.
  ASSERT_EQ(Quillonctl("printer add \"Sim Laser\"", &out), 0u);
  ASSERT_EQ(Quillonctl("rule add --printer \"Sim Laser\" --user pauser --action pause", &out),
            0u);
  EXPECT_TRUE(Contains(out, "applies the rule when it starts")) << out;
  // The last change starts the service, which reads the lists and the rules.
  ASSERT_EQ(Quillonctl("printer add \"Sim GDI\" --gdi --delete-printed --restart", &out), 0u);
  EXPECT_TRUE(DeletesPrintedJobs(kGdi));
  ASSERT_TRUE(spooler.WaitUntil(
      [](const sim::SpoolerCounts& c) { return c.openNotifications == 2; }, kWaitMs))
      << "open notifications " << spooler.Counts().openNotifications;

  ASSERT_EQ(Quillonctl("printer list", &out), 0u);
  EXPECT_TRUE(Contains(out, "Sim Laser\tordinary\topens")) << out;
  EXPECT_TRUE(Contains(out, "Sim GDI\tGDI, deletes printed jobs\topens")) << out;

  // Another's job prints; the rule's user's job is paused.
  const DWORD idWalker = spooler.AddJob(kLaser, JobOf("walker"));
  // The first fetch is the refresh right after arming; the second, the job.
  ASSERT_TRUE(WaitForDecisions(kLaser, 2));
  const DWORD idPauser = spooler.AddJob(kLaser, JobOf("pauser"));
  ASSERT_TRUE(spooler.WaitForCommands(1, kWaitMs));
  std::vector<sim::JobCommand> expected = {{kLaser, idPauser, JOB_CONTROL_PAUSE, true}};
  EXPECT_EQ(spooler.Commands(), expected);
  EXPECT_EQ(spooler.Job(idWalker)->status & JOB_STATUS_PAUSED, 0u);

  // A rule added while the service runs applies at once.
  ASSERT_EQ(Quillonctl("rule add --printer \"Sim Laser\" --user deleter --action delete", &out),
            0u);
  EXPECT_TRUE(Contains(out, "applies it from now on")) << out;
  const DWORD idDeleter = spooler.AddJob(kLaser, JobOf("deleter"));
  ASSERT_TRUE(spooler.WaitForCommands(2, kWaitMs));
  expected.push_back({kLaser, idDeleter, JOB_CONTROL_DELETE, true});
  EXPECT_EQ(spooler.Commands(), expected);

  ASSERT_EQ(Quillonctl("rule list", &out), 0u);
  EXPECT_TRUE(Contains(out, "printer Sim Laser, user pauser: pause")) << out;
  EXPECT_TRUE(Contains(out, "printer Sim Laser, user deleter: delete")) << out;

  // Healthy while it runs; not while its database does not answer.
  ASSERT_EQ(Quillonctl("status", &out), 0u);
  EXPECT_TRUE(Contains(out, "is running")) << out;
  EXPECT_TRUE(Contains(out, "answers: 0 jobs recorded")) << out;
  EXPECT_TRUE(Contains(out, "0 jobs wait")) << out;
  EXPECT_TRUE(Contains(out, "1 ordinary, 1 GDI (1 deleting printed jobs)")) << out;
  if (GetParam() == Backend::SQLite) {
    db->Exec("BEGIN EXCLUSIVE");
  } else {
    db->Exec("BEGIN");
    db->Exec("LOCK TABLE PRNDATA IN ACCESS EXCLUSIVE MODE");
  }
  const DWORD lockedCode = Quillonctl("status", &out);
  db->Exec("COMMIT");
  EXPECT_EQ(lockedCode, 6u);
  EXPECT_TRUE(Contains(out, "does not answer")) << out;

  // Not while it is stopped.
  ScHandle service(OpenServiceA(m_manager.get(), kInstalledServiceName, SERVICE_ALL_ACCESS));
  const DWORD pid = ServiceProcessIdOf(service.get());
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(WaitForProcessEnd(pid, kWaitMs));
  EXPECT_EQ(Quillonctl("status", &out), 2u);
  EXPECT_TRUE(Contains(out, "is stopped")) << out;
}

INSTANTIATE_FOR_BOTH_DATABASES(ConsoleEndToEndTest);

}  // namespace
