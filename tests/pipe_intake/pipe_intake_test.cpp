// The pipe listener and its connections on real named pipes, with a service
// object that accounts into SQLite; the page counter, the spooler and the
// network sessions are played by the test.
#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "access_list_reader.h"
#include "db_test_support.h"
#include "event_log_sim.h"
#include "job_accounting/job_data.h"
#include "net_sessions_sim.h"
#include "pipe_client_support.h"
#include "pipe_intake/pipe_listener.h"
#include "pipe_intake/pipe_security.h"
#include "service_core/lock.h"
#include "service_core/quillon_service.h"
#include "sim_fixture.h"
#include "spooler_sim.h"

namespace {

int g_counterCalls = 0;
int __cdecl SevenPages(const char*, const char*, PAGE_COUNT_RESULT* pResult) {
  ++g_counterCalls;
  pResult->dwPages = 7;
  return 1;
}

bool NobodyIsAdministrator(HANDLE) { return false; }
HANDLE NoThread(LPTHREAD_START_ROUTINE, LPVOID) { return nullptr; }

// Open handles of this process, by asking for each handle value.
std::vector<ULONG_PTR> OpenHandles() {
  std::vector<ULONG_PTR> handles;
  DWORD flags = 0;
  for (ULONG_PTR v = 4; v < 4 * 4096; v += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &flags)) handles.push_back(v);
  }
  return handles;
}

// What the handles in after but not in before are, as far as documented
// calls can tell: a thread's id, else the file type.
std::string NewHandles(const std::vector<ULONG_PTR>& before, const std::vector<ULONG_PTR>& after) {
  std::string text;
  for (ULONG_PTR v : after) {
    if (std::find(before.begin(), before.end(), v) != before.end()) continue;
    const HANDLE h = reinterpret_cast<HANDLE>(v);
    char item[96];
    if (const DWORD tid = GetThreadId(h)) {
      std::snprintf(item, sizeof(item), " %#llx (thread %lu)", static_cast<unsigned long long>(v), tid);
    } else {
      std::snprintf(item, sizeof(item), " %#llx (file type %lu)", static_cast<unsigned long long>(v),
                    GetFileType(h));
    }
    text += item;
  }
  return text;
}

void Put(WCHAR* field, size_t cch, const std::wstring& text) {
  std::memset(field, 0, cch * sizeof(WCHAR));
  std::wmemcpy(reinterpret_cast<wchar_t*>(field), text.c_str(), text.size());
}

std::string Header(uint32_t dwType, uint32_t dwSize) {
  const PIPE_DATA header = {dwType, dwSize};
  return std::string(reinterpret_cast<const char*>(&header), sizeof(header));
}

JOB_DATA SampleJob() {
  JOB_DATA job = {};
  Put(job.wszPrinter, kJobPrinterChars, L"Pipe Laser");
  Put(job.wszDocument, kJobDocumentChars, L"Minutes.docx");
  Put(job.wszUser, kJobUserChars, L"erin");
  Put(job.wszComputer, kJobComputerChars, L"WS-ERIN");
  job.dwTotalPages = 3;
  job.dwCopies = 2;
  job.tSubmitted = 1700000500;
  job.dwJobId = 4242;
  job.wPaperSize = DMPAPER_A4;
  job.wPaperLength = 2970;
  job.wPaperWidth = 2100;
  job.wColor = DMCOLOR_COLOR;
  job.wDuplex = DMDUP_HORIZONTAL;
  return job;
}

class PipeIntakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string unavailable = CTestDatabase::Unavailable(Backend::SQLite);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    db.reset(new CTestDatabase(Backend::SQLite));
    RemoveJournal();
    g_counterCalls = 0;
    service.reset(new CQuillonService());
    service->pConnection = db->Connect();
    service->m_pfnGetPageCount = SevenPages;
    service->m_settings.dwJobSizeRetryMs = 1;
    stop.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    service->m_hStopEvent = stop.get();
    pipeName = "\\\\.\\pipe\\quillon-intake-test-" + std::to_string(GetCurrentProcessId());
    service->m_settings.pipeIntake.sPipeName = pipeName;
    service->m_settings.pipeIntake.dwAcceptPauseMs = 0;
  }
  void TearDown() override {
    if (listener) {
      EXPECT_EQ(StopListener(), 0u) << "the listener's result at stop";
    }
    service.reset();
    db.reset();
    RemoveJournal();
  }

  void StartListener() {
    ResetEvent(stop.get());
    listener.reset(CreateThread(nullptr, 0, PipeListenerThread, service.get(), 0, nullptr));
    ASSERT_TRUE(listener);
  }
  // Sets the stop event; the listener's exit code, 1234 when it did not end.
  DWORD StopListener() {
    SetEvent(stop.get());
    DWORD code = 1234;
    if (WaitForSingleObject(listener.get(), 10000) == WAIT_OBJECT_0) {
      GetExitCodeThread(listener.get(), &code);
    }
    listener.reset();
    return code;
  }
  // Sends one message (header, then the payload as a second message),
  // waits for the service to close the connection, then for the job it
  // took to be settled.
  bool SendAndWait(uint32_t dwType, uint32_t dwSize, const std::string& payload) {
    UniqueHandle client = ConnectTo(pipeName);
    if (!client) return false;
    WriteHeader(client.get(), dwType, dwSize);
    if (!payload.empty()) WriteMessage(client.get(), payload.data(), static_cast<DWORD>(payload.size()));
    return WaitServerClose(client.get()) && service->Keeper().WaitUntilSettled(20000);
  }
  static std::string Bytes(const void* p, size_t cb) {
    return std::string(static_cast<const char*>(p), cb);
  }

  sim::Owned<sim::EventLog> eventLog;
  sim::Owned<sim::Spooler> spooler;
  sim::Owned<sim::NetSessions> sessions;
  std::unique_ptr<CTestDatabase> db;
  std::unique_ptr<CQuillonService> service;
  UniqueHandle stop;
  UniqueHandle listener;
  std::string pipeName;
};

TEST_F(PipeIntakeTest, AJobReportBecomesOneRow) {
  StartListener();
  const JOB_DATA job = SampleJob();
  ASSERT_TRUE(SendAndWait(PIPE_JOB, sizeof(job), Bytes(&job, sizeof(job))));
  ASSERT_EQ(db->Count("PRNDATA"), 1);
  EXPECT_EQ(db->QueryTexts("SELECT DocName FROM PRNDATA"), std::vector<std::string>{"Minutes.docx"});
  EXPECT_EQ(db->QueryInt("SELECT Pages FROM PRNDATA"), 6);
  EXPECT_EQ(db->QueryInt("SELECT Submitted FROM PRNDATA"), 1700000500);
  EXPECT_EQ(db->QueryInt("SELECT Duplex FROM PRNDATA"), DMDUP_HORIZONTAL);
  EXPECT_EQ(g_counterCalls, 0);
}

TEST_F(PipeIntakeTest, MalformedMessagesEndTheConnectionAtOnceAndChangeNothing) {
  // Were a fault not seen, the connection would wait out this time-out.
  service->m_settings.pipeIntake.dwReadTimeoutMs = 60000;
  StartListener();
  const JOB_DATA job = SampleJob();
  const std::string twelve(12, '\x05');
  struct Case {
    const char* label;
    std::string header;
    std::string payload;
  } cases[] = {
      {"size 0", Header(PIPE_JOB, 0), ""},
      {"4-byte header", std::string("\x23\0\0\0", 4), ""},
      {"1 GB announced", Header(PIPE_JOB, 1u << 30), ""},
      {"64 KiB + 1 announced", Header(PIPE_JOB, kMaxPipePayload + 1),
       Bytes(&job, sizeof(job))},
      {"unknown type", Header(0x25, 12), twelve},
      {"permission of 8 bytes", Header(PIPE_PERMISSION, 8),
       std::string(8, '\x05')},
      {"permission of 12 announced, 8 sent",
       Header(PIPE_PERMISSION, 12), std::string(8, '\x05')},
  };
  for (const Case& c : cases) {
    UniqueHandle client = ConnectTo(pipeName);
    ASSERT_TRUE(client) << c.label;
    EXPECT_TRUE(WriteMessage(client.get(), c.header.data(), static_cast<DWORD>(c.header.size())))
        << c.label;
    if (!c.payload.empty()) {
      WriteMessage(client.get(), c.payload.data(), static_cast<DWORD>(c.payload.size()));
    }
    EXPECT_TRUE(WaitServerClose(client.get())) << c.label << ": the connection stayed open";
  }
  EXPECT_EQ(db->Count("PRNDATA"), 0);
  EXPECT_EQ(service->mapPermissions.Size(), 0u);
}

