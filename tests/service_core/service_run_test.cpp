// The run sequence and worker body of the service object, driven through the
// service entry with the SCM status channel and the event log simulated, on
// a real SQLite database and the real page counter.
#include <windows.h>
#include <aclapi.h>
#include <tlhelp32.h>
#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "access_list_reader.h"
#include "database/com_errors.h"
#include "db_test_support.h"
#include "event_log_sim.h"
#include "job_accounting/job_data.h"
#include "pipe_client_support.h"
#include "sim_fixture.h"
#include "spooler_sim.h"
#include "scm_status_sim.h"
#include "service_core/configuration.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

namespace {


std::string ExeDirectory() {
  char szPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  std::string dir(szPath);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

void WriteDsn(const std::string& dsn) {
  RegKey hKey;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kSettingsKey, hKey.put()), ERROR_SUCCESS);
  RegSetValueExA(hKey.get(), kDsnValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(dsn.c_str()),
                 static_cast<DWORD>(dsn.size() + 1));
}

std::set<DWORD> ThreadsOfThisProcess() {
  std::set<DWORD> ids;
  UniqueHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Thread32First(snap.get(), &entry); ok; ok = Thread32Next(snap.get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
  }
  return ids;
}

bool ThreadAlive(DWORD id) {
  UniqueHandle h(OpenThread(THREAD_QUERY_INFORMATION, FALSE, id));
  DWORD code = 0;
  return h && GetExitCodeThread(h.get(), &code) && code == STILL_ACTIVE;
}

bool NamedEventExists(const char* name) {
  return static_cast<bool>(UniqueHandle(OpenEventA(SYNCHRONIZE, FALSE, name)));
}

// A named kernel object becomes visible when the service creates it; there
// is nothing to wait on for that, so look for it until a deadline.
bool WaitForNamedEvent(const char* name, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
    if (NamedEventExists(name)) return true;
    Sleep(10);
  }
  return false;
}


// The service object with its worker body observed: each pass is counted
// and may be made to fail.
class ObservedService : public CQuillonService {
 public:
  // Counts every pass, so that passes in quick succession are not merged.
  ObservedService() : m_hServeCalled(CreateSemaphoreA(nullptr, 0, 100000, nullptr)) {}

  void Serve() override {
    int call = ++serveCalls;
    ReleaseSemaphore(m_hServeCalled.get(), 1, nullptr);
    if (call <= failingPasses) throw std::bad_alloc();
    if (stopBeforeEvent) HandleStop();   // a stop with no event to set yet
    CQuillonService::Serve();
  }
  bool WaitServeCalled(DWORD ms) {
    return WaitForSingleObject(m_hServeCalled.get(), ms) == WAIT_OBJECT_0;
  }

  using CQuillonService::OpenConnection;

  std::atomic<int> serveCalls{0};
  int failingPasses = 0;
  bool stopBeforeEvent = false;

 private:
  UniqueHandle m_hServeCalled;
};

// The service entry on a thread of its own, as the SCM runs it. A case that
// ends early still stops and joins it, so no thread outlives its object.
class EntryThread {
 public:
  EntryThread() : m_hDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    m_thread = std::thread([this] {
      m_id = GetCurrentThreadId();
      CSvcBase::ServiceEntry(0, nullptr);
      SetEvent(m_hDone.get());
    });
  }
  ~EntryThread() {
    LPHANDLER_FUNCTION handler = sim::ScmStatus::Current()->Handler();
    if (!Wait(0) && handler) handler(SERVICE_CONTROL_STOP);
    m_thread.join();
  }
  bool Wait(DWORD ms) { return WaitForSingleObject(m_hDone.get(), ms) == WAIT_OBJECT_0; }
  DWORD Id() const { return m_id; }

 private:
  UniqueHandle m_hDone;
  std::atomic<DWORD> m_id{0};
  std::thread m_thread;
};

