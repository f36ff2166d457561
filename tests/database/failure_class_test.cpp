// What the drivers report when the database goes away or is locked, and how
// those failures are classified: a lost connection calls for a reopen, a
// busy database for a retry as it is, anything else is a refusal.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "database/wide_text.h"
#include "db_test_support.h"

namespace {

const char* KindName(DbFailure kind) {
  switch (kind) {
    case DbFailure::Unknown: return "unknown";
    case DbFailure::ConnectionLost: return "connection lost";
    case DbFailure::Busy: return "busy";
    case DbFailure::Refused: return "refused";
  }
  return "?";
}

// The failure of one statement on the connection, with what it carried.
struct Outcome {
  bool bFailed = false;
  DbFailure kind = DbFailure::Unknown;
  ODBC_DIAGNOSTIC diag;
  std::string Describe() const {
    return std::string(KindName(kind)) + ", [" + WideToAnsi(diag.state) + "] native " +
           std::to_string(diag.nNative) + ": " + WideToAnsi(diag.text);
  }
};

Outcome RunOn(const ConnectionPtr& conn, const wchar_t* pwszSql) {
  Outcome outcome;
  try {
    COdbcStatement stmt(conn->Handle());
    stmt.ExecDirect(pwszSql);
  } catch (const _com_error& e) {
    outcome.bFailed = true;
    outcome.kind = ClassifyDbFailure(e);
    GetOdbcDiagnostic(e, &outcome.diag);
  }
  return outcome;
}

using FailureClassTest = DatabaseTest;

TEST_P(FailureClassTest, AKilledSessionIsLostOnTheFirstStatementAndOnEveryLaterOne) {
  if (db->Kind() != Backend::PostgreSQL) GTEST_SKIP() << "a server ends the session";
  // The two-argument form returns once the session has ended.
  db->Exec("SELECT pg_terminate_backend(" + std::to_string(BackendPid(conn)) + ", 10000)");
  const Outcome first = RunOn(conn, L"SELECT 1");
  const Outcome second = RunOn(conn, L"SELECT 1");
  ASSERT_TRUE(first.bFailed && second.bFailed);
  EXPECT_EQ(first.kind, DbFailure::ConnectionLost) << first.Describe();
  EXPECT_EQ(second.kind, DbFailure::ConnectionLost) << second.Describe();
  EXPECT_FALSE(conn->Probe());
  conn->Reopen();
  EXPECT_TRUE(conn->Probe()) << "the reopened connection answers";
}

TEST_P(FailureClassTest, AServerThatDoesNotListenIsALostConnection) {
  if (db->Kind() != Backend::PostgreSQL) GTEST_SKIP() << "SQLite has no server";
  ConnectionPtr nowhere;
  nowhere.CreateInstance();
  try {
    // Port 1 on the loopback: nothing listens there.
    nowhere->Open("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=x;Uid=x;Pwd=x");
    FAIL() << "a connection to port 1 opened";
  } catch (const _com_error& e) {
    ODBC_DIAGNOSTIC diag;
    ASSERT_TRUE(GetOdbcDiagnostic(e, &diag)) << ComErrorDescription(e);
    EXPECT_EQ(ClassifyDbFailure(e), DbFailure::ConnectionLost)
        << WideToAnsi(diag.state) << " " << WideToAnsi(diag.text);
  }
}

TEST_P(FailureClassTest, AStatementTheDatabaseRejectsIsARefusalAndTheProbeStillAnswers) {
  const Outcome outcome = RunOn(conn, L"SELECT * FROM NOPE");
  ASSERT_TRUE(outcome.bFailed);
  EXPECT_EQ(outcome.kind, DbFailure::Refused) << outcome.Describe();
  EXPECT_TRUE(conn->Probe());
  db->FailInserts("PRINTERS");
  const Outcome trigger = RunOn(conn, L"INSERT INTO PRINTERS (PrnName) VALUES ('x')");
  ASSERT_TRUE(trigger.bFailed);
  EXPECT_EQ(trigger.kind, DbFailure::Refused) << trigger.Describe();
}

TEST_P(FailureClassTest, AFileLockedPastTheBusyTimeOutIsBusyAndTheProbeStillAnswers) {
  if (db->Kind() != Backend::SQLite) GTEST_SKIP() << "a lock on the database file";
  // The driver's "Timeout" is its busy time-out in milliseconds.
  ConnectionPtr shortWait;
  shortWait.CreateInstance();
  shortWait->Open((db->ConnectionString() + ";Timeout=100").c_str());
  db->Exec("BEGIN EXCLUSIVE");
  const Outcome insert = RunOn(shortWait, L"INSERT INTO PRINTERS (PrnName) VALUES ('x')");
  const Outcome read = RunOn(shortWait, L"SELECT COUNT(*) FROM PRINTERS");
  const bool bProbe = shortWait->Probe();
  db->Exec("COMMIT");
  ASSERT_TRUE(insert.bFailed && read.bFailed);
  EXPECT_EQ(insert.kind, DbFailure::Busy) << insert.Describe();
  EXPECT_EQ(insert.diag.nNative, 5) << insert.Describe();
  EXPECT_EQ(read.kind, DbFailure::Busy) << read.Describe();
  EXPECT_TRUE(bProbe) << "SELECT 1 needs no lock: a locked file is no dead connection";
  EXPECT_FALSE(RunOn(shortWait, L"INSERT INTO PRINTERS (PrnName) VALUES ('x')").bFailed)
      << "the same connection works once the lock is gone";
}

TEST(FailureClassOfOtherErrorsTest, OnlyAnOdbcDiagnosticIsClassified) {
  try {
    RaiseComError(E_FAIL, L"[08S01] a text that only looks like a diagnostic");
  } catch (const _com_error& e) {
    EXPECT_EQ(ClassifyDbFailure(e), DbFailure::Unknown);
  }
  EXPECT_EQ(ClassifyDbFailure(_com_error(E_FAIL)), DbFailure::Unknown);
}

TEST(FailureClassOfOtherErrorsTest, NeighboursOfTheLostAndBusyStatesAreRefusals) {
  // 57P02 was seen after another server process was killed; 57P04 (the
  // database was dropped) is no outage, and SQLite's codes mean nothing
  // from another driver.
  struct Case {
    const wchar_t* state;
    long nNative;
    const wchar_t* text;
    DbFailure expected;
  } cases[] = {
      {L"57P02", 35, L"server closed the connection unexpectedly", DbFailure::ConnectionLost},
      {L"57P04", 0, L"database dropped", DbFailure::Refused},
      {L"HY000", 5, L"not the SQLite driver", DbFailure::Refused},
      {L"HY000", 19, L"[SQLite]UNIQUE constraint failed (19)", DbFailure::Refused},
  };
  for (const Case& c : cases) {
    ODBC_DIAGNOSTIC diag;
    diag.state = c.state;
    diag.nNative = c.nNative;
    diag.text = c.text;
    EXPECT_EQ(ClassifyDiagnostic(diag), c.expected)
        << WideToAnsi(c.state) << " " << c.nNative << " " << WideToAnsi(c.text) << ": "
        << KindName(ClassifyDiagnostic(diag));
  }
}

TEST_P(FailureClassTest, ACopiedErrorCarriesTheSameDiagnostic) {
  _com_error copy(E_FAIL);
  try {
    COdbcStatement stmt(conn->Handle());
    stmt.ExecDirect(L"SELECT * FROM NOPE");
  } catch (const _com_error& e) {
    copy = e;
  }
  ODBC_DIAGNOSTIC diag;
  ASSERT_TRUE(GetOdbcDiagnostic(copy, &diag));
  EXPECT_EQ(WideToAnsi(diag.state), db->Kind() == Backend::SQLite ? "HY000" : "42P01");
  EXPECT_EQ(diag.nNative, 1) << WideToAnsi(diag.text);
}

INSTANTIATE_FOR_BOTH_DATABASES(FailureClassTest);

}  // namespace
