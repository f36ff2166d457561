// The real quillon.exe as a service under Wine's SCM, watching a host-based
// printer of the winspool.drv stand-in, on an SQLite database that this
// test holds locked (BEGIN EXCLUSIVE) while a job finishes. The service
// journals the job before it waits for the lock; killed (its process ended
// from outside) or stopped meanwhile, it writes the job once at its next
// start. This program drives the stand-in, so it kills the service's
// process only; durability_e2e.sh kills every Wine process of a prefix.
// A job the spooler did not count is counted from its spool file.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "database/connection.h"
#include "database/odbc_statement.h"
#include "installed_service.h"
#include "query_rows.h"
#include "service_core/win_owners.h"
#include "spool_fixture.h"
#include "spooler_driver.h"

namespace {

const char* const kName = kInstalledServiceName;
const char kGdi[] = "Sim GDI";
const DWORD kWaitMs = 30000;

std::string ServiceDir() { return FullPath(QUILLON_GDI_DURABILITY_DIR); }
std::string JournalPath() { return ServiceDir() + "\\quillon.jnl"; }
std::string Database() {
  const char* db = getenv("QUILLON_GDI_DURABILITY_DB");
  return db ? db : "";
}
// The driver waits about twice the busy time-out for another's lock.
std::string Dsn(int timeoutMs = 1000) {
  return "Driver=SQLite3;Database=" + Database() + ";Timeout=" + std::to_string(timeoutMs);
}

class GdiDurabilityTest : public ::testing::Test {
 protected:
  // The service's busy time-out: 2 s of waiting for the lock, unless a case
  // wants the service to wait longer than the case itself.
  virtual int ServiceTimeoutMs() const { return 1000; }

  void SetUp() override {
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
    RemoveInstalledService(m_manager.get(), kName, kWaitMs);
    spooler.Reset();
    ASSERT_TRUE(spooler.AddPrinter(kGdi));
    DeleteFileA(JournalPath().c_str());
    ASSERT_TRUE(PlaceServiceFiles(
        ServiceDir(), {FullPath(QUILLON_EXE), FullPath(QUILLON_PAGECNT), FullPath(QUILLON_WINSPOOL)},
        {}, {kGdi}));
    m_spoolDirectory.reset(new CSpoolDirectorySetting(ServiceDir()));
    ASSERT_TRUE(SetServiceDsn(Dsn(ServiceTimeoutMs())));
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor(kServiceExeName));
    Exec("DELETE FROM PRNDATA");
    ASSERT_EQ(RunProgram(ServiceDir() + "\\" + kServiceExeName, "-i"), 0u);
    m_service.reset(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(m_service);
    ASSERT_NO_FATAL_FAILURE(StartAndWatch());
  }

  void TearDown() override {
    Unlock();
    if (m_service) {
      EXPECT_TRUE(StopServiceProcess(m_service.get(), kWaitMs));
      m_service.reset();
    }
    if (m_manager) RemoveInstalledService(m_manager.get(), kName, kWaitMs);
    sim::SpoolerDriver::RemoveOverrideFor(kServiceExeName);
    m_spoolDirectory.reset();
    DeleteFileA(JournalPath().c_str());
  }

