// The service frame driven in-process: the SCM's status channel and the event
// log are simulated, so every status sent and every event written is seen.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "event_log_sim.h"
#include "sim_fixture.h"
#include "scm_status_sim.h"
#include "service_core/win_owners.h"
#include "service_host/svc_base.h"

namespace {


// A service whose body runs until the test lets it end, and which records
// what the frame asks of it.
class TestService : public CSvcBase {
 public:
  explicit TestService(const char* name = "Quillon Frame Test")
      : CSvcBase(name),
        m_hRunEntered(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        m_hLetRunEnd(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

  void Run() override {
    ++runs;
    SetEvent(m_hRunEntered.get());
    WaitForSingleObject(m_hLetRunEnd.get(), INFINITE);
  }
  BOOL Prepare() override {
    if (prepareError) {
      SetLastError(prepareError);
      return FALSE;
    }
    return TRUE;
  }
  // Records the moment; the body ends only when the test lets it, so that
  // the statuses the handler sends are seen apart from the final STOPPED.
  void HandleStop() override {
    runningDuringHandleStop = m_bRunning;
    eventsAtHandleStop = sim::EventLog::Current()->Ids();
  }
  void Finish() { SetEvent(m_hLetRunEnd.get()); }
  void HandleInterrogate() override { ++interrogations; }
  BOOL HandleUserControl(DWORD dwControl) override {
    userControls.push_back(dwControl);
    return acceptUserControls;
  }

  bool WaitRunEntered() { return WaitForSingleObject(m_hRunEntered.get(), 10000) == WAIT_OBJECT_0; }

  DWORD prepareError = 0;
  bool acceptUserControls = false;
  int runs = 0;
  int interrogations = 0;
  BOOL runningDuringHandleStop = -1;
  std::vector<DWORD> eventsAtHandleStop;
  std::vector<DWORD> userControls;

 private:
  UniqueHandle m_hRunEntered;
  UniqueHandle m_hLetRunEnd;
};

class SvcBaseTest : public ::testing::Test {
 protected:
  sim::Owned<sim::EventLog> eventLog;
  sim::Owned<sim::ScmStatus> scm;

  // Starts the service entry on a thread of its own, as the SCM does.
  std::thread StartEntry() {
    return std::thread([] { CSvcBase::ServiceEntry(0, nullptr); });
  }
};

TEST_F(SvcBaseTest, ConstructorCutsTheNameAndSetsTheInitialStatus) {
  const std::string seventy(70, 'N');
  TestService service(seventy.c_str());
  EXPECT_EQ(std::string(service.m_szName), seventy.substr(0, 63));
  EXPECT_EQ(CSvcBase::s_pInstance, &service);
  EXPECT_EQ(service.m_status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(service.m_status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(service.m_status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  EXPECT_EQ(service.m_status.dwWin32ExitCode, 0u);
  EXPECT_EQ(service.m_bRunning, FALSE);
  EXPECT_EQ(service.m_hStatus, nullptr);
  EXPECT_EQ(service.m_hEventLog, nullptr);

  // The cut name is what the SCM and the event log see.
  scm->FailHandlerRegistration(true);
  CSvcBase::ServiceEntry(0, nullptr);
  service.ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_STARTED);
  auto events = eventLog->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].source, seventy.substr(0, 63));
}

TEST_F(SvcBaseTest, EventStringsAreCountedFromTheLeft) {
  TestService service;
  service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "pagecnt.dll cannot be found\n");
  service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PRINTER_INIT, "LaserJet", "Access is denied");
  service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_PRINTER_INIT, nullptr, "only second");
  service.ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_STOPPED);

  auto events = eventLog->Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"pagecnt.dll cannot be found\n"});
  EXPECT_EQ(events[0].text, "Error occured pagecnt.dll cannot be found\n. Service was stopped.\r\n");
  EXPECT_EQ(events[1].strings, (std::vector<std::string>{"LaserJet", "Access is denied"}));
  EXPECT_EQ(events[1].text, "The LaserJet printer could not be initialized - Access is denied.\r\n");
  // A null in the middle is skipped, never handed over as a string.
  EXPECT_EQ(events[2].strings, std::vector<std::string>{"only second"});
  EXPECT_TRUE(events[3].strings.empty());
  EXPECT_EQ(events[3].type, EVENTLOG_INFORMATION_TYPE);
  EXPECT_EQ(events[3].text, "The service was stopped.\r\n");
  // One registration serves every report.
  EXPECT_EQ(eventLog->OpenSources(), 1);
}

