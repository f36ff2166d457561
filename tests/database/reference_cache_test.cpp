// The service's reference caches: loading, permission precedence and
// updates, users appended on first sight.
#include <gtest/gtest.h>

#include <string>

#include "db_test_support.h"
#include "service_core/quillon_service.h"

namespace {

class ReferenceCacheTest : public DatabaseTest {
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

  void AddRule(int printer, int user, int action) {
    db->Exec("INSERT INTO PRNPERMISSIONS (idPrinter, idUser, Action) VALUES (" +
             std::to_string(printer) + ", " + std::to_string(user) + ", " +
             std::to_string(action) + ")");
  }
  int32_t Action(int32_t printer, int32_t user) {
    PERMISSION_ENTRY entry = {};
    EXPECT_EQ(service->GetPermission(printer, user, entry), 1);
    return entry.Action;
  }

  std::unique_ptr<CQuillonService> service;
};

TEST_P(ReferenceCacheTest, PermissionPrecedenceIsPairThenPrinterThenEverything) {
  const int P = 7, U = 12;
  AddRule(P, U, 5);
  AddRule(P, -1, 3);
  AddRule(-1, -1, 1);
  AddRule(-1, U, 4);   // every printer, one user: never consulted
  ASSERT_EQ(service->LoadPermissionTable(), 1);
  EXPECT_EQ(Action(P, U), 5);
  EXPECT_EQ(Action(P, 13), 3);
  EXPECT_EQ(Action(8, U), 1);
  EXPECT_EQ(Action(8, 13), 1);

  PERMISSION_ENTRY entry = {};
  service->GetPermission(8, U, entry);
  EXPECT_EQ(entry.idPrinter, -1);   // the matched rule keeps its own keys
  EXPECT_EQ(entry.idUser, -1);
}

TEST_P(ReferenceCacheTest, WithoutWildcardRulesOtherJobsGetNoAction) {
  AddRule(7, 12, 5);
  AddRule(-1, 30, 3);
  ASSERT_EQ(service->LoadPermissionTable(), 1);
  EXPECT_EQ(Action(7, 13), 0);
  EXPECT_EQ(Action(8, 12), 0);
  EXPECT_EQ(Action(9, 30), 0);
  PERMISSION_ENTRY entry = {};
  service->GetPermission(9, 30, entry);
  EXPECT_EQ(entry.idPrinter, 9);
  EXPECT_EQ(entry.idUser, 30);
}

TEST_P(ReferenceCacheTest, PipeUpdateWithActionZeroHidesThePrinterRule) {
  AddRule(7, 12, 5);
  AddRule(7, -1, 3);
  ASSERT_EQ(service->LoadPermissionTable(), 1);
  PERMISSION_ENTRY update = {12, 7, 0};
  service->SetPermission(&update);
  EXPECT_EQ(Action(7, 12), 0);
  EXPECT_EQ(Action(7, 13), 3);
  EXPECT_EQ(service->mapPermissions.RulesFor(7), 2u);
  service->SetPermission(nullptr);   // ignored
}

TEST_P(ReferenceCacheTest, LoadsStopAtAnErrorKeepingWhatWasRead) {
  AddRule(1, 1, 2);
  AddRule(2, 2, 3);
  db->WidenColumn("PRNPERMISSIONS", "Action");
  AddRule(3, 3, 0);
  db->Exec("UPDATE PRNPERMISSIONS SET Action = 5000000000 WHERE idPrinter = 3");
  EXPECT_EQ(service->LoadPermissionTable(), 0);
  EXPECT_EQ(Action(1, 1), 2);
  EXPECT_EQ(Action(2, 2), 3);
  EXPECT_EQ(service->mapPermissions.RulesFor(3), 0u);

  db->Exec("INSERT INTO PRINTERS (PrnName) VALUES ('first'), ('second')");
  db->Exec("INSERT INTO USERS (UserName) VALUES ('ann'), ('bob')");
  db->WidenColumn("PRINTERS", "idPrinter");
  db->WidenColumn("USERS", "idUser");
  db->Exec("INSERT INTO PRINTERS (idPrinter, PrnName) VALUES (5000000000, 'huge')");
  db->Exec("INSERT INTO USERS (idUser, UserName) VALUES (5000000000, 'huge')");
  EXPECT_EQ(service->LoadPrinterTable(), 0);
  EXPECT_EQ(service->LoadUserTable(), 0);
  EXPECT_EQ(service->mapPrinters.Size(), 2u);
  EXPECT_EQ(service->mapUsers.Size(), 2u);
  int32_t id = 0;
  EXPECT_TRUE(service->mapPrinters.Find("second", id));
  EXPECT_EQ(id, 2);
  EXPECT_FALSE(service->mapUsers.Find("huge", id));

  db->Exec("DROP TABLE PRNPERMISSIONS");
  EXPECT_EQ(service->LoadPermissionTable(), 0);
  EXPECT_EQ(Action(1, 1), 2);   // entries already held stay
}

TEST_P(ReferenceCacheTest, AddUserAppendsAndCachesTheNewId) {
  db->Exec("INSERT INTO USERS (UserName) VALUES ('ann')");
  ASSERT_EQ(service->LoadUserTable(), 1);
  int32_t id = -1;
  // Another spelling of a known user is another user.
  ASSERT_EQ(service->AddUser("ANN", id), 1);
  EXPECT_EQ(id, 2);
  ASSERT_EQ(service->AddUser("O'Brien", id), 1);
  EXPECT_EQ(id, 3);
  int32_t found = 0;
  ASSERT_TRUE(service->mapUsers.Find("O'Brien", found));
  EXPECT_EQ(found, 3);
  EXPECT_EQ(db->Count("USERS", "UserName = 'O''Brien'"), 1);

  // Over-long names are cut to the field: stored, cached and found alike.
  std::string longName(300, 'x');
  ASSERT_EQ(service->AddUser(longName.c_str(), id), 1);
  EXPECT_EQ(id, 4);
  EXPECT_EQ(db->QueryTexts("SELECT UserName FROM USERS WHERE idUser = 4"),
            std::vector<std::string>{std::string(254, 'x')});
  ASSERT_TRUE(service->mapUsers.Find(longName.c_str(), found));
  EXPECT_EQ(found, 4);
  ASSERT_TRUE(service->mapUsers.Find(std::string(254, 'x').c_str(), found));
  EXPECT_EQ(service->AddUser(nullptr, id), 0);
}

TEST_P(ReferenceCacheTest, AddUserWithoutAnIdBackKeepsTheCallersValue) {
  db->SkipInserts("USERS");
  int32_t id = 77;
  EXPECT_EQ(service->AddUser("ghost", id), 1);
  EXPECT_EQ(id, 77);
  EXPECT_EQ(service->mapUsers.Size(), 0u);
  EXPECT_EQ(db->Count("USERS"), 0);
}

TEST_P(ReferenceCacheTest, AddUserThatFailsReturnsZeroAndChangesNothing) {
  db->FailInserts("USERS");
  int32_t id = 77;
  EXPECT_EQ(service->AddUser("refused", id), 0);
  EXPECT_EQ(id, 77);
  EXPECT_EQ(service->mapUsers.Size(), 0u);
  service->pConnection.Release();
  EXPECT_EQ(service->AddUser("nobody", id), 0);
  EXPECT_EQ(service->LoadUserTable(), 0);
}

INSTANTIATE_FOR_BOTH_DATABASES(ReferenceCacheTest);

// A database created before names became unique keys may hold a name twice.
class ReferenceCacheOnOldSchemaTest : public ReferenceCacheTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::WithoutUniqueKeys; }
};

