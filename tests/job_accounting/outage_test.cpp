// Outages of the database: when the replay reconnects and when it retries
// on the same connection, a locked SQLite file, the journal's bound from the
// registry, and the job that the database refuses for good.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "account_fixture.h"
#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "service_core/configuration.h"

namespace {

// Ends the server's session of the connection; returns once it has ended.
void EndSession(const CTestDatabase& db, int64_t pid) {
  db.Exec("SELECT pg_terminate_backend(" + std::to_string(pid) + ", 10000)");
}

class OutageTest : public AccountJobTest {
 protected:
  // A job told apart by its document, pages and submission time.
  static JOB_DATA Named(const std::wstring& document, DWORD dwPages) {
    JOB_DATA job = Job(dwPages, 1, 100 + dwPages);
    Put(job.wszDocument, kJobDocumentChars, document);
    job.tSubmitted = 1700000000 + static_cast<int32_t>(dwPages);
    return job;
  }
  std::vector<std::string> Documents() const {
    return db->QueryTexts("SELECT DocName FROM PRNDATA ORDER BY idPrnData");
  }
  size_t EventsWithId(DWORD dwId) const {
    size_t n = 0;
    for (const sim::LoggedEvent& e : eventLog->Events()) n += e.id == dwId;
    return n;
  }
  std::string LastEventText(DWORD dwId) const {
    std::string text;
    for (const sim::LoggedEvent& e : eventLog->Events()) {
      if (e.id == dwId) text = e.text;
    }
    return text;
  }
  // Every insert of the document into PRNDATA fails, others are written.
  void RefuseDocument(const std::string& document) const {
    if (db->Kind() == Backend::SQLite) {
      db->Exec("CREATE TRIGGER refuse_doc BEFORE INSERT ON PRNDATA WHEN NEW.DocName = " +
               SqlText(document) + " BEGIN SELECT RAISE(ABORT, 'document refused'); END");
    } else {
      db->Exec("CREATE FUNCTION refuse_doc() RETURNS trigger AS $$ BEGIN IF NEW.DocName = " +
               SqlText(document) +
               " THEN RAISE EXCEPTION 'document refused'; END IF; RETURN NEW; END $$ "
               "LANGUAGE plpgsql");
      db->Exec("CREATE TRIGGER refuse_doc BEFORE INSERT ON PRNDATA FOR EACH ROW "
               "EXECUTE FUNCTION refuse_doc()");
    }
  }
  void AcceptDocument() const {
    db->Exec(db->Kind() == Backend::SQLite ? "DROP TRIGGER refuse_doc"
                                            : "DROP TRIGGER refuse_doc ON PRNDATA");
  }
  size_t Journaled() { return service->Keeper().Waiting(); }
};

// The replay's connection: when it is reopened, and when it is kept.

TEST_P(OutageTest, ALostConnectionIsReopenedForTheReplayWithoutAProbe) {
  if (db->Kind() != Backend::PostgreSQL) GTEST_SKIP() << "a server ends the session";
  service->AccountJob(Named(L"One.pdf", 1));
  const int64_t pidBefore = BackendPid(conn);
  EndSession(*db, pidBefore);
  service->AccountJob(Named(L"Two.pdf", 2));
  ASSERT_EQ(Journaled(), 1u);
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(conn->Reopens(), 1u);
  EXPECT_EQ(conn->Probes(), 0u) << "the state said the connection was lost";
  EXPECT_NE(BackendPid(conn), pidBefore);
  EXPECT_EQ(Documents(), (std::vector<std::string>{"One.pdf", "Two.pdf"}));
}

TEST_P(OutageTest, ARefusedRowIsRetriedOnTheSameConnection) {
  service->AccountJob(Named(L"One.pdf", 1));
  const int64_t pidBefore = db->Kind() == Backend::PostgreSQL ? BackendPid(conn) : 0;
  db->FailInserts("PRNDATA");
  service->AccountJob(Named(L"Two.pdf", 2));
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(conn->Probes(), 3u) << "each refusal is followed by one probe";
  AllowInserts();
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(conn->Reopens(), 0u);
  if (db->Kind() == Backend::PostgreSQL) {
    EXPECT_EQ(BackendPid(conn), pidBefore);
  }
  EXPECT_EQ(Documents(), (std::vector<std::string>{"One.pdf", "Two.pdf"}));
}

// The failure that the seam raises after a replayed row's commit: no
// diagnostic, so only the probe can tell whether the connection is sound.
struct SEAM_FAILURE {
  const CTestDatabase* pDb = nullptr;
  int64_t pidToEnd = 0;   // 0: the session is left alone
  int nRaised = 0;
};
SEAM_FAILURE g_seam;

void FailOnceAfterCommit(void*) {
  if (g_seam.nRaised++) return;
  if (g_seam.pidToEnd) EndSession(*g_seam.pDb, g_seam.pidToEnd);
  RaiseComError(E_FAIL, L"ended after a commit");
}

TEST_P(OutageTest, AFailureWithoutACauseKeepsTheConnectionWhenTheProbeAnswers) {
  db->FailInserts("PRNDATA");
  service->AccountJob(Named(L"One.pdf", 1));
  service->AccountJob(Named(L"Two.pdf", 2));
  AllowInserts();
  const unsigned nProbes = conn->Probes();
  g_seam = SEAM_FAILURE();
  service->m_settings.keeper.pfnAfterReplayCommit = FailOnceAfterCommit;
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(conn->Probes() - nProbes, 1u);
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(conn->Reopens(), 0u);
  EXPECT_EQ(Documents(), (std::vector<std::string>{"One.pdf", "Two.pdf"}));
}

TEST_P(OutageTest, AFailureWithoutACauseReopensWhenTheProbeFails) {
  if (db->Kind() != Backend::PostgreSQL) GTEST_SKIP() << "a server ends the session";
  db->FailInserts("PRNDATA");
  service->AccountJob(Named(L"One.pdf", 1));
  service->AccountJob(Named(L"Two.pdf", 2));
  AllowInserts();
  const int64_t pidBefore = BackendPid(conn);
  g_seam = SEAM_FAILURE();
  g_seam.pDb = db.get();
  g_seam.pidToEnd = pidBefore;
  service->m_settings.keeper.pfnAfterReplayCommit = FailOnceAfterCommit;
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(conn->Reopens(), 1u);
  EXPECT_NE(BackendPid(conn), pidBefore);
  EXPECT_EQ(Documents(), (std::vector<std::string>{"One.pdf", "Two.pdf"}));
  EXPECT_EQ(db->Count("JOURNALKEYS"), 2);
}

// A locked SQLite file.

TEST_P(OutageTest, JobsWhileAnotherConnectionLocksTheFileAreWrittenOnceInOrderAfterIt) {
  if (db->Kind() != Backend::SQLite) GTEST_SKIP() << "a lock on the database file";
  // The driver's busy time-out ("Timeout", ms); its default waits minutes.
  ConnectionPtr shortWait;
  shortWait.CreateInstance();
  shortWait->Open((db->ConnectionString() + ";Timeout=100").c_str());
  service->pConnection = shortWait;
  service->AccountJob(Named(L"One.pdf", 1));
  db->Exec("BEGIN EXCLUSIVE");
  for (DWORD n = 2; n <= 4; ++n) {
    // A computer not yet known: the first statement to meet the lock is its
    // registration's, whose failure reaches the replay as an HRESULT.
    JOB_DATA job = Named(L"Job" + std::to_wstring(n), n);
    Put(job.wszComputer, kJobComputerChars, L"WS-NEW" + std::to_wstring(n));
    service->AccountJob(job);
  }
  const bool bReplayedLocked = service->Keeper().Replay(nullptr);
  db->Exec("COMMIT");
  EXPECT_FALSE(bReplayedLocked);
  EXPECT_EQ(Journaled(), 3u);
  EXPECT_NE(LastEventText(EVMSG_DB_UNREACHABLE).find("database is locked"), std::string::npos)
      << LastEventText(EVMSG_DB_UNREACHABLE);
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(shortWait->Reopens(), 0u) << "a lock is no lost connection";
  EXPECT_EQ(shortWait->Probes(), 0u) << "a busy state needs no probe";
  EXPECT_EQ(Documents(), (std::vector<std::string>{"One.pdf", "Job2", "Job3", "Job4"}));
  EXPECT_EQ(db->Count("JOURNALKEYS"), 4) << "every row commits with its job's key";
  EXPECT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(db->Count("PRNDATA"), 4);
}

// A stop during a replay.

TEST_P(OutageTest, AStopEndsTheReplayBetweenJobsAndTheNextStartWritesTheRestOnce) {
  db->FailInserts("PRNDATA");
  for (DWORD n = 1; n <= 60; ++n) service->AccountJob(Named(L"Doc-" + std::to_wstring(n), n));
  AllowInserts();
  UniqueHandle stop(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  EXPECT_FALSE(service->Keeper().Replay(stop.get()));
  EXPECT_EQ(db->Count("PRNDATA"), 0) << "a replay began although the stop was set";
  ResetEvent(stop.get());
  // The stop comes while the 20th row commits.
  static int s_nCommits;
  s_nCommits = 0;
  service->m_settings.keeper.pAfterReplayContext = stop.get();
  service->m_settings.keeper.pfnAfterReplayCommit = [](void* pStop) {
    if (++s_nCommits == 20) SetEvent(static_cast<HANDLE>(pStop));
  };
  EXPECT_FALSE(service->Keeper().Replay(stop.get()));
  EXPECT_EQ(db->Count("PRNDATA"), 20) << "the replay went on past the stop";

  // The next start: a service object of its own on the same journal (the
  // old one closed its connection).
  service.reset(new CQuillonService());
  service->pConnection = db->Connect();
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  std::vector<std::string> expected;
  for (int n = 1; n <= 60; ++n) expected.push_back("Doc-" + std::to_string(n));
  EXPECT_EQ(Documents(), expected);
}

// What the journal holds, written by the replay.

TEST_P(OutageTest, AJobOnlyTakenBeforeACrashIsCompletedByTheReplayAndItsFileCountedOnce) {
  const std::string file = ExeDirectory() + "crash.prn";
  Touch(file);
  {
    // What a service killed between taking a job and settling it leaves.
    CJobJournal journal(ExeDirectory() + kJournalFile, 1 << 20);
    TAKEN_JOB taken;
    taken.job = Named(L"Taken.pdf", 0);
    taken.job.dwCopies = 3;
    Put(taken.job.wszFile, kJobFileChars, L"crash.prn");
    ASSERT_EQ(journal.Take(taken), CJobJournal::Append::Written);
  }
  script.dwPages = 4;
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(Documents(), std::vector<std::string>{"Taken.pdf"});
  EXPECT_EQ(Pages(), 12) << "the counter's 4 pages times 3 copies";
  EXPECT_EQ(script.calls, 1);
  EXPECT_EQ(script.file, file);
  EXPECT_FALSE(Exists(file)) << "the counted file outlived its job";
}

TEST_P(OutageTest, AKeyThatHoldsAQuoteIsWrittenAsItIs) {
  {
    CJobJournal journal(ExeDirectory() + kJournalFile, 1 << 20);
    JOURNALED_JOB job;
    job.key = "O'Brien'); DELETE FROM PRNDATA; --";
    job.printer = "Laser 1";
    job.user = "ann";
    job.computer = "WS-ANN";
    job.document = "Quoted.pdf";
    ASSERT_EQ(journal.Keep(job), CJobJournal::Append::Written);
  }
  service->AccountJob(Named(L"Before.pdf", 1));   // waits behind the journaled one
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(Documents(), (std::vector<std::string>{"Quoted.pdf", "Before.pdf"}));
  EXPECT_EQ(db->Count("JOURNALKEYS", "JournalKey = 'O''Brien''); DELETE FROM PRNDATA; --'"), 1);
}

TEST_P(OutageTest, KeysBelowTheOldestJobHeldAreDeletedAndAHeldJobsKeyIsNot) {
  for (DWORD n = 1; n <= 3; ++n) service->AccountJob(Named(L"Doc-" + std::to_wstring(n), n));
  ASSERT_EQ(db->Count("JOURNALKEYS"), 3);
  db->FailInserts("PRNDATA");
  for (DWORD n = 4; n <= 5; ++n) service->AccountJob(Named(L"Doc-" + std::to_wstring(n), n));
  AllowInserts();
  // At the moment the replay has committed job 4, it still holds it: a
  // crash now must find its key, and the keys of 1 to 3 are not needed.
  static CJobKeeper* s_pKeeper;
  static int64_t s_nKeysAtCommit;
  static const CTestDatabase* s_pDb;
  s_pKeeper = &service->Keeper();
  s_pDb = db.get();
  s_nKeysAtCommit = -1;
  service->m_settings.keeper.pfnAfterReplayCommit = [](void*) {
    if (s_nKeysAtCommit >= 0) return;
    s_pKeeper->PruneKeys();
    s_nKeysAtCommit = s_pDb->Count("JOURNALKEYS");
  };
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(s_nKeysAtCommit, 1) << "only the key of the job being replayed stays";
  service->Keeper().PruneKeys();
  EXPECT_EQ(db->Count("JOURNALKEYS"), 0) << "nothing is held any more";
  EXPECT_EQ(Documents(), (std::vector<std::string>{"Doc-1", "Doc-2", "Doc-3", "Doc-4", "Doc-5"}));
}

// The journal's bound, set in the service's registry key.
class JournalBoundTest : public OutageTest {
 protected:
  void SetUp() override {
    OutageTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    DWORD cb = sizeof(dwSaved);
    bHadValue = RegQueryValueExA(key.get(), kJournalLimitValue, nullptr, &dwSavedType,
                                 reinterpret_cast<BYTE*>(&dwSaved), &cb) == ERROR_SUCCESS;
  }
  void TearDown() override {
    if (key) {
      if (bHadValue) {
        RegSetValueExA(key.get(), kJournalLimitValue, 0, dwSavedType,
                       reinterpret_cast<const BYTE*>(&dwSaved), sizeof(dwSaved));
      } else {
        RegDeleteValueA(key.get(), kJournalLimitValue);
      }
    }
    OutageTest::TearDown();
  }
  void SetLimitKB(DWORD dwKB) {
    ASSERT_EQ(RegSetValueExA(key.get(), kJournalLimitValue, 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&dwKB), sizeof(dwKB)),
              ERROR_SUCCESS);
  }
  static uint64_t FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  RegKey key;
  bool bHadValue = false;
  DWORD dwSaved = 0;
  DWORD dwSavedType = REG_DWORD;
};

TEST_P(JournalBoundTest, TheJobThatFindsTheJournalFullIsReportedAndTheOthersAreWrittenLater) {
  SetLimitKB(1);
  db->FailInserts("PRNDATA");
  const std::string path = ExeDirectory() + kJournalFile;
  DWORD nRefused = 0;
  uint64_t cbLargest = 0;
  for (DWORD n = 1; n <= 100 && !nRefused; ++n) {
    service->AccountJob(Named(L"Doc-" + std::to_wstring(n), n));
    cbLargest = std::max(cbLargest, FileBytes(path));
    if (EventsWithId(EVMSG_JOURNAL_FULL)) nRefused = n;
  }
  ASSERT_GT(nRefused, 1u) << "no job was refused, or the first one was";
  EXPECT_LE(cbLargest, 1024u);
  EXPECT_GT(cbLargest, 1024u / 2) << "the bound is not the registry's 1 KB";
  const std::string text = LastEventText(EVMSG_JOURNAL_FULL);
  const std::string n = std::to_string(nRefused);
  const std::vector<std::string> facts = {
      "is full (1024 bytes)", "Document=Doc-" + n, "Pages=" + n, "Printer=Laser 1", "User=ann",
      "Computer=WS-ANN", "Submitted=" + std::to_string(1700000000 + nRefused)};
  for (const std::string& fact : facts) {
    EXPECT_NE(text.find(fact), std::string::npos) << fact << " missing from: " << text;
  }
  AllowInserts();
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  std::vector<std::string> expected;
  for (DWORD k = 1; k < nRefused; ++k) expected.push_back("Doc-" + std::to_string(k));
  EXPECT_EQ(Documents(), expected);
}

// A job that the database refuses for good.

TEST_P(OutageTest, AJobTheDatabaseKeepsRefusingIsPassedOverOnceTheJobBehindItIsWritten) {
  service->m_settings.keeper.nPassOverRefusals = 3;
  service->m_settings.keeper.dwPassOverAfterMs = 0;
  RefuseDocument("Poison.pdf");
  service->AccountJob(Named(L"One.pdf", 1));
  service->AccountJob(Named(L"Poison.pdf", 2));
  service->AccountJob(Named(L"Three.pdf", 3));
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(EventsWithId(EVMSG_JOB_PASSED_OVER), 0u) << "passed over before the third refusal";
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(Documents(), (std::vector<std::string>{"One.pdf", "Three.pdf"}));
  ASSERT_EQ(EventsWithId(EVMSG_JOB_PASSED_OVER), 1u);
  const std::string text = LastEventText(EVMSG_JOB_PASSED_OVER);
  for (const char* fact : {"3 times", "document refused", "Document=Poison.pdf", "Pages=2",
                           "Submitted=1700000002", "Printer=Laser 1", "User=ann"}) {
    EXPECT_NE(text.find(fact), std::string::npos) << fact << " missing from: " << text;
  }
  EXPECT_EQ(db->Count("JOURNALKEYS"), 3) << "the passed-over key is kept, so no replay retries it";
  EXPECT_EQ(conn->Reopens(), 0u);
}

TEST_P(OutageTest, TheLastJobOfTheJournalIsNeverPassedOver) {
  service->m_settings.keeper.nPassOverRefusals = 2;
  service->m_settings.keeper.dwPassOverAfterMs = 0;
  RefuseDocument("Poison.pdf");
  service->AccountJob(Named(L"Poison.pdf", 1));
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(service->Keeper().Replay(nullptr)) << "round " << i;
  EXPECT_EQ(EventsWithId(EVMSG_JOB_PASSED_OVER), 0u);
  EXPECT_EQ(Journaled(), 1u);
  service->AccountJob(Named(L"Two.pdf", 2));
  EXPECT_TRUE(service->Keeper().Replay(nullptr)) << "the job behind it decides";
  EXPECT_EQ(Documents(), std::vector<std::string>{"Two.pdf"});
}

TEST_P(OutageTest, NothingIsPassedOverWhileTheDatabaseRefusesEveryJob) {
  service->m_settings.keeper.nPassOverRefusals = 2;
  service->m_settings.keeper.dwPassOverAfterMs = 0;
  db->FailInserts("PRNDATA");
  for (DWORD n = 1; n <= 3; ++n) service->AccountJob(Named(L"Doc-" + std::to_wstring(n), n));
  for (int i = 0; i < 6; ++i) EXPECT_FALSE(service->Keeper().Replay(nullptr)) << "round " << i;
  EXPECT_EQ(EventsWithId(EVMSG_JOB_PASSED_OVER), 0u);
  EXPECT_EQ(Journaled(), 3u);
  AllowInserts();
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(Documents(), (std::vector<std::string>{"Doc-1", "Doc-2", "Doc-3"}));
}

TEST_P(OutageTest, AJobRefusedForLessThanTheTimeLimitIsKept) {
  service->m_settings.keeper.nPassOverRefusals = 2;
  service->m_settings.keeper.dwPassOverAfterMs = 3600000;
  RefuseDocument("Poison.pdf");
  service->AccountJob(Named(L"Poison.pdf", 1));
  service->AccountJob(Named(L"Two.pdf", 2));
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(service->Keeper().Replay(nullptr)) << "round " << i;
  EXPECT_EQ(EventsWithId(EVMSG_JOB_PASSED_OVER), 0u);
  AcceptDocument();
  ASSERT_TRUE(service->Keeper().Replay(nullptr));
  EXPECT_EQ(Documents(), (std::vector<std::string>{"Poison.pdf", "Two.pdf"}));
}

TEST_P(OutageTest, ALostConnectionBetweenRefusalsStartsTheCountAgain) {
  if (db->Kind() != Backend::PostgreSQL) GTEST_SKIP() << "a server ends the session";
  service->m_settings.keeper.nPassOverRefusals = 3;
  service->m_settings.keeper.dwPassOverAfterMs = 0;
  RefuseDocument("Poison.pdf");
  service->AccountJob(Named(L"Poison.pdf", 1));
  service->AccountJob(Named(L"Two.pdf", 2));
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EndSession(*db, BackendPid(conn));
  EXPECT_FALSE(service->Keeper().Replay(nullptr)) << "the lost connection";
  EXPECT_FALSE(service->Keeper().Replay(nullptr));
  EXPECT_FALSE(service->Keeper().Replay(nullptr)) << "passed over on the third refusal counted across the loss";
  EXPECT_EQ(EventsWithId(EVMSG_JOB_PASSED_OVER), 0u);
  EXPECT_TRUE(service->Keeper().Replay(nullptr)) << "three refusals in a row after the loss";
  EXPECT_EQ(EventsWithId(EVMSG_JOB_PASSED_OVER), 1u);
  EXPECT_EQ(conn->Reopens(), 1u);
}

INSTANTIATE_FOR_BOTH_DATABASES(OutageTest);
INSTANTIATE_FOR_BOTH_DATABASES(JournalBoundTest);

}  // namespace
