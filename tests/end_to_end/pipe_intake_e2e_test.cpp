// The real quillon.exe as a service under Wine's SCM, on SQLite, watching a
// printer of the winspool.drv stand-in, fed through its pipe by the real
// quillonctl.exe and by raw clients of this test.
#include <windows.h>
#include <aclapi.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "access_list_reader.h"
#include "installed_service.h"
#include "pipe_client_support.h"
#include "pipe_intake/pipe_protocol.h"
#include "query_rows.h"
#include "service_core/win_owners.h"
#include "spooler_driver.h"

namespace {

const char* const kName = kInstalledServiceName;
const char* const kExeName = kServiceExeName;
const char kPrinter[] = "Sim Free";
const DWORD kWaitMs = 30000;

std::string ServiceDir() { return FullPath(QUILLON_PIPE_E2E_DIR); }
std::string ServiceExe() { return ServiceDir() + "\\" + kExeName; }
ServiceBinaries Binaries() {
  return {FullPath(QUILLON_EXE), FullPath(QUILLON_PAGECNT), FullPath(QUILLON_WINSPOOL)};
}

DWORD Quillonctl(const std::string& args) { return RunProgram(FullPath(QUILLONCTL_EXE), args); }

// The handles open in another process, by duplicating each handle value:
// Wine's GetProcessHandleCount reports 0 for every process.
int HandlesOf(HANDLE hProcess, ULONG_PTR* pHighest = nullptr) {
  int n = 0;
  for (ULONG_PTR v = 4; v < 4 * 16384; v += 4) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(hProcess, reinterpret_cast<HANDLE>(v), GetCurrentProcess(), &copy, 0,
                        FALSE, DUPLICATE_SAME_ACCESS)) {
      CloseHandle(copy);
      ++n;
      if (pHighest) *pHighest = v;
    }
  }
  return n;
}

// Until the listener waits on a fresh instance; between connections there
// may be none for a moment, and nothing to wait on then.
bool WaitForFreeInstance() {
  for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
    if (WaitNamedPipeA(kPipeName, kWaitMs)) return true;
    Sleep(20);
  }
  return false;
}

class PipeIntakeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
    RemoveService();
    spooler.Reset();
    ASSERT_TRUE(spooler.AddPrinter(kPrinter));
    ASSERT_NO_FATAL_FAILURE(PlaceFiles());
    ASSERT_TRUE(sim::SpoolerDriver::OverrideFor(kExeName));
    Exec("DELETE FROM PRNDATA");
    ASSERT_EQ(RunProgram(ServiceExe(), "-i"), 0u);
    m_service.reset(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(m_service);
    ASSERT_TRUE(StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(spooler.WaitUntil(
        [](const sim::SpoolerCounts& c) { return c.openNotifications == 1; }, kWaitMs));
    // The pipe appears when the listener has created its first instance;
    // nothing signals that, so look for it until a deadline.
    bool exists = false;
    for (DWORD waited = 0; !exists && waited < kWaitMs; waited += 20) {
      exists = WaitNamedPipeA(kPipeName, 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
      if (!exists) Sleep(20);
    }
    ASSERT_TRUE(exists) << "the service never created its pipe";
  }
  void TearDown() override {
    if (m_service) {
      EXPECT_TRUE(StopServiceProcess(m_service.get(), kWaitMs));
      m_service.reset();
    }
    RemoveService();
    sim::SpoolerDriver::RemoveOverrideFor(kExeName);
  }

  void PlaceFiles() {
    ASSERT_TRUE(PlaceServiceFiles(ServiceDir(), Binaries(), {kPrinter}, {}));
    ASSERT_TRUE(SetServiceDsn(Dsn()));
  }
  static std::string Dsn() {
    const char* db = getenv("QUILLON_PIPE_E2E_DB");
    return std::string("Driver=SQLite3;Database=") + (db ? db : "");
  }
  static void Exec(const std::string& sql) { ExecSql(Dsn(), sql); }
  // The first column of the query's rows, as text.
  static std::vector<std::string> Query(const std::string& sql) {
    return QueryFirstColumn(Dsn(), sql);
  }
  void RemoveService() { RemoveInstalledService(m_manager.get(), kName, kWaitMs); }
  DWORD ServiceProcessId() const { return ServiceProcessIdOf(m_service.get()); }

  sim::SpoolerDriver spooler;
  ScHandle m_manager;
  ScHandle m_service;
};

TEST_F(PipeIntakeEndToEnd, ReportedJobsBecomeRowsAndWakeAWaitingProgram) {
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, "QUILLON_PIPE_E2E_READY"));
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  std::string cmd = std::string("\"") + FullPath(JOB_EVENT_WAITER_EXE) + "\" QUILLON_PIPE_E2E_READY 2";
  ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  UniqueHandle waiter(pi.hProcess), waiterThread(pi.hThread);
  const std::string jobs[] = {
      "job --printer \"Sim Free\" --user hanna --computer WS-HANNA --document \"Plan A.pdf\" "
      "--pages 3 --copies 2 --submitted 1700001000 --job-id 501 --paper-size 9 "
      "--paper-length 2970 --paper-width 2100 --color 2 --duplex 3",
      "job --printer \"Sim Free\" --user ivo --computer WS-IVO --document Memo --pages 1 "
      "--submitted 1700002000 --job-id 502 --paper-size 1 --paper-length 2794 "
      "--paper-width 2159 --color 1 --duplex 1"};
  for (const std::string& job : jobs) {
    HANDLE waitFor[2] = {ready.get(), waiter.get()};
    ASSERT_EQ(WaitForMultipleObjects(2, waitFor, FALSE, kWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(Quillonctl(job), 0u) << job;
  }
  ASSERT_EQ(WaitForSingleObject(waiter.get(), kWaitMs), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(waiter.get(), &code);
  EXPECT_EQ(code, 0u) << "0 woken twice, 1 a job went unsignalled, 2 no JOB_EVENT";

  const std::string row =
      "SELECT p.PrnName || '|' || u.UserName || '|' || c.CompName || '|' || d.DocName || '|' || "
      "d.Pages || '|' || d.JobSize || '|' || d.Submitted || '|' || d.PaperSize || '|' || "
      "d.PaperLength || '|' || d.PaperWidth || '|' || d.Color || '|' || d.Duplex FROM PRNDATA d "
      "JOIN PRINTERS p ON p.idPrinter = d.idPrinter JOIN USERS u ON u.idUser = d.idUser "
      "JOIN COMPUTERS c ON c.idComp = d.idComp ORDER BY d.Submitted";
  EXPECT_EQ(Query(row),
            (std::vector<std::string>{"Sim Free|hanna|WS-HANNA|Plan A.pdf|6|0|1700001000|9|2970|2100|2|3",
                                      "Sim Free|ivo|WS-IVO|Memo|1|0|1700002000|1|2794|2159|1|1"}));
}

TEST_F(PipeIntakeEndToEnd, ARulePushedWithTheClientDeletesTheNextJob) {
  ASSERT_EQ(Quillonctl("rule --printer-id any --user-id -1 --action delete"), 0u);
  sim::JobFields job;
  job.user = L"jo";
  const DWORD id = spooler.AddJob(kPrinter, job);
  ASSERT_TRUE(spooler.WaitForCommands(1, kWaitMs));
  EXPECT_EQ(spooler.Commands(),
            (std::vector<sim::JobCommand>{{kPrinter, id, JOB_CONTROL_DELETE, true}}));
}

TEST_F(PipeIntakeEndToEnd, ABurstOfBadMessagesLeavesTheServiceAsItWas) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_DUP_HANDLE |
                                       SYNCHRONIZE, FALSE, ServiceProcessId()));
  ASSERT_TRUE(process);
  // What the first report and rule create and keep is part of the start.
  DWORD code = 99;
  ASSERT_TRUE(JobEventPulsedDuring(
      [&] { code = Quillonctl("job --printer \"Sim Free\" --user warm --pages 1"); }, kWaitMs));
  ASSERT_EQ(code, 0u);
  ASSERT_EQ(Quillonctl("rule --printer-id 77 --user-id 77 --action none"), 0u);
  DWORD reported = 12345;
  const BOOL bReported = GetProcessHandleCount(process.get(), &reported);
  // Counted while the listener waits on a fresh instance, as after the burst.
  ASSERT_TRUE(WaitForFreeInstance());
  ULONG_PTR highest = 0;
  const int before = HandlesOf(process.get(), &highest);
  std::printf("service handles: GetProcessHandleCount %d/%lu, by duplication %d (highest %llu)\n",
              bReported, static_cast<unsigned long>(reported), before,
              static_cast<unsigned long long>(highest));
  ASSERT_LT(highest, static_cast<ULONG_PTR>(4 * 16000)) << "the scan would miss handles";

  std::mt19937 random(9);
  auto header = [](uint32_t type, uint32_t size) {
    const PIPE_DATA h = {type, size};
    return std::string(reinterpret_cast<const char*>(&h), sizeof(h));
  };
  std::string noise(300, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const std::vector<std::pair<std::string, std::string>> burst = {
      {header(PIPE_JOB, 0), ""},
      {std::string("\x23\0\0\0", 4), ""},
      {header(PIPE_JOB, 0xFFFFFFFF), ""},
      {header(0x7A, 12), std::string(12, 'x')},
      {header(PIPE_PERMISSION, 4), "abcd"},
      {header(PIPE_JOB, 40) + noise.substr(0, 40), ""},   // one message: the read fails
      {noise.substr(0, 8), noise},
      {noise.substr(100, 8), noise.substr(8, 200)},
  };
  // Counted while the listener waits on a fresh instance, with no
  // connection under way.
  auto settledHandles = [&](int expected) {
    int n = -1;
    for (int i = 0; i < 50 && n != expected; ++i) {
      if (i) Sleep(100);   // threads still exiting: nothing to wait on
      WaitForFreeInstance();
      n = HandlesOf(process.get());
    }
    return n;
  };
  // The first burst also makes the system create what it keeps for the
  // paths it takes for the first time (Wine: two handles); the second must
  // leave the count where the first left it.
  std::vector<int> counts;
  for (int round = 0; round < 2; ++round) {
    const ULONGLONG start = GetTickCount64();
    for (const auto& message : burst) {
      UniqueHandle client = ConnectTo(kPipeName, kWaitMs);
      ASSERT_TRUE(client);
      WriteMessage(client.get(), message.first.data(), static_cast<DWORD>(message.first.size()));
      if (!message.second.empty()) {
        WriteMessage(client.get(), message.second.data(), static_cast<DWORD>(message.second.size()));
      }
      EXPECT_TRUE(WaitServerClose(client.get(), 10000));
    }
    // Clients that connect and go at once.
    for (int i = 0; i < 2; ++i) ConnectTo(kPipeName, kWaitMs).reset();
    std::printf("burst of %zu messages and 2 empty connections took %llu ms\n", burst.size(),
                static_cast<unsigned long long>(GetTickCount64() - start));
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the service ended";
    const std::string doc = "After" + std::to_string(round);
    // The client is answered once the job is journaled; the row follows.
    ASSERT_TRUE(JobEventPulsedDuring(
        [&] {
          code = Quillonctl("job --printer \"Sim Free\" --user after --document " + doc +
                            " --pages 2");
        },
        kWaitMs));
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(Query("SELECT COUNT(*) FROM PRNDATA WHERE DocName = '" + doc + "'"),
              std::vector<std::string>{"1"}) << "the report after burst " << round;
    counts.push_back(settledHandles(round ? counts[0] : before));
    std::printf("service handles after burst %d: %d\n", round + 1, counts.back());
  }
  EXPECT_LE(counts[0] - before, 2) << "before " << before << ", after the first burst " << counts[0];
  EXPECT_EQ(counts[1], counts[0]) << "the second burst left handles open";
}