TEST_F(SvcBaseTest, MessageTableHoldsEveryTextAsWritten) {
  TestService service("Svc");
  struct { DWORD id; const char* text; } table[] = {
      {100, "The Svc service was installed.\r\n"},
      {101, "The Svc service was removed.\r\n"},
      {102, "The Svc service could not be removed.\r\n"},
      {103, "The control handler could not be installed.\r\n"},
      {104, "The initialization process failed.\r\n"},
      {105, "The service was started.\r\n"},
      {106, "The service received an unsupported request.\r\n"},
      {107, "Debug: Svc\r\n"},
      {108, "The service was stopped.\r\n"},
      {109, "The Svc printer could not be initialized - Svc.\r\n"},
      {110, "Error occured Svc. Service was stopped.\r\n"},
  };
  for (const auto& row : table) {
    service.ReportToEventLog(EVENTLOG_INFORMATION_TYPE, row.id, "Svc", "Svc");
  }
  auto events = eventLog->Events();
  ASSERT_EQ(events.size(), 11u);
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].id, table[i].id);
    EXPECT_EQ(events[i].text, table[i].text) << table[i].id;
  }
}

TEST_F(SvcBaseTest, FailedRegistrationDropsTheReportAndRetriesNextTime) {
  const int before = eventLog->Registrations();
  {
    TestService service;
    eventLog->FailRegistrations(1);
    service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "lost");
    EXPECT_TRUE(eventLog->Events().empty());
    EXPECT_EQ(service.m_hEventLog, nullptr);

    service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_ERROR, "kept");
    auto events = eventLog->Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings[0], "kept");
    EXPECT_EQ(eventLog->Registrations(), before + 1);
  }
  // The destructor gave the source back.
  EXPECT_EQ(eventLog->OpenSources(), 0);
}

TEST_F(SvcBaseTest, ConcurrentFirstReportsKeepOneSource) {
  TestService service;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int j = 0; j < 20; ++j) service.ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_DEBUG, "x");
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(eventLog->Events().size(), 160u);
  EXPECT_EQ(eventLog->OpenSources(), 1);
}

