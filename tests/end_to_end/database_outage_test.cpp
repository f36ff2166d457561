// The real quillon.exe as a service under Wine's SCM, recording into a
// PostgreSQL cluster of this test's own, which the test shuts down and
// starts again while jobs arrive through the pipe (quillonctl.exe) and
// through the host-based printer road of the winspool.drv stand-in. Every
// job must end up in PRNDATA once, in the order it was accounted, whether
// the service ran on through the outage or was killed while its journal
// held jobs.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "installed_service.h"
#include "query_rows.h"
#include "service_core/win_owners.h"
#include "spool_fixture.h"
#include "spooler_driver.h"

namespace {

const char* const kName = kInstalledServiceName;
const char* const kExeName = kServiceExeName;
const char kPipePrinter[] = "Sim Free";
const char kGdiPrinter[] = "Sim GDI";
const DWORD kWaitMs = 30000;
// A replay backs off while the database stays away; after an outage of a
// few seconds the next attempt comes within this.
const DWORD kReplayWaitMs = 120000;

std::string ServiceDir() { return FullPath(QUILLON_OUTAGE_DIR); }
std::string ServiceExe() { return ServiceDir() + "\\" + kExeName; }
std::string JournalPath() { return ServiceDir() + "\\quillon.jnl"; }

// The Linux path of a Z: path, for the programs of the host.
std::string HostPath(std::string path) {
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// The cluster's directory and connection string, from the file its set-up
// wrote: lines of "export NAME='value'".
struct Cluster {
  std::string dir;
  std::string dsn;
};
Cluster ReadCluster() {
  Cluster cluster;
  const char* file = getenv("QUILLON_OUTAGE_PG_ENV");
  std::ifstream in(file ? file : "");
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '\'') value = value.substr(1, value.size() - 2);
    if (line.compare(0, eq, "export QUILLON_PG_CLUSTER_DIR") == 0) cluster.dir = value;
    if (line.compare(0, eq, "export QUILLON_TEST_PG_DSN") == 0) cluster.dsn = value;
  }
  return cluster;
}

// Runs "scripts/pg-cluster VERB DIR" on the host and waits for it; its
// exit status, or -1 when it did not finish. A host program started from
// Wine gives no process handle, so it writes its status into a file.
int ClusterCommand(const std::string& verb, const std::string& clusterDir) {
  const std::string done = ServiceDir() + "\\cluster-" + verb + ".done";
  DeleteFileA(done.c_str());
  std::string cmd = "Z:\\bin\\sh -c \"'" + std::string(QUILLON_SOURCE_DIR) + "/scripts/pg-cluster' " +
                    verb + " '" + clusterDir + "'; echo $? > '" + HostPath(done) + "'\"";
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return -1;
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  if (!WaitForChangeUntil(ServiceDir(), [&] { return HasContent(done); }, 120000)) return -1;
  std::ifstream in(HostPath(done));
  int status = -1;
  in >> status;
  return status;
}

// A job of the host-based printer whose device mode asks for two copies.
sim::JobFields GdiJob(const char* user, DWORD pages) {
  const std::wstring name(user, user + std::strlen(user));
  sim::JobFields job;
  job.user = name;
  job.document = L"Drawing of " + name;
  job.devMode = sim::MakeDevMode(DMPAPER_A4, 2, DMCOLOR_MONOCHROME, DMDUP_SIMPLEX);
  job.totalBytes = 1000 * pages;
  job.totalPages = pages;
  job.status = JOB_STATUS_SPOOLING;
  return job;
}

class DatabaseOutageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_cluster = ReadCluster();
    if (m_cluster.dsn.empty()) {
      if (getenv("QUILLON_TEST_PG_REQUIRED")) FAIL() << "the test's PostgreSQL cluster is missing";
      GTEST_SKIP() << "no PostgreSQL server here";
    }
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
    RemoveInstalledService(m_manager.get(), kName, kWaitMs);
    spooler.Reset();
    ASSERT_TRUE(spooler.AddPrinter(kPipePrinter));
    ASSERT_TRUE(spooler.AddPrinter(kGdiPrinter));
    ASSERT_NO_FATAL_FAILURE(PlaceFiles());
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor(kExeName));
    Exec("DELETE FROM PRNDATA");
    Exec("CREATE TABLE IF NOT EXISTS JOURNALKEYS (JournalKey VARCHAR(64) NOT NULL PRIMARY KEY)");
    Exec("DELETE FROM JOURNALKEYS");
    ASSERT_EQ(RunProgram(ServiceExe(), "-i"), 0u);
    m_service.reset(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(m_service);
    ASSERT_NO_FATAL_FAILURE(StartAndWatch());
  }

  void TearDown() override {
    if (m_bHalted) ClusterCommand("resume", m_cluster.dir);
    if (m_service) {
      EXPECT_TRUE(StopServiceProcess(m_service.get(), kWaitMs));
      m_service.reset();
    }
    if (m_manager) RemoveInstalledService(m_manager.get(), kName, kWaitMs);
    sim::SpoolerDriver::RemoveOverrideFor(kExeName);
    m_spoolDirectory.reset();
    DeleteFileA(JournalPath().c_str());
  }

  void PlaceFiles() {
    const std::string dir = ServiceDir();
    DeleteFileA(JournalPath().c_str());
    ASSERT_TRUE(PlaceServiceFiles(
        dir, {FullPath(QUILLON_EXE), FullPath(QUILLON_PAGECNT), FullPath(QUILLON_WINSPOOL)},
        {kPipePrinter}, {kGdiPrinter}));
    m_spoolDirectory.reset(new CSpoolDirectorySetting(dir));
    ASSERT_TRUE(SetServiceDsn(m_cluster.dsn));
  }

  // Starts the installed service and waits until it watches both printers.
  void StartAndWatch() {
    const int armed = spooler.Counts().openNotifications;
    ASSERT_TRUE(StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(spooler.WaitUntil(
        [armed](const sim::SpoolerCounts& c) { return c.openNotifications == armed + 2; }, kWaitMs))
        << "notifications armed: " << spooler.Counts().openNotifications;
    m_pid = ServiceProcessIdOf(m_service.get());
    ASSERT_NE(m_pid, 0u);
  }

  void Exec(const std::string& sql) { ExecSql(m_cluster.dsn, sql); }

  // Every row of PRNDATA in the order of its ids, each as one text.
  std::vector<std::string> Rows() {
    return QueryFirstColumn(
        m_cluster.dsn,
        "SELECT p.PrnName || '|' || u.UserName || '|' || c.CompName || '|' || d.DocName || '|' || "
        "d.Pages || '|' || d.JobSize || '|' || d.Submitted || '|' || d.PaperSize || '|' || "
        "d.PaperLength || '|' || d.PaperWidth || '|' || d.Color || '|' || d.Duplex FROM PRNDATA d "
        "JOIN PRINTERS p ON p.idPrinter = d.idPrinter JOIN USERS u ON u.idUser = d.idUser "
        "JOIN COMPUTERS c ON c.idComp = d.idComp ORDER BY d.idPrnData");
  }

  // Until PRNDATA holds `count` rows, looking again whenever the journal
  // in the service's directory changes (a replay empties it at its end).
  bool WaitForRows(size_t count) {
    return WaitForChangeUntil(
        ServiceDir(),
        [&] {
          try {
            return Rows().size() >= count;
          } catch (const _com_error&) {
            return false;   // not up yet
          }
        },
        kReplayWaitMs);
  }

  // Runs `submit` while a thread waits on JOB_EVENT; true when the service
  // pulsed it, which it does at the moment it has accounted a job.
  bool Accounted(const std::function<void()>& submit) {
    return JobEventPulsedDuring(submit, kWaitMs);
  }

  // A job reported through the pipe, as a print client does.
  bool PipeJob(const std::string& user, int pages, long submitted) {
    const std::string args = "job --printer \"" + std::string(kPipePrinter) + "\" --user " + user +
                             " --computer WS-" + user + " --document \"Sheet of " + user +
                             ".pdf\" --pages " + std::to_string(pages) + " --submitted " +
                             std::to_string(submitted) +
                             " --paper-size 9 --paper-length 2970 --paper-width 2100 --color 2 "
                             "--duplex 1";
    DWORD code = 1;
    const bool accounted =
        Accounted([&] { code = RunProgram(FullPath(QUILLONCTL_EXE), args); });
    return accounted && code == 0;
  }

  // A job finished on the host-based printer, in two copies.
  bool GdiPrinted(const char* user, DWORD pages) {
    const size_t fetches = FetchesOf(kGdiPrinter);
    const DWORD id = spooler.AddJob(kGdiPrinter, GdiJob(user, pages));
    if (!spooler.WaitUntil(
            [&](const sim::SpoolerCounts& c) {
              return FetchesOf(kGdiPrinter) > fetches && c.blocksFreed == c.blocksGiven;
            },
            kWaitMs)) {
      return false;
    }
    const bool accounted = Accounted([&] {
      spooler.UpdateJob(id, [pages](sim::JobFields& f) {
        f.status = JOB_STATUS_PRINTED;
        f.bytesPrinted = 1000 * pages;
      });
    });
    return accounted;
  }
  size_t FetchesOf(const std::string& printer) {
    size_t seen = 0;
    for (const sim::Fetch& f : spooler.Fetches()) seen += f.printer == printer ? 1 : 0;
    return seen;
  }

  void Halt() {
    ASSERT_EQ(ClusterCommand("halt", m_cluster.dir), 0) << "the cluster did not shut down";
    m_bHalted = true;
  }
  void Resume() {
    ASSERT_EQ(ClusterCommand("resume", m_cluster.dir), 0) << "the cluster did not start again";
    m_bHalted = false;
  }
  bool ServiceRunsAsBefore() {
    return ServiceProcessIdOf(m_service.get()) == m_pid && !WaitForProcessEnd(m_pid, 0);
  }
  uint64_t JournalSize() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(JournalPath().c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  Cluster m_cluster;
  sim::SpoolerDriver spooler;
  std::unique_ptr<CSpoolDirectorySetting> m_spoolDirectory;
  ScHandle m_manager;
  ScHandle m_service;
  DWORD m_pid = 0;
  bool m_bHalted = false;
};

std::string PipeRow(const std::string& user, int pages, long submitted) {
  return std::string(kPipePrinter) + "|" + user + "|WS-" + user + "|Sheet of " + user + ".pdf|" +
         std::to_string(pages) + "|0|" + std::to_string(submitted) + "|9|2970|2100|2|1";
}

// The stand-in's job: the client machine and submission time it gives
// every job, the spooler's pages times the shadow file's two copies, the
// spooler's bytes, and the shadow file's paper size.
std::string GdiRow(const std::string& user, DWORD pages) {
  return std::string(kGdiPrinter) + "|" + user + "|CLIENT|Drawing of " + user + "|" +
         std::to_string(2 * pages) + "|" + std::to_string(1000 * pages) + "|1709287200|9|0|0|1|1";
}

TEST_F(DatabaseOutageTest, JobsDuringAnOutageAreRecordedOnceInOrderAndTheServiceRunsOn) {
  ASSERT_TRUE(PipeJob("anna", 1, 1700100001));
  ASSERT_TRUE(GdiPrinted("gdi-bert", 2));
  ASSERT_TRUE(WaitForRows(2));

  ASSERT_NO_FATAL_FAILURE(Halt());
  ASSERT_TRUE(PipeJob("carl", 3, 1700100003)) << "a job was not accounted while the database was away";
  ASSERT_TRUE(GdiPrinted("gdi-dora", 4));
  ASSERT_TRUE(PipeJob("emil", 5, 1700100005));
  EXPECT_GT(JournalSize(), 0u) << "the jobs of the outage are not in the journal";
  ASSERT_NO_FATAL_FAILURE(Resume());

  ASSERT_TRUE(WaitForRows(5)) << "rows after the outage: " << Rows().size();
  ASSERT_TRUE(PipeJob("fritz", 6, 1700100006));
  ASSERT_TRUE(WaitForRows(6));
  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], PipeRow("anna", 1, 1700100001));
  EXPECT_EQ(rows[2], PipeRow("carl", 3, 1700100003));
  EXPECT_EQ(rows[4], PipeRow("emil", 5, 1700100005));
  EXPECT_EQ(rows[5], PipeRow("fritz", 6, 1700100006));
  EXPECT_EQ(rows[1], GdiRow("gdi-bert", 2));
  EXPECT_EQ(rows[3], GdiRow("gdi-dora", 4));
  EXPECT_EQ(JournalSize(), 0u) << "the journal kept replayed jobs";
  EXPECT_TRUE(ServiceRunsAsBefore()) << "the service stopped or was restarted during the outage";
}

