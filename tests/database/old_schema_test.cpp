// A database created before names and pairs became unique keys (the same
// tables with plain indexes) keeps working as before: a name or pair that
// another service appends in between is simply held twice, and a user not
// in the service's map gets a further row.
#include <gtest/gtest.h>

#include <string>

#include "database/append_seam.h"
#include "database/printer_links.h"
#include "database/registration.h"
#include "db_test_support.h"
#include "service_core/quillon_service.h"

namespace {

class OldSchemaTest : public DatabaseTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::WithoutUniqueKeys; }
};

// Before each append, another service appends the same name or pair.
struct OTHER_SERVICE {
  const CTestDatabase* pDb;
  std::string failure;
};

void AppendTheSameFirst(void* pContext, const char* pszTable) {
  auto* other = static_cast<OTHER_SERVICE*>(pContext);
  const std::string table = pszTable;
  try {
    if (table == "COMPUTERS") {
      other->pDb->Exec("INSERT INTO COMPUTERS (CompName) VALUES ('ws-old')");
    } else if (table == "USERS") {
      other->pDb->Exec("INSERT INTO USERS (UserName) VALUES ('ann')");
    } else if (table == "PRNUSERS") {
      other->pDb->Exec("INSERT INTO PRNUSERS (idPrinter, idUser) VALUES (3, 12)");
    }
  } catch (const std::exception& e) {
    other->failure = e.what();
  }
}

TEST_P(OldSchemaTest, AppendsThatMeetAnotherServicesRowAddASecondOne) {
  OTHER_SERVICE other{db.get(), ""};
  SetBeforeAppendSeam(&AppendTheSameFirst, &other);
  int32_t idComp = 0;
  const int hrComp = RegisterComputer(conn, caches, "ws-old", idComp, 1);
  const int hrLink = EnsurePrinterUser(conn, caches, 3, 12);
  CQuillonService service;
  service.pConnection = conn;
  int32_t idUser = -1;
  const int nUser = service.AddUser("ann", idUser);
  SetBeforeAppendSeam(nullptr, nullptr);
  ASSERT_EQ(other.failure, "");

  EXPECT_EQ(hrComp, 0);
  EXPECT_EQ(idComp, db->QueryInt("SELECT MAX(idComp) FROM COMPUTERS")) << "its own row";
  EXPECT_EQ(db->Count("COMPUTERS", "CompName = 'ws-old'"), 2);
  EXPECT_EQ(hrLink, 0);
  EXPECT_EQ(db->Count("PRNUSERS"), 2);
  EXPECT_EQ(nUser, 1);
  EXPECT_EQ(idUser, db->QueryInt("SELECT MAX(idUser) FROM USERS"));
  EXPECT_EQ(db->Count("USERS", "UserName = 'ann'"), 2);
}

TEST_P(OldSchemaTest, ANameHeldTwiceIsFoundAndAnUnmappedUserAppendedAgain) {
  db->Exec("INSERT INTO PRINTERS (PrnName) VALUES ('Laser'), ('Laser')");
  db->Exec("INSERT INTO USERS (UserName) VALUES ('bob')");
  int32_t id = 0;
  ASSERT_EQ(RegisterPrinter(conn, caches, "Laser", id, 1), 0);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(db->Count("PRINTERS"), 2);

  CQuillonService service;
  service.pConnection = conn;
  int32_t idUser = -1;
  ASSERT_EQ(service.AddUser("bob", idUser), 1);
  EXPECT_EQ(idUser, 2);
  EXPECT_EQ(db->Count("USERS", "UserName = 'bob'"), 2);
}

INSTANTIATE_FOR_BOTH_DATABASES(OldSchemaTest);

}  // namespace