TEST_F(SvcBaseTest, ControlCodesAndTheStopSequence) {
  TestService service;
  std::thread entry = StartEntry();
  ASSERT_TRUE(service.WaitRunEntered());
  EXPECT_EQ(service.m_bRunning, TRUE);
  EXPECT_EQ(scm->RegisteredName(), "Quillon Frame Test");
  EXPECT_EQ(scm->States(),
            (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING}));
  EXPECT_EQ(eventLog->Ids(), std::vector<DWORD>{EVMSG_STARTED});

  LPHANDLER_FUNCTION handler = scm->Handler();
  ASSERT_NE(handler, nullptr);

  // 0 and 6 are not controls of this service; 200 is a user control that
  // the service declines; 4 asks for the status, which is sent unchanged.
  handler(0);
  handler(6);
  handler(200);
  handler(SERVICE_CONTROL_INTERROGATE);
  EXPECT_EQ(eventLog->Ids(), (std::vector<DWORD>{EVMSG_STARTED, EVMSG_BADREQUEST,
                                                 EVMSG_BADREQUEST, EVMSG_BADREQUEST}));
  EXPECT_EQ(service.userControls, std::vector<DWORD>{200});
  EXPECT_EQ(service.interrogations, 1);
  EXPECT_EQ(scm->States(),
            (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_RUNNING,
                                SERVICE_RUNNING, SERVICE_RUNNING, SERVICE_RUNNING}));

  // An accepted user control writes nothing.
  service.acceptUserControls = true;
  handler(130);
  EXPECT_EQ(eventLog->Events().size(), 4u);

  handler(SERVICE_CONTROL_STOP);
  EXPECT_EQ(service.runningDuringHandleStop, TRUE);   // cleared after HandleStop
  EXPECT_EQ(service.eventsAtHandleStop.back(), EVMSG_BADREQUEST);   // 108 comes after
  EXPECT_EQ(service.m_bRunning, FALSE);
  auto states = scm->States();
  ASSERT_GE(states.size(), 3u);
  EXPECT_EQ(std::vector<DWORD>(states.end() - 2, states.end()),
            (std::vector<DWORD>{SERVICE_STOP_PENDING, SERVICE_STOP_PENDING}));
  // Event 108 is written before the service has actually stopped.
  EXPECT_EQ(eventLog->Ids().back(), EVMSG_STOPPED);

  service.Finish();
  entry.join();
  EXPECT_EQ(scm->States().back(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(service.runs, 1);
}

TEST_F(SvcBaseTest, AStopReportsRisingCheckpointsAndAShutdownIsAStopWhenAccepted) {
  struct Case {
    DWORD dwControl;
    DWORD dwAccepted;
    bool bStops;
  } cases[] = {{SERVICE_CONTROL_SHUTDOWN, 0, false},
               {SERVICE_CONTROL_SHUTDOWN, SERVICE_ACCEPT_SHUTDOWN, true},
               {SERVICE_CONTROL_PRESHUTDOWN, SERVICE_ACCEPT_SHUTDOWN, false},
               {SERVICE_CONTROL_PRESHUTDOWN, SERVICE_ACCEPT_PRESHUTDOWN, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE("control " + std::to_string(c.dwControl) + ", accepted " +
                 std::to_string(c.dwAccepted));
    const bool bAccepts = c.bStops;
    scm->Clear();
    eventLog->Clear();
    TestService service;
    service.m_status.dwControlsAccepted |= c.dwAccepted;
    std::thread entry = StartEntry();
    ASSERT_TRUE(service.WaitRunEntered());
    service.ReportStopProgress(2000);   // no stop pending: nothing is sent
    scm->Handler()(c.dwControl);
    service.ReportStopProgress(2000);
    service.ReportStopProgress(2000);
    service.Finish();
    entry.join();
    std::vector<SERVICE_STATUS> sent = scm->Sent();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sent.back().dwCheckPoint, 0u);
    std::vector<DWORD> checkpoints;
    for (const SERVICE_STATUS& status : sent) {
      if (status.dwCurrentState == SERVICE_STOP_PENDING) checkpoints.push_back(status.dwCheckPoint);
    }
    if (!bAccepts) {
      EXPECT_TRUE(checkpoints.empty()) << "a notice it did not ask for stopped the service";
      EXPECT_EQ(service.m_bRunning, TRUE);
      continue;
    }
    // At the request (twice, before and after the handler), then one
    // checkpoint more at each report.
    EXPECT_EQ(checkpoints, (std::vector<DWORD>{1, 1, 2, 3}));
    EXPECT_EQ(sent[sent.size() - 2].dwWaitHint, 2000u);
    EXPECT_EQ(service.m_bRunning, FALSE);
    EXPECT_EQ(eventLog->Ids().back(), EVMSG_STOPPED);
  }
}

TEST_F(SvcBaseTest, FailedPrepareNeverRunsAndReportsItsLastError) {
  TestService service;
  service.prepareError = ERROR_BAD_CONFIGURATION;
  CSvcBase::ServiceEntry(0, nullptr);
  EXPECT_EQ(service.runs, 0);
  EXPECT_EQ(scm->States(),
            (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_STOPPED, SERVICE_STOPPED}));
  EXPECT_EQ(scm->Sent().back().dwWin32ExitCode,
            static_cast<DWORD>(ERROR_BAD_CONFIGURATION));
  EXPECT_EQ(eventLog->Ids(), std::vector<DWORD>{EVMSG_FAILEDINIT});
  EXPECT_EQ(service.m_bRunning, FALSE);
}

TEST_F(SvcBaseTest, UnregisteredControlHandlerWritesEvent103AndNoStatus) {
  TestService service;
  scm->FailHandlerRegistration(true);
  CSvcBase::ServiceEntry(0, nullptr);
  EXPECT_TRUE(scm->Sent().empty());
  EXPECT_EQ(eventLog->Ids(), std::vector<DWORD>{EVMSG_CTRLHANDLERNOTINSTALLED});
  EXPECT_EQ(service.runs, 0);
}

TEST_F(SvcBaseTest, DefaultRunEndsWithinFiveSecondsOfAStop) {
  CSvcBase service("Quillon Default Run");
  service.m_bRunning = TRUE;
  UniqueHandle hDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::thread body([&] {
    service.Run();
    SetEvent(hDone.get());
  });
  // While the flag is set the body keeps running.
  EXPECT_EQ(WaitForSingleObject(hDone.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
  service.m_bRunning = FALSE;
  // One 5 s nap at most, with a margin for a loaded machine.
  EXPECT_EQ(WaitForSingleObject(hDone.get(), 7000), static_cast<DWORD>(WAIT_OBJECT_0));
  body.join();
}

}  // namespace
