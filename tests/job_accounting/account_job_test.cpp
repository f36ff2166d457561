// A finished job becomes one PRNDATA row: pages, size, computer, the
// registrations on the way and JOB_EVENT, on SQLite and PostgreSQL, with the
// page counter, the spooler and the network sessions played by the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "db_test_support.h"
#include "job_accounting/job_data.h"
#include "job_accounting/job_journal.h"
#include "event_log_sim.h"
#include "net_sessions_sim.h"
#include "service_core/lock.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"
#include "sim_fixture.h"
#include "spool_fixture.h"
#include "spooler_sim.h"

#include "account_fixture.h"

namespace {

TEST_P(AccountJobTest, EveryColumnOfTheRowIsWritten) {
  spooler->AddJob("Laser 1");   // job 1: not this one; the spooler is asked for 7
  ASSERT_EQ(service->AccountJob(Job(5, 2)), 1);
  ASSERT_EQ(db->Count("PRNDATA"), 1);
  EXPECT_EQ(db->QueryInt("SELECT idPrinter FROM PRNDATA"),
            db->QueryInt("SELECT idPrinter FROM PRINTERS WHERE PrnName = 'Laser 1'"));
  EXPECT_EQ(db->QueryInt("SELECT idUser FROM PRNDATA"),
            db->QueryInt("SELECT idUser FROM USERS WHERE UserName = 'ann'"));
  EXPECT_EQ(db->QueryInt("SELECT idComp FROM PRNDATA"),
            db->QueryInt("SELECT idComp FROM COMPUTERS WHERE CompName = 'WS-ANN'"));
  EXPECT_EQ(db->QueryTexts("SELECT DocName FROM PRNDATA"),
            std::vector<std::string>{"Report.pdf"});
  EXPECT_EQ(Pages(), 10);
  EXPECT_EQ(script.calls, 0) << "the spooler's count needs no counter";
  EXPECT_EQ(db->QueryInt("SELECT JobSize FROM PRNDATA"), 0);   // unknown to the spooler
  EXPECT_EQ(db->QueryInt("SELECT Submitted FROM PRNDATA"), 1700000000);
  EXPECT_EQ(db->QueryInt("SELECT PaperSize FROM PRNDATA"), DMPAPER_LETTER);
  EXPECT_EQ(db->QueryInt("SELECT PaperLength FROM PRNDATA"), 2794);
  EXPECT_EQ(db->QueryInt("SELECT PaperWidth FROM PRNDATA"), 2159);
  EXPECT_EQ(db->QueryInt("SELECT Color FROM PRNDATA"), DMCOLOR_COLOR);
  EXPECT_EQ(db->QueryInt("SELECT Duplex FROM PRNDATA"), DMDUP_VERTICAL);
  // The printer's user and computer lists.
  EXPECT_EQ(db->Count("PRNUSERS"), 1);
  EXPECT_EQ(db->Count("PRNCOMPS"), 1);
  EXPECT_EQ(db->Count("PRNUSERS u JOIN PRNDATA d ON u.idPrinter = d.idPrinter AND "
                      "u.idUser = d.idUser"),
            1);
  EXPECT_EQ(db->Count("PRNCOMPS c JOIN PRNDATA d ON c.idPrinter = d.idPrinter AND "
                      "c.idComp = d.idComp"),
            1);
}

TEST_P(AccountJobTest, PagesFromTheCounterWhenTheSpoolerHasNone) {
  struct Case {
    const char* label;
    PAGE_COUNTER_SCRIPT::Outcome outcome;
    DWORD dwCounted;
    int64_t expected;
  } cases[] = {
      {"counts 4, 3 copies", PAGE_COUNTER_SCRIPT::Counted, 4, 12},
      {"counts 0: one page a copy", PAGE_COUNTER_SCRIPT::Counted, 0, 3},
      {"cannot count", PAGE_COUNTER_SCRIPT::Failed, 4, 0},
      {"throws", PAGE_COUNTER_SCRIPT::Throws, 4, 0},
  };
  for (const Case& c : cases) {
    db->Exec("DELETE FROM PRNDATA");
    script = PAGE_COUNTER_SCRIPT();
    script.outcome = c.outcome;
    script.dwPages = c.dwCounted;
    service->AccountJob(Job(0, 3));
    EXPECT_EQ(script.calls, 1) << c.label;
    // No file named: the job's spool file (see the case below).
    EXPECT_EQ(script.file.substr(script.file.find_last_of('\\') + 1), "00007.SPL") << c.label;
    EXPECT_EQ(script.printer, "Laser 1") << c.label;
    EXPECT_EQ(Pages(), c.expected) << c.label;
  }
}

TEST_P(AccountJobTest, TheCountersPaperSizeReplacesTheJobs) {
  script.dwPages = 2;
  script.wPaperSize = DMPAPER_A4;
  service->AccountJob(Job(0, 1));
  EXPECT_EQ(db->QueryInt("SELECT PaperSize FROM PRNDATA"), DMPAPER_A4);
  EXPECT_EQ(Pages(), 2);
}

TEST_P(AccountJobTest, PagesNeverComeOutNegativeOrWrapped) {
  // A negative copy count is no count: the job printed once.
  service->AccountJob(Job(5, -2));
  EXPECT_EQ(Pages(), 5);
  db->Exec("DELETE FROM PRNDATA");
  // A product beyond the column is held at its largest value.
  service->AccountJob(Job(0x7FFFFFFF, 3));
  EXPECT_EQ(Pages(), 0x7FFFFFFF);
  db->Exec("DELETE FROM PRNDATA");
  service->AccountJob(Job(0xFFFFFFFF, 1));
  EXPECT_EQ(Pages(), 0x7FFFFFFF);
  db->Exec("DELETE FROM PRNDATA");
  script.dwPages = 0xFFFFFFF0;
  service->AccountJob(Job(0, 2));
  EXPECT_EQ(Pages(), 0x7FFFFFFF);
}

TEST_P(AccountJobTest, ANamedFileIsCountedAndThenDeleted) {
  const std::string path = ExeDirectory() + "job42.prn";
  Touch(path);
  script.dwPages = 6;
  JOB_DATA job = Job(5, 1);
  Put(job.wszFile, kJobFileChars, L"job42.prn");
  service->AccountJob(job);
  EXPECT_EQ(script.calls, 1) << "a named file is counted even when the spooler counted";
  EXPECT_EQ(_stricmp(script.file.c_str(), path.c_str()), 0) << script.file;
  EXPECT_TRUE(script.fileExisted);
  EXPECT_FALSE(Exists(path)) << "the counted file is deleted";
  EXPECT_EQ(Pages(), 6);
}

// A report with a job id, no pages and no file: the job's spool file is
// counted, and left where the spooler keeps it.
TEST_P(AccountJobTest, AReportWithAJobIdAndNoFileCountsTheJobsSpoolFileAndLeavesIt) {
  const std::string dir = ExeDirectory() + "spool";
  CreateDirectoryA(dir.c_str(), nullptr);
  CSpoolDirectorySetting setting(dir);
  const std::string spoolFile = dir + "\\00042.SPL";
  Touch(spoolFile);
  script.dwPages = 4;
  script.wPaperSize = DMPAPER_A4;
  service->AccountJob(Job(0, 2, 42));
  EXPECT_EQ(script.calls, 1);
  EXPECT_EQ(script.file, spoolFile);
  EXPECT_TRUE(script.fileExisted);
  EXPECT_EQ(Pages(), 8) << "4 pages counted, 2 copies";
  EXPECT_EQ(db->QueryInt("SELECT PaperSize FROM PRNDATA"), DMPAPER_A4);
  EXPECT_TRUE(Exists(spoolFile)) << "the spooler's file was deleted";

  // The pages a report gives stand: nothing is counted.
  script = PAGE_COUNTER_SCRIPT();
  service->AccountJob(Job(3, 1, 42));
  EXPECT_EQ(script.calls, 0);
  DeleteFileA(spoolFile.c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST_P(AccountJobTest, AFileOutsideTheServiceOrOfItsOwnIsNeitherCountedNorDeleted) {
  char szTemp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, szTemp);
  const std::string outside = std::string(szTemp) + "quillon-outside.prn";
  Touch(outside);
  const std::string dir = ExeDirectory();
  for (const char* own : {"pagecnt.dll", "printers.lst", "gdiprinters.lst", "copy.bak"}) {
    Touch(dir + own);
  }
  // The outside file by its full path (it fits the 20-character field
  // only as a drive-relative name, which is refused just the same).
  const std::wstring drive(szTemp, szTemp + 2);
  const std::vector<std::wstring> names = {
      drive + L"\\x.prn", L"..\\x.prn", L"C:x.prn", L"pagecnt.dll", L"PRINTERS.LST",
      L"gdiprinters.lst", L"copy.bak", L"NUL", L"x.prn:stream"};
  for (const std::wstring& name : names) {
    db->Exec("DELETE FROM PRNDATA");
    script = PAGE_COUNTER_SCRIPT();
    JOB_DATA job = Job(5, 2);
    Put(job.wszFile, kJobFileChars, name);
    service->AccountJob(job);
    std::string label(name.begin(), name.end());
    EXPECT_EQ(script.calls, 0) << label;
    EXPECT_EQ(Pages(), 10) << label << ": recorded as if no file had been named";
  }
  EXPECT_TRUE(Exists(outside));
  DeleteFileA(outside.c_str());
  for (const char* own : {"pagecnt.dll", "printers.lst", "gdiprinters.lst", "copy.bak"}) {
    EXPECT_TRUE(Exists(dir + own)) << own;
    DeleteFileA((dir + own).c_str());
  }
}

TEST_P(AccountJobTest, BytesComeFromTheWatchersEntryOnceThenFromTheSpooler) {
  {
    CLock lock(kJobQueueTimeout, kJobQueueMutex);
    service->m_jobTable[7] = {12345, 0};
  }
  service->AccountJob(Job(1, 1, 7));
  EXPECT_EQ(db->QueryInt("SELECT JobSize FROM PRNDATA"), 12345);
  EXPECT_EQ(service->m_jobTable.count(7), 0u) << "the entry is consumed";

  sim::JobFields fields;
  fields.totalBytes = 777;
  const DWORD id = spooler->AddJob("Laser 1", fields);
  db->Exec("DELETE FROM PRNDATA");
  service->AccountJob(Job(1, 1, id));
  EXPECT_EQ(db->QueryInt("SELECT JobSize FROM PRNDATA"), 777);
}

TEST_P(AccountJobTest, AJobTheSpoolerDoesNotKnowGetsThirtyQuickQuestions) {
  const DWORD before = spooler->Counts().getJobCalls;
  service->m_settings.dwJobSizeRetryMs = 60000;   // a pause would show as a hang
  EXPECT_EQ(service->GetJobSize(999, "Laser 1"), 0u);
  EXPECT_EQ(spooler->Counts().getJobCalls - before, 30u);
  EXPECT_EQ(service->GetJobSize(1, "No Such Printer"), 0u);
}

TEST_P(AccountJobTest, ASpoolingJobIsAskedAgainUntilItIsDone) {
  sim::JobFields fields;
  fields.totalBytes = 100;
  fields.status = JOB_STATUS_SPOOLING;
  const DWORD id = spooler->AddJob("Laser 1", fields);
  const DWORD before = spooler->Counts().getJobCalls;
  // Still spooling after all 30 attempts: the last size read stands.
  EXPECT_EQ(service->GetJobSize(id, "Laser 1"), 100u);
  EXPECT_EQ(spooler->Counts().getJobCalls - before, 60u) << "two calls an attempt";
  spooler->UpdateJob(id, [](sim::JobFields& f) {
    f.status = JOB_STATUS_SPOOLING | JOB_STATUS_PRINTED;
    f.totalBytes = 250;
  });
  EXPECT_EQ(service->GetJobSize(id, "Laser 1"), 250u);
}

TEST_P(AccountJobTest, ADatabaseFailureLeavesNoRowButTheJobIsStillSignalled) {
  db->Exec("DROP TABLE PRINTERS");
  UniqueHandle jobEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  service->m_hJobEvent = jobEvent.get();
  DWORD woken = WAIT_TIMEOUT;
  std::thread waiter([&] { woken = SignalObjectAndWait(ready.get(), jobEvent.get(), 30000, FALSE); });
  ASSERT_EQ(WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);
  EXPECT_EQ(service->AccountJob(Job(5, 1)), 1);
  waiter.join();
  service->m_hJobEvent = nullptr;
  EXPECT_EQ(woken, WAIT_OBJECT_0) << "JOB_EVENT was not pulsed";
  EXPECT_EQ(db->Count("PRNDATA"), 0);
}

TEST_P(AccountJobTest, AnotherProgramWaitingOnJobEventIsWokenOncePerJob) {
  // The event as the worker body publishes it, by its name.
  UniqueHandle jobEvent(CreateEventA(nullptr, TRUE, FALSE, kJobEventName));
  ASSERT_TRUE(jobEvent);
  service->m_hJobEvent = jobEvent.get();
  const std::string readyName = "QUILLON_ACCOUNT_READY_" + std::to_string(GetCurrentProcessId());
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, readyName.c_str()));
  std::string cmd = std::string("\"") + QUILLON_JOB_EVENT_WAITER + "\" " + readyName + " 3";
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi))
      << GetLastError();
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  for (int job = 0; job < 3; ++job) {
    HANDLE waitFor[2] = {ready.get(), process.get()};
    ASSERT_EQ(WaitForMultipleObjects(2, waitFor, FALSE, 30000), WAIT_OBJECT_0)
        << "the waiter ended before job " << job;
    service->AccountJob(Job(1, 1, 100 + job));
  }
  ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
  service->m_hJobEvent = nullptr;
  DWORD code = 99;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u) << "0 woken three times, 1 a job went unsignalled, 2 no JOB_EVENT";
  EXPECT_EQ(db->Count("PRNDATA"), 3);
}