TEST_P(ReferenceCacheOnOldSchemaTest, PrinterLoadKeepsTheLaterDuplicateAndSeparatesCase) {
  db->Exec("INSERT INTO PRINTERS (PrnName) VALUES ('Laser'), ('laser'), ('Laser')");
  service->mapPrinters.Store("stale", 99);
  ASSERT_EQ(service->LoadPrinterTable(), 1);
  EXPECT_EQ(service->mapPrinters.Size(), 2u);   // emptied first
  int32_t id = 0;
  ASSERT_TRUE(service->mapPrinters.Find("Laser", id));
  EXPECT_EQ(id, 3);
  ASSERT_TRUE(service->mapPrinters.Find("laser", id));
  EXPECT_EQ(id, 2);
  EXPECT_FALSE(service->mapPrinters.Find("LASER", id));
  EXPECT_FALSE(service->mapPrinters.Find("stale", id));

  db->Exec("INSERT INTO USERS (UserName) VALUES ('O''Brien')");
  ASSERT_EQ(service->LoadUserTable(), 1);
  ASSERT_TRUE(service->mapUsers.Find("O'Brien", id));
  EXPECT_EQ(id, 1);
}

INSTANTIATE_FOR_BOTH_DATABASES(ReferenceCacheOnOldSchemaTest);

}  // namespace