TEST_F(PipeIntakeTest, ALongPayloadGivesItsFirstRecordOnly) {
  StartListener();
  const JOB_DATA job = SampleJob();
  std::string payload = Bytes(&job, sizeof(job)) + std::string(2000 - sizeof(job), '\xFF');
  ASSERT_TRUE(SendAndWait(PIPE_JOB, 2000, payload));
  ASSERT_EQ(db->Count("PRNDATA"), 1);
  EXPECT_EQ(db->QueryInt("SELECT Pages FROM PRNDATA"), 6);
  EXPECT_EQ(db->QueryInt("SELECT PaperWidth FROM PRNDATA"), 2100);
}

TEST_F(PipeIntakeTest, AShortPayloadLeavesTheRestOfTheRecordZero) {
  StartListener();
  JOB_DATA job = SampleJob();
  Put(job.wszFile, kJobFileChars, L"short.prn");
  Put(job.wszDocument, kJobDocumentChars, L"A document name of thirty-two ch");
  const std::string first600 = Bytes(&job, 600);
  struct Case {
    const char* label;
    uint32_t dwSize;
  } cases[] = {{"600 announced", 600}, {"1,640 announced, 600 sent", 1640}};
  for (const Case& c : cases) {
    db->Exec("DELETE FROM PRNDATA");
    g_counterCalls = 0;
    ASSERT_TRUE(SendAndWait(PIPE_JOB, c.dwSize, first600)) << c.label;
    ASSERT_EQ(db->Count("PRNDATA"), 1) << c.label;
    EXPECT_EQ(db->QueryTexts("SELECT DocName FROM PRNDATA"),
              std::vector<std::string>{"A document name of thirty"})
        << c.label << ": 25 characters fit";
    EXPECT_EQ(db->QueryTexts("SELECT PrnName FROM PRINTERS p JOIN PRNDATA d ON "
                             "p.idPrinter = d.idPrinter"),
              std::vector<std::string>{"Pipe Laser"})
        << c.label;
    EXPECT_EQ(g_counterCalls, 1) << c.label;
    EXPECT_EQ(db->QueryInt("SELECT Pages FROM PRNDATA"), 7) << c.label << ": from the counter";
    EXPECT_EQ(db->QueryInt("SELECT Submitted FROM PRNDATA"), 0) << c.label;
    EXPECT_EQ(db->QueryInt("SELECT PaperSize FROM PRNDATA"), 0) << c.label;
    EXPECT_EQ(db->QueryInt("SELECT Duplex FROM PRNDATA"), 0) << c.label;
    EXPECT_EQ(db->QueryTexts("SELECT UserName FROM USERS u JOIN PRNDATA d ON u.idUser = d.idUser"),
              std::vector<std::string>{""})
        << c.label;
  }
}

TEST_F(PipeIntakeTest, APermissionFromAnAdministratorIsStored) {
  StartListener();
  const PERMISSION_ENTRY entry = {-1, -1, JOB_CONTROL_DELETE};
  ASSERT_TRUE(SendAndWait(PIPE_PERMISSION, 12, Bytes(&entry, 12)));
  EXPECT_EQ(service->mapPermissions.Get(3, 9).Action, JOB_CONTROL_DELETE);
}

