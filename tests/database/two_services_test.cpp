// Two print servers, two processes with a service object and a connection
// each, on one PostgreSQL database: released at the same moment by a named
// event, both account the same jobs with printers, users and computers that
// the database does not know yet. One row per name, one per pair, and every
// job's row with the ids of its own names.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "db_test_support.h"
#include "service_core/win_owners.h"

namespace {

constexpr int kJobs = 63;   // every printer meets every user and computer
constexpr int kPrinters = 7, kUsers = 9, kComputers = 5;

PROCESS_INFORMATION StartServer(const std::string& dsn, const std::string& ready,
                                const std::string& start, const std::string& tag) {
  std::string command = std::string("\"") + QUILLON_ACCOUNTING_SERVICE_PROGRAM + "\" \"" + dsn +
                        "\" " + ready + " " + start + " " + tag + " " + std::to_string(kJobs);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    ADD_FAILURE() << "cannot start the server program: " << GetLastError();
  }
  return pi;
}

TEST(TwoServicesTest, OneRowPerNameAndPairAndEveryJobRecorded) {
  const std::string reason = CTestDatabase::Unavailable(Backend::PostgreSQL);
  if (!reason.empty()) {
    if (std::getenv("QUILLON_TEST_PG_REQUIRED")) FAIL() << reason;
    GTEST_SKIP() << reason;
  }
  CTestDatabase db(Backend::PostgreSQL);
  const std::string suffix = std::to_string(GetCurrentProcessId());
  const std::string names[2] = {"quillon_ready_a_" + suffix, "quillon_ready_b_" + suffix};
  const std::string startName = "quillon_start_" + suffix;
  UniqueHandle ready[2] = {UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, names[0].c_str())),
                           UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, names[1].c_str()))};
  UniqueHandle start(CreateEventA(nullptr, TRUE, FALSE, startName.c_str()));
  ASSERT_TRUE(ready[0] && ready[1] && start);

  PROCESS_INFORMATION servers[2] = {
      StartServer(db.ConnectionString(), names[0], startName, "A"),
      StartServer(db.ConnectionString(), names[1], startName, "B")};
  UniqueHandle process[2] = {UniqueHandle(servers[0].hProcess), UniqueHandle(servers[1].hProcess)};
  UniqueHandle thread[2] = {UniqueHandle(servers[0].hThread), UniqueHandle(servers[1].hThread)};
  ASSERT_TRUE(process[0] && process[1]);

  HANDLE both[2] = {ready[0].get(), ready[1].get()};
  ASSERT_EQ(WaitForMultipleObjects(2, both, TRUE, 60000), WAIT_OBJECT_0) << "servers not ready";
  SetEvent(start.get());
  HANDLE ends[2] = {process[0].get(), process[1].get()};
  ASSERT_EQ(WaitForMultipleObjects(2, ends, TRUE, 120000), WAIT_OBJECT_0) << "servers did not end";
  for (const UniqueHandle& p : process) {
    DWORD dwExit = 99;
    GetExitCodeProcess(p.get(), &dwExit);
    EXPECT_EQ(dwExit, 0u);
  }

  // One row per name.
  EXPECT_EQ(db.Count("PRINTERS"), kPrinters);
  EXPECT_EQ(db.Count("USERS"), kUsers);
  EXPECT_EQ(db.Count("COMPUTERS"), kComputers);
  // One row per pair: every printer met every user and computer (63 jobs).
  EXPECT_EQ(db.Count("PRNUSERS"), kPrinters * kUsers);
  EXPECT_EQ(db.Count("PRNCOMPS"), kPrinters * kComputers);
  EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM (SELECT DISTINCT idPrinter, idUser FROM PRNUSERS) d"),
            kPrinters * kUsers);
  EXPECT_EQ(db.QueryInt("SELECT COUNT(*) FROM (SELECT DISTINCT idPrinter, idComp FROM PRNCOMPS) d"),
            kPrinters * kComputers);
  // Every job of both servers, under the ids of its own names.
  EXPECT_EQ(db.Count("PRNDATA"), 2 * kJobs);
  EXPECT_EQ(db.QueryInt("SELECT COUNT(DISTINCT d.DocName) FROM PRNDATA d "
                        "JOIN PRINTERS p ON p.idPrinter = d.idPrinter "
                        "JOIN USERS u ON u.idUser = d.idUser "
                        "JOIN COMPUTERS c ON c.idComp = d.idComp "
                        "WHERE d.DocName LIKE '_:' || p.PrnName || ':' || u.UserName || ':' || "
                        "c.CompName || ':%'"),
            2 * kJobs);
  // How often an append met the other server's row (each refused append
  // spent an id of the identity), for the test's report.
  RecordProperty("user_races", db.QueryInt("SELECT MAX(idUser) - COUNT(*) FROM USERS"));
  RecordProperty("printer_races", db.QueryInt("SELECT MAX(idPrinter) - COUNT(*) FROM PRINTERS"));
  RecordProperty("computer_races", db.QueryInt("SELECT MAX(idComp) - COUNT(*) FROM COMPUTERS"));
  RecordProperty("pair_races", db.QueryInt("SELECT MAX(idPrnUser) - COUNT(*) FROM PRNUSERS") +
                                   db.QueryInt("SELECT MAX(idPrnComp) - COUNT(*) FROM PRNCOMPS"));
}

}  // namespace