class ServiceRunTest : public ::testing::Test {
 protected:
  sim::Owned<sim::EventLog> eventLog;
  sim::Owned<sim::ScmStatus> scm;
  // The watcher finds one printer to watch, so it has nothing to report.
  sim::Owned<sim::Spooler> spooler;

  void SetUp() override {
    spooler->AddPrinter("Run Test Printer");
    WriteList("printers.lst", "Run Test Printer\n");
    WriteList("gdiprinters.lst", "");
    m_dbPath = "/tmp/quillon-run-test-" + std::to_string(GetCurrentProcessId()) + ".db";
    WriteDsn("Driver=SQLite3;Database=" + m_dbPath);
    InstallPageCounter(QUILLON_TEST_PAGECNT);
  }
  void TearDown() override {
    DeleteFileA((ExeDirectory() + "printers.lst").c_str());
    DeleteFileA((ExeDirectory() + "gdiprinters.lst").c_str());
    DeleteFileA((ExeDirectory() + "pagecnt.dll").c_str());
    DeleteFileA(("Z:" + m_dbPath).c_str());
  }

  static void WriteList(const char* name, const std::string& entries) {
    UniqueHandle file(CreateFileA((ExeDirectory() + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << name;
    const std::string text = "//Please do not modify this file manualy!!!\n" + entries;
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }

  static void InstallPageCounter(const char* source) {
    std::string target = ExeDirectory() + "pagecnt.dll";
    if (!source) {
      DeleteFileA(target.c_str());
      return;
    }
    ASSERT_TRUE(CopyFileA(source, target.c_str(), FALSE)) << source << " " << GetLastError();
  }

  // Runs the service entry to its end, as the SCM would for a service that
  // stops by itself; false if it did not end in time.
  static bool RunEntryToItsEnd(DWORD timeoutMs = 30000) {
    EntryThread entry;
    return entry.Wait(timeoutMs);
  }

  std::string m_dbPath;
};

TEST_F(ServiceRunTest, MissingPageCounterStopsTheServiceWithEvent110) {
  InstallPageCounter(nullptr);
  ObservedService service;
  ASSERT_TRUE(RunEntryToItsEnd());
  auto events = eventLog->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, EVMSG_STARTED);
  EXPECT_EQ(events[1].id, EVMSG_ERROR);
  EXPECT_EQ(events[1].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[1].strings, std::vector<std::string>{"pagecnt.dll cannot be found\n"});
  EXPECT_EQ(events[1].text,
            "Error occured pagecnt.dll cannot be found\n. Service was stopped.\r\n");
  EXPECT_EQ(scm->States(),
            (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED}));
  EXPECT_EQ(service.serveCalls, 0);
}

TEST_F(ServiceRunTest, PageCounterWithoutItsEntryPointStopsSilently) {
  InstallPageCounter(QUILLON_TEST_NOEXPORT);
  ObservedService service;
  ASSERT_TRUE(RunEntryToItsEnd());
  EXPECT_EQ(eventLog->Ids(), std::vector<DWORD>{EVMSG_STARTED});
  EXPECT_EQ(scm->States().back(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(service.serveCalls, 0);
  EXPECT_EQ(service.m_pfnGetPageCount, nullptr);
}

TEST_F(ServiceRunTest, DatabaseThatDoesNotOpenStopsTheServiceWithItsReason) {
  for (const char* dsn : {"", "DSN=NoSuchQuillonSource"}) {
    SCOPED_TRACE(dsn);
    scm->Clear();
    eventLog->Clear();
    WriteDsn(dsn);
    ObservedService service;
    ASSERT_TRUE(RunEntryToItsEnd());
    auto events = eventLog->Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, EVMSG_STARTED);
    EXPECT_EQ(events[1].id, EVMSG_ERROR);
    ASSERT_EQ(events[1].strings.size(), 1u);
    // The system's text for the HRESULT, then what the driver manager said.
    const std::string& text = events[1].strings[0];
    const std::string prefix = ComErrorText(E_FAIL) + " - [";
    EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    EXPECT_FALSE(service.pConnection);
    EXPECT_EQ(service.serveCalls, 0);
    EXPECT_EQ(scm->States().back(), static_cast<DWORD>(SERVICE_STOPPED));
  }
}

TEST_F(ServiceRunTest, ServesWithItsThreadsUntilAStopRequest) {
  const std::set<DWORD> before = ThreadsOfThisProcess();
  ObservedService service;
  EntryThread entry;
  ASSERT_TRUE(service.WaitServeCalled(30000));
  ASSERT_TRUE(WaitForNamedEvent(kStopEventName, 10000));
  ASSERT_TRUE(WaitForNamedEvent(kJobEventName, 10000));
  ASSERT_NE(service.m_pfnGetPageCount, nullptr);
  EXPECT_TRUE(service.pConnection);

  // The worker body runs three threads: one at the lowest priority (queue
  // housekeeping), the watcher and the listener at normal priority. Wine may
  // run threads of its own; the service's are found among the new ones, once
  // the worker body has started them after its events.
  std::map<int, int> priorities;
  std::set<DWORD> started;
  for (DWORD waited = 0; waited < 10000; waited += 10) {
    priorities.clear();
    started.clear();
    for (DWORD id : ThreadsOfThisProcess()) {
      if (before.count(id) || id == entry.Id()) continue;
      UniqueHandle h(OpenThread(THREAD_QUERY_INFORMATION, FALSE, id));
      if (!h) continue;
      started.insert(id);
      ++priorities[GetThreadPriority(h.get())];
    }
    if (priorities[THREAD_PRIORITY_LOWEST] >= 1 && priorities[THREAD_PRIORITY_NORMAL] >= 2) break;
    Sleep(10);
  }
  EXPECT_EQ(priorities[THREAD_PRIORITY_LOWEST], 1);
  EXPECT_GE(priorities[THREAD_PRIORITY_NORMAL], 2);

  scm->Handler()(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(entry.Wait(30000));

  // Both events are closed and gone, the threads have ended.
  EXPECT_EQ(service.m_hStopEvent, nullptr);
  EXPECT_EQ(service.m_hJobEvent, nullptr);
  EXPECT_FALSE(NamedEventExists(kStopEventName));
  EXPECT_FALSE(NamedEventExists(kJobEventName));
  int alive = 0;
  for (DWORD id : started) alive += ThreadAlive(id) ? 1 : 0;
  EXPECT_LE(alive, static_cast<int>(started.size()) - 3);

  EXPECT_EQ(eventLog->Ids(), (std::vector<DWORD>{EVMSG_STARTED, EVMSG_STOPPED}));
  EXPECT_EQ(scm->States().back(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(service.serveCalls, 1);
}

TEST_F(ServiceRunTest, JobEventLetsEveryProgramWaitButNotChangeIt) {
  ObservedService service;
  EntryThread entry;
  ASSERT_TRUE(service.WaitServeCalled(30000));
  ASSERT_TRUE(WaitForNamedEvent(kJobEventName, 10000));

  UniqueHandle hJob(OpenEventA(READ_CONTROL | SYNCHRONIZE, FALSE, kJobEventName));
  ASSERT_TRUE(hJob) << GetLastError();
  PACL pDacl = nullptr;
  LocalBuffer<void> descriptor;
  ASSERT_EQ(GetSecurityInfo(hJob.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &pDacl, nullptr, descriptor.put()),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(pDacl, nullptr) << "JOB_EVENT has a null access list: anyone may change it";
  const ACCESS_MASK everyone = AccessOf(pDacl, WinWorldSid).allowed;
  EXPECT_EQ(everyone, static_cast<ACCESS_MASK>(SYNCHRONIZE)) << std::hex << everyone;
  for (ACCESS_MASK forbidden : {ACCESS_MASK(EVENT_MODIFY_STATE), ACCESS_MASK(WRITE_DAC),
                                ACCESS_MASK(WRITE_OWNER), ACCESS_MASK(DELETE)}) {
    EXPECT_EQ(everyone & forbidden, 0u) << "Everyone may " << std::hex << forbidden;
  }
  EXPECT_EQ(EntriesNotAllowing(pDacl), 0u);
  EXPECT_EQ(AccessOf(pDacl, WinLocalSystemSid).allowed & EVENT_ALL_ACCESS,
            static_cast<ACCESS_MASK>(EVENT_ALL_ACCESS));
  EXPECT_EQ(AccessOf(pDacl, WinBuiltinAdministratorsSid).allowed & EVENT_ALL_ACCESS,
            static_cast<ACCESS_MASK>(EVENT_ALL_ACCESS));

  // Another program opens it for waiting only and is woken by a pulse. It
  // says when it waits; the pulse is repeated until it has ended, so that
  // one falling before its wait cannot fail the case.
  const std::string readyName = "QUILLON_WAITER_READY_" + std::to_string(GetCurrentProcessId());
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, readyName.c_str()));
  ASSERT_TRUE(ready);
  std::string cmd = "\"" + ExeDirectory() + "job_event_waiter.exe\" " + readyName;
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi))
      << GetLastError();
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  HANDLE waitFor[2] = {ready.get(), process.get()};
  ASSERT_EQ(WaitForMultipleObjects(2, waitFor, FALSE, 30000), WAIT_OBJECT_0)
      << "the waiter ended before it waited";
  DWORD rc = WAIT_TIMEOUT;
  for (int i = 0; i < 300 && rc == WAIT_TIMEOUT; ++i) {
    PulseEvent(service.m_hJobEvent);
    rc = WaitForSingleObject(process.get(), 100);
  }
  ASSERT_EQ(rc, WAIT_OBJECT_0) << "the waiter was never woken";
  DWORD code = 99;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u) << "0 woken, 1 not woken, 2 could not open JOB_EVENT";
}

TEST_F(ServiceRunTest, StopBeforeTheStopEventExistsIsHonoured) {
  {
    // The stop came before the run sequence began: nothing is served.
    ObservedService service;
    service.m_bRunning = TRUE;
    service.HandleStop();
    service.Run();
    EXPECT_EQ(service.serveCalls, 0);
  }
  {
    // The stop came while the worker body had not created its event yet.
    ObservedService service;
    service.stopBeforeEvent = true;
    ASSERT_TRUE(RunEntryToItsEnd());
    EXPECT_EQ(service.serveCalls, 1);
    EXPECT_FALSE(NamedEventExists(kStopEventName));
  }
}

TEST_F(ServiceRunTest, FailedWorkerBodyStartsAgainFromTheLibrary) {
  {
    ObservedService service;
    service.failingPasses = 2;
    EntryThread entry;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(service.WaitServeCalled(30000)) << i;
    ASSERT_TRUE(WaitForNamedEvent(kStopEventName, 10000));
    EXPECT_TRUE(service.pConnection);
    EXPECT_FALSE(entry.Wait(0));

    scm->Handler()(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(entry.Wait(30000));
    EXPECT_EQ(service.serveCalls, 3);
    EXPECT_EQ(eventLog->Ids(), (std::vector<DWORD>{EVMSG_STARTED, EVMSG_STOPPED}));
  }
  // Every load of the library was given back.
  EXPECT_EQ(GetModuleHandleA("pagecnt"), nullptr);
}

TEST_F(ServiceRunTest, RepeatedFailureBacksOffAndAStopEndsTheWait) {
  ObservedService service;
  service.failingPasses = 1000;
  service.m_bRunning = TRUE;
  UniqueHandle hDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::thread body([&] {
    service.Run();
    SetEvent(hDone.get());
  });
  // The first restart is immediate; the next one waits.
  bool twice = service.WaitServeCalled(30000) && service.WaitServeCalled(30000);
  service.HandleStop();
  bool ended = WaitForSingleObject(hDone.get(), 30000) == WAIT_OBJECT_0;
  body.join();
  ASSERT_TRUE(twice);
  ASSERT_TRUE(ended);
  EXPECT_EQ(service.serveCalls, 2);
}

TEST_F(ServiceRunTest, AStopWithTheDatabaseLockedEndsAfterTheBusyWaitAndKeepsTheJobsInFlight) {
  const std::string unavailable = CTestDatabase::Unavailable(Backend::SQLite);
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  CTestDatabase db(Backend::SQLite);
  // The driver waits about twice the time-out for another program's lock.
  WriteDsn(db.ConnectionString() + ";Timeout=1000");
  RemoveJournal();
  const std::string pipe = "\\\\.\\pipe\\quillon-run-test-" + std::to_string(GetCurrentProcessId());
  ULONGLONG took = 0;
  {
    ObservedService service;
    service.m_settings.pipeIntake.sPipeName = pipe;
    service.m_settings.pipeIntake.dwAcceptPauseMs = 0;
    EntryThread entry;
    ASSERT_TRUE(service.WaitServeCalled(30000));
    db.Exec("BEGIN EXCLUSIVE");
    for (int n = 1; n <= 2; ++n) {
      JOB_DATA job = {};
      const std::wstring document = L"Stop-" + std::to_wstring(n);
      std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszPrinter), L"Stop Printer", 12);
      std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszUser), L"sam", 3);
      std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszDocument), document.c_str(), document.size());
      job.dwTotalPages = n;
      job.dwCopies = 1;
      UniqueHandle client = ConnectTo(pipe);
      ASSERT_TRUE(client);
      ASSERT_TRUE(WriteHeader(client.get(), PIPE_JOB, sizeof(job)));
      ASSERT_TRUE(WriteMessage(client.get(), &job, sizeof(job)));
      ASSERT_TRUE(WaitServerClose(client.get())) << "job " << n << " was not acknowledged";
    }
    // Both jobs are in flight: the first waits for the lock, the second
    // for the first.
    const ULONGLONG asked = GetTickCount64();
    scm->Handler()(SERVICE_CONTROL_STOP);
    ASSERT_TRUE(entry.Wait(30000));
    took = GetTickCount64() - asked;
  }
  db.Exec("COMMIT");
  std::printf("the stop took %llu ms\n", static_cast<unsigned long long>(took));
  std::vector<DWORD> checkpoints;
  for (const SERVICE_STATUS& status : scm->Sent()) {
    if (status.dwCurrentState == SERVICE_STOP_PENDING) checkpoints.push_back(status.dwCheckPoint);
  }
  ASSERT_FALSE(checkpoints.empty());
  EXPECT_GT(checkpoints.back(), 1u) << "a stop of " << took << " ms reported no progress";
  EXPECT_TRUE(std::is_sorted(checkpoints.begin(), checkpoints.end()));
  EXPECT_EQ(db.Count("PRNDATA"), 0);

  // The next start writes both, once, in the order they were taken.
  ObservedService next;
  next.pConnection = db.Connect();
  ASSERT_TRUE(next.Keeper().Replay(nullptr));
  EXPECT_EQ(db.QueryTexts("SELECT DocName FROM PRNDATA ORDER BY idPrnData"),
            (std::vector<std::string>{"Stop-1", "Stop-2"}));
}

TEST_F(ServiceRunTest, TeardownEndsNormallyWhenTheConnectionRefusesToClose) {
  auto service = std::make_unique<ObservedService>();
  ASSERT_TRUE(service->OpenConnection());
  // Work left in an open transaction makes the driver refuse to disconnect.
  SQLHDBC hDbc = service->pConnection->Handle();
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttrW(
      hDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
  SQLHSTMT hStmt = nullptr;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, hDbc, &hStmt)));
  SQLWCHAR sql[] = L"CREATE TABLE pending_work (x INTEGER)";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirectW(hStmt, sql, SQL_NTS)));
  SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
  bool refused = false;
  try {
    service->pConnection->Close();
  } catch (const _com_error&) {
    refused = true;
  }
  ASSERT_TRUE(refused) << "the driver closed a connection with pending work";

  // The destructor meets the same refusal and still ends normally.
  service.reset();
  EXPECT_TRUE(eventLog->Events().empty());
}

}  // namespace