TEST_P(AccountJobTest, AUserWithoutAnIdIsRecordedAsMinusOne) {
  db->SkipInserts("USERS");
  service->AccountJob(Job(5, 1));
  EXPECT_EQ(db->QueryInt("SELECT idUser FROM PRNDATA"), -1);
}

TEST_P(AccountJobTest, TheUsersSessionNamesTheComputer) {
  sessions->Add(L"WS-REAL", L"ANN");
  JOB_DATA job = Job(1, 1);
  Put(job.wszComputer, kJobComputerChars, L"\\\\SPOOLED");
  service->AccountJob(job);
  EXPECT_EQ(db->QueryTexts("SELECT CompName FROM COMPUTERS"),
            std::vector<std::string>{"WS-REAL"});

  // Without a session, the spooler's name without its backslashes.
  sessions->FailWith(ERROR_ACCESS_DENIED);
  db->Exec("DELETE FROM COMPUTERS");
  JOB_DATA other = Job(1, 1);
  Put(other.wszUser, kJobUserChars, L"bob");
  Put(other.wszComputer, kJobComputerChars, L"\\\\SPOOLED\\x");
  service->AccountJob(other);
  EXPECT_EQ(db->QueryTexts("SELECT CompName FROM COMPUTERS"),
            std::vector<std::string>{"SPOOLED"});
}