TEST_F(PipeIntakeTest, APermissionFromAnyoneElseIsDropped) {
  service->m_settings.pipeIntake.pfnMayChangeRules = NobodyIsAdministrator;
  StartListener();
  const PERMISSION_ENTRY entry = {-1, -1, JOB_CONTROL_DELETE};
  ASSERT_TRUE(SendAndWait(PIPE_PERMISSION, 12, Bytes(&entry, 12)));
  EXPECT_EQ(service->mapPermissions.Size(), 0u);
  // Job reports stay open to everyone.
  const JOB_DATA job = SampleJob();
  ASSERT_TRUE(SendAndWait(PIPE_JOB, sizeof(job), Bytes(&job, sizeof(job))));
  EXPECT_EQ(db->Count("PRNDATA"), 1);
}

TEST_F(PipeIntakeTest, TheRealAdministratorCheckAcceptsUnderWineAndReverts) {
  UniqueHandle server(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 1024, 1024,
                                       0, nullptr));
  ASSERT_TRUE(server);
  UniqueHandle client = ConnectTo(pipeName);
  ASSERT_TRUE(client);
  ASSERT_TRUE(WriteHeader(client.get(), PIPE_PERMISSION, 12));
  PIPE_DATA header;
  DWORD cb = 0;
  ASSERT_TRUE(ReadFile(server.get(), &header, sizeof(header), &cb, nullptr));
  EXPECT_TRUE(PipeClientIsAdministrator(server.get())) << "every Wine process is an administrator";
  HANDLE token = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
      << "the thread still impersonates the client";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
  if (token) CloseHandle(token);
}

TEST_F(PipeIntakeTest, ASilentClientIsDroppedAfterTheReadTimeOut) {
  StartListener();   // the product's 5,000 ms
  UniqueHandle client = ConnectTo(pipeName);
  ASSERT_TRUE(client);
  const ULONGLONG start = GetTickCount64();
  ASSERT_TRUE(WaitServerClose(client.get(), 30000));
  const ULONGLONG waited = GetTickCount64() - start;
  EXPECT_GE(waited, 4900u) << "dropped after " << waited << " ms";
  EXPECT_EQ(db->Count("PRNDATA"), 0);
}

TEST_F(PipeIntakeTest, TwoClientsInOneSecondAreServedASecondApart) {
  service->m_settings.pipeIntake.dwAcceptPauseMs = 1000;   // the product's pacing
  StartListener();
  // Both connect at once (the listener always holds a free instance); the
  // second is read only after the pause.
  UniqueHandle first = ConnectTo(pipeName);
  ASSERT_TRUE(first);
  UniqueHandle second = ConnectTo(pipeName);
  ASSERT_TRUE(second);
  const PERMISSION_ENTRY entry = {-1, -1, 0};
  ULONGLONG served[2] = {};
  HANDLE clients[2] = {first.get(), second.get()};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(WriteHeader(clients[i], PIPE_PERMISSION, sizeof(entry)));
    ASSERT_TRUE(WriteMessage(clients[i], &entry, sizeof(entry)));
  }
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(WaitServerClose(clients[i])) << "client " << i;
    served[i] = GetTickCount64();
  }
  const ULONGLONG gap = served[1] - served[0];
  EXPECT_GE(gap, 900u) << "the second client was served after " << gap << " ms";
  EXPECT_LT(gap, 3000u) << "the second client was served after " << gap << " ms";
}

TEST_F(PipeIntakeTest, AStopEndsTheListenerAndASilentConnectionAtOnce) {
  service->m_settings.pipeIntake.dwReadTimeoutMs = 60000;
  service->m_settings.pipeIntake.dwAcceptPauseMs = 60000;
  StartListener();
  UniqueHandle client = ConnectTo(pipeName);
  ASSERT_TRUE(client);
  ASSERT_TRUE(WriteHeader(client.get(), PIPE_JOB, sizeof(JOB_DATA)));   // mid-message
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(StopListener(), 0u);
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_TRUE(WaitServerClose(client.get(), 1000)) << "the connection outlived the listener";
  EXPECT_LT(took, 2000u) << "the listener took " << took << " ms to stop";
  EXPECT_EQ(db->Count("PRNDATA"), 0);
}