TEST_F(PipeIntakeEndToEnd, AConnectedClientReadsThePipesAccessList) {
  UniqueHandle client = ConnectTo(kPipeName, kWaitMs);
  ASSERT_TRUE(client);
  EXPECT_EQ(PipeAccessListFaults(client.get()), "");
}

TEST_F(PipeIntakeEndToEnd, AProgramHoldingTheNameAtTheStartIsWaitedOut) {
  // Stopped, the name is taken by another program, then the service starts.
  const DWORD pid = ServiceProcessId();
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(WaitForProcessEnd(pid, kWaitMs));
  UniqueHandle squatter(CreateNamedPipeA(kPipeName, PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                         PIPE_UNLIMITED_INSTANCES, 1024, 1024, 0, nullptr));
  ASSERT_TRUE(squatter);
  const int armed = spooler.Counts().openNotifications;
  ASSERT_TRUE(StartServiceA(m_service.get(), 0, nullptr)) << GetLastError();
  ASSERT_TRUE(spooler.WaitUntil(
      [armed](const sim::SpoolerCounts& c) { return c.openNotifications > armed; }, kWaitMs));
  // The service runs and has not joined the name: a client reaches the
  // other program.
  UniqueHandle client = ConnectTo(kPipeName, kWaitMs);
  ASSERT_TRUE(client);
  EXPECT_EQ(ConnectNamedPipe(squatter.get(), nullptr) ? ERROR_SUCCESS : GetLastError(),
            static_cast<DWORD>(ERROR_PIPE_CONNECTED));
  client.reset();
  squatter.reset();

  // Once it is gone, the service takes the name at its next try, and
  // reports reach it.
  bool exists = false;
  for (DWORD waited = 0; !exists && waited < 2 * kWaitMs; waited += 50) {
    exists = WaitNamedPipeA(kPipeName, 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
    if (!exists) Sleep(50);
  }
  ASSERT_TRUE(exists) << "the service never took the name";
  DWORD code = 99;
  ASSERT_TRUE(JobEventPulsedDuring(
      [&] { code = Quillonctl("job --printer \"Sim Free\" --user kim --document Freed --pages 1"); },
      kWaitMs));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM PRNDATA WHERE DocName = 'Freed'"),
            std::vector<std::string>{"1"});
}

TEST_F(PipeIntakeEndToEnd, StopsPromptlyWithAClientMidMessageAndIsRemoved) {
  UniqueHandle client = ConnectTo(kPipeName, kWaitMs);
  ASSERT_TRUE(client);
  ASSERT_TRUE(WriteHeader(client.get(), PIPE_JOB, sizeof(PIPE_DATA) * 205));
  const DWORD pid = ServiceProcessId();
  const ULONGLONG asked = GetTickCount64();
  SERVICE_STATUS status;
  ASSERT_TRUE(ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  ASSERT_TRUE(WaitForProcessEnd(pid, kWaitMs));
  const ULONGLONG took = GetTickCount64() - asked;
  std::printf("stopped %llu ms after the request\n", static_cast<unsigned long long>(took));
  // Below the run sequence's two-second grace: the listener ended by itself.
  EXPECT_LT(took, 2000u) << "the stop took " << took << " ms";
  EXPECT_TRUE(WaitServerClose(client.get(), 1000));
  m_service.reset();
  EXPECT_EQ(RunProgram(ServiceExe(), "-u"), 0u);
  EXPECT_FALSE(ScHandle(OpenServiceA(m_manager.get(), kName, SERVICE_QUERY_STATUS)));
}

}  // namespace