// Replay: jobs journaled during an outage are written once, in order.
struct ReplayEnded {};

TEST_P(AccountJobTest, JobsJournaledWhileInsertsFailAreWrittenOnceInOrderWhenTheyWork) {
  db->FailInserts("PRNDATA");
  for (int n = 1; n <= 3; ++n) {
    JOB_DATA job = Job(n, 1, 100 + n);
    job.tSubmitted = 1700000000 + n;
    EXPECT_EQ(service->AccountJob(job), 1);
  }
  EXPECT_EQ(db->Count("PRNDATA"), 0);
  EXPECT_FALSE(service->Keeper().Replay(nullptr)) << "the inserts still fail";
  AllowInserts();
  // A job while the journal holds jobs goes behind them.
  JOB_DATA fourth = Job(4, 1, 104);
  fourth.tSubmitted = 1700000004;
  service->AccountJob(fourth);
  EXPECT_EQ(db->Count("PRNDATA"), 0) << "a new job overtook the journaled ones";
  EXPECT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(db->QueryTexts("SELECT Submitted FROM PRNDATA ORDER BY idPrnData"),
            (std::vector<std::string>{"1700000001", "1700000002", "1700000003", "1700000004"}));
  EXPECT_EQ(db->QueryTexts("SELECT Pages FROM PRNDATA ORDER BY idPrnData"),
            (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(db->Count("PRNDATA", "DocName = 'Report.pdf' AND PaperLength = 2794 AND "
                                 "PaperWidth = 2159 AND Color = 2 AND Duplex = 2"),
            4);
  EXPECT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(db->Count("PRNDATA"), 4) << "a second replay wrote again";
  service->AccountJob(Job(5, 1, 105));
  EXPECT_EQ(db->Count("PRNDATA"), 5) << "once the journal is empty, jobs are written directly";
}

TEST_P(AccountJobTest, AReplayEndedAfterARowsCommitWritesNoRowTwice) {
  db->FailInserts("PRNDATA");
  for (int n = 1; n <= 3; ++n) service->AccountJob(Job(n, 1, 100 + n));
  AllowInserts();
  // The service ends right after the second row's commit, before the
  // journal learns of it.
  static int s_nCommits;
  s_nCommits = 0;
  service->m_settings.keeper.pfnAfterReplayCommit = [](void*) {
    if (++s_nCommits == 2) throw ReplayEnded();
  };
  EXPECT_THROW(service->Keeper().Replay(nullptr), ReplayEnded);
  EXPECT_EQ(db->Count("PRNDATA"), 2);

  // The next start replays the same journal (the old service object closed
  // its connection).
  service.reset(new CQuillonService());
  service->pConnection = db->Connect();
  service->m_pfnGetPageCount = TestPageCounter;
  EXPECT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(db->QueryTexts("SELECT Pages FROM PRNDATA ORDER BY idPrnData"),
            (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(db->Count("JOURNALKEYS"), 3);
}

TEST_P(AccountJobTest, AJobAfterTheServerDroppedTheConnectionIsWrittenOnReconnection) {
  if (db->Kind() != Backend::PostgreSQL) GTEST_SKIP() << "a server ends the connection";
  service->AccountJob(Job(1, 1, 101));
  // The server ends the service's session, as a restart of the server does.
  db->Exec("SELECT pg_terminate_backend(" + std::to_string(BackendPid(conn)) + ")");
  service->AccountJob(Job(2, 1, 102));
  EXPECT_EQ(db->Count("PRNDATA"), 1) << "the lost connection wrote a row";
  EXPECT_TRUE(service->Keeper().Replay(nullptr)) << "the connection was not reopened";
  EXPECT_EQ(db->QueryTexts("SELECT Pages FROM PRNDATA ORDER BY idPrnData"),
            (std::vector<std::string>{"1", "2"}));
  service->AccountJob(Job(3, 1, 103));
  EXPECT_EQ(db->Count("PRNDATA"), 3) << "the reopened connection keeps working";
}

TEST_P(AccountJobTest, AnOutageIsOneErrorEventWithTheDriversTextAndItsEndOneInformationEvent) {
  db->FailInserts("PRNDATA");
  for (int n = 1; n <= 3; ++n) service->AccountJob(Job(n, 1, 100 + n));
  std::vector<sim::LoggedEvent> events = eventLog->Events();
  ASSERT_EQ(events.size(), 1u) << "one event for the outage, not one per job";
  EXPECT_EQ(events[0].id, static_cast<DWORD>(EVMSG_DB_UNREACHABLE));
  EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
  EXPECT_NE(events[0].text.find("inserts refused"), std::string::npos) << events[0].text;
  EXPECT_NE(events[0].text.find(": 1 kept now"), std::string::npos) << events[0].text;
  service->Keeper().Replay(nullptr);   // still failing: no event
  EXPECT_EQ(eventLog->Events().size(), 1u);
  // A replay ended after its first row: that row counts in the end's event.
  static int s_nCommits;
  s_nCommits = 0;
  service->m_settings.keeper.pfnAfterReplayCommit = [](void*) {
    if (++s_nCommits == 1) RaiseComError(E_FAIL, L"ended after the first row");
  };

  AllowInserts();
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(db->Count("PRNDATA"), 1);
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(db->Count("PRNDATA"), 3);
  events = eventLog->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].id, static_cast<DWORD>(EVMSG_DB_REACHABLE));
  EXPECT_EQ(events[1].type, EVENTLOG_INFORMATION_TYPE);
  EXPECT_NE(events[1].text.find(": 3 journaled jobs were written"), std::string::npos)
      << events[1].text;
}

INSTANTIATE_FOR_BOTH_DATABASES(AccountJobTest);

}  // namespace