TEST_F(PipeIntakeTest, AnInstanceWithoutAThreadIsClosedAndTheListenerGoesOn) {
  service->m_settings.pipeIntake.pfnStartThread = NoThread;
  StartListener();
  for (int i = 0; i < 2; ++i) {
    UniqueHandle client = ConnectTo(pipeName);
    ASSERT_TRUE(client) << "client " << i;
    EXPECT_TRUE(WaitServerClose(client.get(), 5000)) << "client " << i << " was left hanging";
  }
}

// The pipe belongs to the service.

TEST_F(PipeIntakeTest, AConnectedClientReadsAnAccessListThatLetsItWriteButNotTakeThePipeOver) {
  StartListener();
  UniqueHandle client = ConnectTo(pipeName);
  ASSERT_TRUE(client);
  EXPECT_EQ(PipeAccessListFaults(client.get()), "");
  // And the client that read it reports a job.
  const JOB_DATA job = SampleJob();
  ASSERT_TRUE(WriteHeader(client.get(), PIPE_JOB, sizeof(job)));
  ASSERT_TRUE(WriteMessage(client.get(), &job, sizeof(job)));
  ASSERT_TRUE(WaitServerClose(client.get()));
  ASSERT_TRUE(service->Keeper().WaitUntilSettled(20000));
  EXPECT_EQ(db->Count("PRNDATA"), 1);
}