TEST_F(DatabaseOutageTest, JobsJournaledByAKilledServiceAreRecordedOnceAfterItsRestart) {
  ASSERT_TRUE(PipeJob("gina", 1, 1700200001));
  ASSERT_TRUE(WaitForRows(1));
  ASSERT_NO_FATAL_FAILURE(Halt());
  ASSERT_TRUE(PipeJob("hugo", 2, 1700200002));
  ASSERT_TRUE(GdiPrinted("gdi-ines", 3));
  ASSERT_GT(JournalSize(), 0u);

  // Killed with the journal holding both jobs: nothing gets to run.
  {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, m_pid));
    ASSERT_TRUE(process) << GetLastError();
    ASSERT_TRUE(TerminateProcess(process.get(), 9));
    ASSERT_EQ(WaitForSingleObject(process.get(), kWaitMs), WAIT_OBJECT_0);
  }
  ASSERT_NO_FATAL_FAILURE(Resume());
  // Wine's SCM starts the service again although its last status said
  // running: the process is gone.
  ASSERT_NO_FATAL_FAILURE(StartAndWatch());

  ASSERT_TRUE(WaitForRows(3)) << "rows after the restart: " << Rows().size();
  ASSERT_TRUE(PipeJob("jana", 4, 1700200004));
  ASSERT_TRUE(WaitForRows(4));
  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 4u) << "a job was written twice";
  EXPECT_EQ(rows[0], PipeRow("gina", 1, 1700200001));
  EXPECT_EQ(rows[1], PipeRow("hugo", 2, 1700200002));
  EXPECT_EQ(rows[2], GdiRow("gdi-ines", 3));
  EXPECT_EQ(rows[3], PipeRow("jana", 4, 1700200004));
}

}  // namespace
