// The job-control command of a new job, resolved through the caches and the
// registrations on a real database.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "db_test_support.h"
#include "job_accounting/job_data.h"
#include "service_core/quillon_service.h"

namespace {

class JobCommandTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    service.reset(new CQuillonService());
    service->pConnection = conn;
  }
  void TearDown() override {
    service.reset();
    DatabaseTest::TearDown();
  }

  void Insert(const std::string& table, const std::string& column, int n) {
    for (int i = 1; i <= n; ++i) {
      db->Exec("INSERT INTO " + table + " (" + column + ") VALUES ('" + table + std::to_string(i) +
               "')");
    }
  }
  void Rule(int idPrinter, int idUser, int nAction) {
    db->Exec("INSERT INTO PRNPERMISSIONS (idPrinter, idUser, Action) VALUES (" +
             std::to_string(idPrinter) + ", " + std::to_string(idUser) + ", " +
             std::to_string(nAction) + ")");
  }
  void LoadCaches() {
    ASSERT_EQ(service->LoadPermissionTable(), 1);
    ASSERT_EQ(service->LoadPrinterTable(), 1);
    ASSERT_EQ(service->LoadUserTable(), 1);
  }

  std::unique_ptr<CQuillonService> service;
};

TEST_P(JobCommandTest, RuleOfThePrinterAndUserIsTheCommand) {
  Insert("PRINTERS", "PrnName", 3);
  Insert("USERS", "UserName", 7);
  Rule(3, 7, JOB_CONTROL_DELETE);
  LoadCaches();
  EXPECT_EQ(service->GetJobCommand(L"USERS7", L"PRINTERS3"), JOB_CONTROL_DELETE);
  EXPECT_EQ(service->GetJobCommand(L"USERS6", L"PRINTERS3"), 0);
  EXPECT_EQ(service->GetJobCommand(L"USERS7", L"PRINTERS2"), 0);
}

TEST_P(JobCommandTest, PrinterAndUserSeenFirstAreRegisteredAndCached) {
  Rule(-1, -1, JOB_CONTROL_PAUSE);
  LoadCaches();
  EXPECT_EQ(service->GetJobCommand(L"alice", L"Laser"), JOB_CONTROL_PAUSE);
  EXPECT_EQ(db->Count("PRINTERS", "PrnName = 'Laser'"), 1);
  EXPECT_EQ(db->Count("USERS", "UserName = 'alice'"), 1);
  int32_t idPrinter = 0, idUser = 0;
  EXPECT_TRUE(service->mapPrinters.Find("Laser", idPrinter));
  EXPECT_TRUE(service->mapUsers.Find("alice", idUser));
  EXPECT_EQ(idPrinter, 1);
  EXPECT_EQ(idUser, 1);
  // The second job of the pair is answered from the caches alone.
  EXPECT_EQ(service->GetJobCommand(L"alice", L"Laser"), JOB_CONTROL_PAUSE);
  EXPECT_EQ(db->Count("PRINTERS"), 1);
  EXPECT_EQ(db->Count("USERS"), 1);
}

TEST_P(JobCommandTest, PrinterThatCannotBeRegisteredLeavesTheJobAlone) {
  Rule(-1, -1, JOB_CONTROL_DELETE);
  LoadCaches();
  db->FailInserts("PRINTERS");
  EXPECT_EQ(service->GetJobCommand(L"alice", L"Laser"), 0);
  int32_t id = 0;
  EXPECT_FALSE(service->mapPrinters.Find("Laser", id));
}

TEST_P(JobCommandTest, UserThatCannotBeAddedCountsAsUserZero) {
  Insert("PRINTERS", "PrnName", 1);
  Rule(1, 0, JOB_CONTROL_CANCEL);
  LoadCaches();
  db->FailInserts("USERS");
  EXPECT_EQ(service->GetJobCommand(L"alice", L"PRINTERS1"), JOB_CONTROL_CANCEL);
}

TEST_P(JobCommandTest, NamesFillingTheirFieldAreReadNoFurther) {
  JOB_DATA job = {};
  for (WCHAR& c : job.wszUser) c = L'u';
  for (WCHAR& c : job.wszPrinter) c = L'p';
  std::memcpy(job.wszComputer, L"XX", 4);   // right after the user name
  std::memcpy(job.wszFile, L"YY", 4);       // right after the printer name
  LoadCaches();
  EXPECT_EQ(service->GetJobCommand(job.wszUser, job.wszPrinter), 0);
  // Both are stored as their tables hold names, cut to 254 characters.
  EXPECT_EQ(db->QueryTexts("SELECT UserName FROM USERS"),
            std::vector<std::string>{std::string(254, 'u')});
  EXPECT_EQ(db->QueryTexts("SELECT PrnName FROM PRINTERS"),
            std::vector<std::string>{std::string(254, 'p')});
}

INSTANTIATE_FOR_BOTH_DATABASES(JobCommandTest);

}  // namespace