TEST_F(PipeIntakeTest, ANameHeldByAnotherProgramIsReportedAndServedOnceItIsGivenUp) {
  // Another program holds the name, with no limit on instances and an
  // access list that lets anyone join it.
  UniqueHandle squatter(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                         PIPE_UNLIMITED_INSTANCES, 1024, 1024, 0, nullptr));
  ASSERT_TRUE(squatter);
  StartListener();
  // Nothing signals the report; look for it until a deadline.
  std::string text;
  for (DWORD waited = 0; text.empty() && waited < 20000; waited += 20) {
    for (const sim::LoggedEvent& e : eventLog->Events()) {
      if (e.id == EVMSG_PIPE_UNAVAILABLE) text = e.text;
    }
    if (text.empty()) Sleep(20);
  }
  ASSERT_NE(text.find("another program holds the name"), std::string::npos) << text;
  EXPECT_NE(text.find(pipeName), std::string::npos) << text;
  EXPECT_EQ(WaitForSingleObject(listener.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the listener ended";
  // No instance of the service joined the other program's name.
  UniqueHandle client = ConnectTo(pipeName, 1000);
  ASSERT_TRUE(client);
  EXPECT_EQ(ConnectNamedPipe(squatter.get(), nullptr) ? ERROR_SUCCESS : GetLastError(),
            static_cast<DWORD>(ERROR_PIPE_CONNECTED))
      << "the client did not reach the other program";
  client.reset();
  squatter.reset();

  const JOB_DATA job = SampleJob();
  ASSERT_TRUE(SendAndWait(PIPE_JOB, sizeof(job), Bytes(&job, sizeof(job))));
  EXPECT_EQ(db->Count("PRNDATA"), 1);
  EXPECT_EQ(eventLog->Ids().back(), static_cast<DWORD>(EVMSG_PIPE_SERVED));
}

TEST_F(PipeIntakeTest, TheNameNeverLapsesWhileTheListenerPausesBetweenConnections) {
  service->m_settings.pipeIntake.dwAcceptPauseMs = 1000;   // the product's pacing
  StartListener();
  const JOB_DATA job = SampleJob();
  ASSERT_TRUE(SendAndWait(PIPE_JOB, sizeof(job), Bytes(&job, sizeof(job))));
  // The listener pauses for the rest of the second: the name is held all
  // the while, so no other program can create it afresh.
  UniqueHandle next(CreateFileA(pipeName.c_str(), kPipeClientAccess, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
  EXPECT_TRUE(next) << "the name lapsed: " << GetLastError();
}

TEST_F(PipeIntakeTest, AClientThatCameAndWentCostsOnlyItsInstance) {
  UniqueHandle server(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 1024, 1024,
                                       0, nullptr));
  ASSERT_TRUE(server);
  ConnectTo(pipeName).reset();
  UniqueHandle connected(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(ConnectPipeClient(server.get(), connected.get(), stop.get()), PipeConnect::ClientGone);
}

TEST_F(PipeIntakeTest, ABurstOfRandomMessagesLeavesNoHandleAndTheIntakeWorking) {
  service->m_settings.pipeIntake.dwReadTimeoutMs = 200;
  const JOB_DATA job = SampleJob();
  // A first report and rule make the accounting and the administrator check
  // create what they keep (COM, the driver's state, the job-table mutex,
  // whatever the system caches); the count is taken after them.
  StartListener();
  ASSERT_TRUE(SendAndWait(PIPE_JOB, sizeof(job), Bytes(&job, sizeof(job))));
  const PERMISSION_ENTRY none = {-1, -1, 0};
  ASSERT_TRUE(SendAndWait(PIPE_PERMISSION, 12, Bytes(&none, 12)));
  ASSERT_EQ(StopListener(), 0u);
  const std::vector<ULONG_PTR> before = OpenHandles();
  StartListener();
  std::mt19937 random(20261209);
  const uint32_t types[] = {PIPE_JOB, PIPE_PERMISSION, 0, 0xFFFFFFFF};
  const uint32_t sizes[] = {0, 1, 12, 600, 1640, 5000, kMaxPipePayload, 0x80000000u};
  for (int i = 0; i < 60; ++i) {
    UniqueHandle client = ConnectTo(pipeName);
    ASSERT_TRUE(client) << "message " << i;
    std::string header(8, '\0');
    const PIPE_DATA h = {types[random() % 4], sizes[random() % 8]};
    std::memcpy(&header[0], &h, 8);
    std::string body(random() % 3000, '\0');
    for (char& c : body) c = static_cast<char>(random());
    switch (random() % 4) {
      case 0:  // header and payload in one message
        header += body;
        WriteMessage(client.get(), header.data(), static_cast<DWORD>(header.size()));
        break;
      case 1:  // random bytes as the header
        WriteMessage(client.get(), body.data(), static_cast<DWORD>(body.size() % 16));
        break;
      case 2:  // header, then gone
        WriteMessage(client.get(), header.data(), 8);
        break;
      default:
        WriteMessage(client.get(), header.data(), 8);
        if (!body.empty()) WriteMessage(client.get(), body.data(), static_cast<DWORD>(body.size()));
    }
    if (random() % 2) {
      EXPECT_TRUE(WaitServerClose(client.get())) << "message " << i;
    }
  }
  db->Exec("DELETE FROM PRNDATA");
  ASSERT_TRUE(SendAndWait(PIPE_JOB, sizeof(job), Bytes(&job, sizeof(job))));
  EXPECT_EQ(db->Count("PRNDATA", "DocName = 'Minutes.docx'"), 1) << "a valid report after the burst";
  EXPECT_EQ(StopListener(), 0u);
  // Threads that have given their ticket back still have to exit; nothing
  // signals when the system has released what they held, so look until a
  // deadline.
  // The driver and the system open and close a handle or two of their own
  // at times of their choosing (seen: one more, and one fewer, than before),
  // so a slack of two is allowed: a handle left by a kind of message would
  // be one per message of that kind, and each kind comes several times in
  // the 60.
  constexpr size_t kSlack = 2;
  std::vector<ULONG_PTR> after = OpenHandles();
  for (int i = 0; i < 40 && after.size() > before.size() + kSlack; ++i) {
    Sleep(50);
    after = OpenHandles();
  }
  EXPECT_LE(after.size(), before.size() + kSlack)
      << "handles of the burst still open (" << before.size() << " before):"
      << NewHandles(before, after);
}

}  // namespace