  void StartAndWatch() {
    const int armed = spooler.Counts().openNotifications;
    ASSERT_TRUE(StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(spooler.WaitUntil(
        [armed](const sim::SpoolerCounts& c) { return c.openNotifications > armed; }, kWaitMs));
    m_pid = ServiceProcessIdOf(m_service.get());
    ASSERT_NE(m_pid, 0u);
  }

  static void Exec(const std::string& sql) { ExecSql(Dsn(), sql); }
  // The rows of PRNDATA as "document|pages|bytes", in the order of their ids.
  static std::vector<std::string> Rows() {
    return Texts("SELECT DocName || '|' || Pages || '|' || JobSize FROM PRNDATA "
                 "ORDER BY idPrnData");
  }
  // The first column of what the query gives, as text.
  static std::vector<std::string> Texts(const std::string& sql) {
    return QueryFirstColumn(Dsn(), sql);
  }

  // Another program holds the database until Unlock.
  void Lock() {
    m_lock.CreateInstance();
    m_lock->Open(Dsn().c_str());
    COdbcStatement stmt(m_lock->Handle());
    stmt.ExecDirect(L"BEGIN EXCLUSIVE");
  }
  void Unlock() {
    if (!m_lock) return;
    COdbcStatement stmt(m_lock->Handle());
    stmt.ExecDirect(L"COMMIT");
    stmt.Free();
    m_lock->Close();
    m_lock.Release();
  }

  // A job of three pages in two copies finishes while the database is
  // locked; returns once the service has journaled it.
  void FinishWhileLocked() {
    sim::JobFields job;
    job.user = L"gdi-kim";
    job.document = L"Plan.pdf";
    job.devMode = sim::MakeDevMode(DMPAPER_A4, 2, DMCOLOR_MONOCHROME, DMDUP_SIMPLEX);
    job.totalBytes = 3000;
    job.totalPages = 3;
    job.status = JOB_STATUS_SPOOLING;
    const DWORD id = spooler.AddJob(kGdi, job);
    ASSERT_TRUE(spooler.WaitUntil(
        [](const sim::SpoolerCounts& c) { return c.blocksFreed == c.blocksGiven; }, kWaitMs));
    Lock();
    spooler.UpdateJob(id, [](sim::JobFields& f) {
      f.status = JOB_STATUS_PRINTED;
      f.bytesPrinted = 3000;
    });
    ASSERT_TRUE(WaitForChangeUntil(ServiceDir(), [] { return HasContent(JournalPath()); }, kWaitMs))
        << "the finished job was not journaled";
  }

  // After the lock and a new start: the one row the job became.
  void ExpectTheJobOnceAfterTheNextStart() {
    Unlock();
    EXPECT_TRUE(Rows().empty()) << "written while the lock held";
    ASSERT_NO_FATAL_FAILURE(StartAndWatch());
    // The replay empties the journal once the row is written.
    ASSERT_TRUE(WaitForChangeUntil(ServiceDir(), [] { return !HasContent(JournalPath()); },
                                   kWaitMs));
    EXPECT_EQ(Rows(), std::vector<std::string>{"Plan.pdf|6|3000"})
        << "3 pages in 2 copies, the bytes the watcher saw";
  }

  sim::SpoolerDriver spooler;
  std::unique_ptr<CSpoolDirectorySetting> m_spoolDirectory;
  ScHandle m_manager;
  ScHandle m_service;
  ConnectionPtr m_lock;
  DWORD m_pid = 0;
};

// The service waits two minutes for the lock: the job is journaled before
// that wait, or not within this case at all.
class GdiDurabilityLongWaitTest : public GdiDurabilityTest {
 protected:
  int ServiceTimeoutMs() const override { return 60000; }
};

TEST_F(GdiDurabilityLongWaitTest, AJobTheKilledServiceHadJournaledIsWrittenOnceAtItsNextStart) {
  ASSERT_NO_FATAL_FAILURE(FinishWhileLocked());
  {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, m_pid));
    ASSERT_TRUE(process) << GetLastError();
    ASSERT_TRUE(TerminateProcess(process.get(), 9));
    ASSERT_EQ(WaitForSingleObject(process.get(), kWaitMs), WAIT_OBJECT_0);
  }
  // Wine's SCM starts the service again although its last status said
  // running: the process is gone.
  ExpectTheJobOnceAfterTheNextStart();
}

TEST_F(GdiDurabilityTest, AJobInFlightAtAStopIsWrittenOnceAtTheNextStart) {
  ASSERT_NO_FATAL_FAILURE(FinishWhileLocked());
  const ULONGLONG asked = GetTickCount64();
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  ASSERT_TRUE(WaitForProcessEnd(m_pid, kWaitMs));
  std::printf("the stop took %llu ms with the job in flight and the database locked\n",
              static_cast<unsigned long long>(GetTickCount64() - asked));
  ExpectTheJobOnceAfterTheNextStart();
}

// A job that the spooler did not count, on a printer that keeps printed
// documents: the service counts its spool file, a real driver's PCL XL
// (HP's JetReady stream, 4 A4 pages), with pagecnt.dll while the spooler
// holds that file open for writing, and leaves it there. The job itself
// tells no copies and no paper; its shadow file asks for 2 copies.
TEST_F(GdiDurabilityTest, AJobTheSpoolerDidNotCountIsCountedFromItsSpoolFileWhichStays) {
  std::ifstream in(QUILLON_REAL_CORPUS "/a4-4.hpcups-jetready.prn", std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(data.empty()) << "the real corpus is made by the test pagecnt_real_corpus";
  spooler.SetSpoolDirectory(ServiceDir());
  ASSERT_TRUE(spooler.KeepPrintedJobs(kGdi, true));
  sim::JobFields job;
  job.user = L"gdi-lee";
  job.document = L"Brochure.pdf";
  job.devMode.reset();
  job.shadowDevMode = sim::MakeDevMode(DMPAPER_LETTER, 2, DMCOLOR_MONOCHROME, DMDUP_SIMPLEX);
  job.spoolData = data;
  job.totalBytes = static_cast<DWORD>(data.size());
  job.totalPages = 0;
  job.status = JOB_STATUS_SPOOLING;
  const DWORD id = spooler.AddJob(kGdi, job);
  ASSERT_TRUE(spooler.WaitUntil(
      [](const sim::SpoolerCounts& c) { return c.blocksFreed == c.blocksGiven; }, kWaitMs));
  ASSERT_TRUE(JobEventPulsedDuring([&] { spooler.PrintJob(id); }, kWaitMs))
      << "the job was never accounted";

  EXPECT_EQ(Rows(), std::vector<std::string>{"Brochure.pdf|8|" + std::to_string(data.size())})
      << "4 pages counted in the spool file, 2 copies from the shadow file";
  EXPECT_EQ(Texts("SELECT PaperSize FROM PRNDATA"), std::vector<std::string>{"9"})
      << "A4, as the spool file gives it";
  char szName[32];
  std::snprintf(szName, sizeof(szName), "\\%05u.SPL", static_cast<unsigned>(id));
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  ASSERT_TRUE(GetFileAttributesExA((ServiceDir() + szName).c_str(), GetFileExInfoStandard,
                                   &attributes))
      << "the spool file is gone";
  EXPECT_EQ(attributes.nFileSizeLow, data.size());
  spooler.RemoveJob(id);   // and its files
}

}  // namespace
