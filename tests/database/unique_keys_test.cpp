// Names and pairs as unique keys: the schema refuses a second row, and a
// registration, user append or link whose append meets another service's
// row uses that row. Another service is played through the append seam: it
// appends the same key, on a connection of its own, between this service's
// lookup and its append.
#include <windows.h>
#include <oledberr.h>
#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "database/append_seam.h"
#include "database/com_errors.h"
#include "database/printer_links.h"
#include "database/record_classes.h"
#include "database/recordset.h"
#include "database/registration.h"
#include "db_test_support.h"
#include "service_core/quillon_service.h"

namespace {

// While it lives, the first append to its table is preceded by the other
// service's statement.
class CAnotherService {
 public:
  CAnotherService(const CTestDatabase& db, const std::string& table, const std::string& sql)
      : m_db(db), m_table(table), m_sql(sql) {
    SetBeforeAppendSeam(&CAnotherService::BeforeAppend, this);
  }
  ~CAnotherService() { SetBeforeAppendSeam(nullptr, nullptr); }
  CAnotherService(const CAnotherService&) = delete;
  CAnotherService& operator=(const CAnotherService&) = delete;

  // How often it appended, and why it could not.
  int Appends() const { return m_nAppends; }
  const std::string& Failure() const { return m_failure; }

 private:
  static void BeforeAppend(void* pContext, const char* pszTable) {
    auto* self = static_cast<CAnotherService*>(pContext);
    if (self->m_table != pszTable || self->m_nAppends > 0) return;
    try {
      self->m_db.Exec(self->m_sql);
      ++self->m_nAppends;
    } catch (const std::exception& e) {
      self->m_failure = e.what();
    }
  }

  const CTestDatabase& m_db;
  const std::string m_table;
  const std::string m_sql;
  int m_nAppends = 0;
  std::string m_failure;
};

class UniqueKeysTest : public DatabaseTest {
 protected:
  // Appends the record to the table through the data layer; the error, if any.
  HRESULT Append(const char* pszTable, CADORecordBinding& record, std::string* pText) {
    try {
      PrepareForAppend(record);
      CRecordset rs;
      rs.Open(pszTable, conn);
      rs.AddNew(&record);
      return S_OK;
    } catch (const _com_error& e) {
      if (pText) *pText = ComErrorDescription(e);
      return e.Error();
    }
  }
};

TEST_P(UniqueKeysTest, TheSchemaRefusesASecondRowForANameOrPair) {
  struct KEY {
    const char* pszTable;
    const char* pszName;   // null for the pair tables
  };
  for (const KEY& key : {KEY{"PRINTERS", "laser"}, KEY{"USERS", "ann"}, KEY{"COMPUTERS", "ws-1"},
                         KEY{"PRNUSERS", nullptr}, KEY{"PRNCOMPS", nullptr}}) {
    SCOPED_TRACE(key.pszTable);
    HRESULT hrFirst = S_OK, hrSecond = S_OK, hrOtherCase = S_OK;
    std::string text;
    if (key.pszName) {
      CPrinterRecord record;   // the three name tables share the layout
      std::strcpy(record.szPrnName, key.pszName);
      hrFirst = Append(key.pszTable, record, nullptr);
      hrSecond = Append(key.pszTable, record, &text);
      // Keys compare case-sensitively, as the service's caches do.
      record.szPrnName[0] = static_cast<char>(toupper(record.szPrnName[0]));
      hrOtherCase = Append(key.pszTable, record, nullptr);
    } else {
      CPrinterLinkRecord record;
      record.lIdPrinter = 3;
      record.lIdMember = 12;
      hrFirst = Append(key.pszTable, record, nullptr);
      hrSecond = Append(key.pszTable, record, &text);
      record.lIdMember = 13;
      hrOtherCase = Append(key.pszTable, record, nullptr);
    }
    EXPECT_EQ(hrFirst, S_OK);
    EXPECT_EQ(hrSecond, DB_E_INTEGRITYVIOLATION) << text;
    EXPECT_EQ(hrOtherCase, S_OK);
    EXPECT_EQ(db->Count(key.pszTable), 2);
    // The drivers' words for it, kept in the test's report.
    RecordProperty(std::string(key.pszTable) + "_refusal", text);
    // The refusal leaves the connection usable.
    CPrnDataRecord row;
    std::string after;
    EXPECT_EQ(Append("PRNDATA", row, &after), S_OK) << after;
  }
}

TEST_P(UniqueKeysTest, ARegistrationThatMeetsAnotherServicesRowTakesItsId) {
  db->StartIdsAfter("COMPUTERS", "idComp", 40);
  int32_t id = 0;
  {
    CAnotherService other(*db, "COMPUTERS", "INSERT INTO COMPUTERS (CompName) VALUES ('ws-race')");
    ASSERT_EQ(RegisterComputer(conn, caches, "ws-race", id, 1), 0);
    ASSERT_EQ(other.Appends(), 1) << other.Failure();
  }
  EXPECT_EQ(id, 41);
  EXPECT_EQ(db->Count("COMPUTERS"), 1);
  // Cached: no connection is needed for it any more.
  int32_t again = 0;
  EXPECT_EQ(RegisterComputer(ConnectionPtr(), caches, "ws-race", again, 1), 0);
  EXPECT_EQ(again, 41);

  db->StartIdsAfter("PRINTERS", "idPrinter", 70);
  {
    CAnotherService other(*db, "PRINTERS", "INSERT INTO PRINTERS (PrnName) VALUES ('Laser ''7''')");
    ASSERT_EQ(RegisterPrinter(conn, caches, "Laser '7'", id, 1), 0);
    ASSERT_EQ(other.Appends(), 1) << other.Failure();
  }
  EXPECT_EQ(id, 71);
  EXPECT_EQ(db->Count("PRINTERS"), 1);
  EXPECT_EQ(RegisterPrinter(ConnectionPtr(), caches, "Laser '7'", again, 1), 0);
  EXPECT_EQ(again, 71);
}

TEST_P(UniqueKeysTest, ALinkThatMeetsAnotherServicesPairIsCachedNotDoubled) {
  {
    CAnotherService other(*db, "PRNUSERS", "INSERT INTO PRNUSERS (idPrinter, idUser) VALUES (3, 12)");
    ASSERT_EQ(EnsurePrinterUser(conn, caches, 3, 12), 0);
    ASSERT_EQ(other.Appends(), 1) << other.Failure();
  }
  EXPECT_EQ(db->Count("PRNUSERS"), 1);
  EXPECT_EQ(EnsurePrinterUser(ConnectionPtr(), caches, 3, 12), 0) << "the pair is cached";
  {
    CAnotherService other(*db, "PRNCOMPS", "INSERT INTO PRNCOMPS (idPrinter, idComp) VALUES (3, -1)");
    ASSERT_EQ(EnsurePrinterComputer(conn, caches, 3, -1), 0);
    ASSERT_EQ(other.Appends(), 1) << other.Failure();
  }
  EXPECT_EQ(db->Count("PRNCOMPS"), 1);
  EXPECT_EQ(EnsurePrinterComputer(ConnectionPtr(), caches, 3, -1), 0) << "the pair is cached";
}

TEST_P(UniqueKeysTest, AddUserOfANameTheTableHoldsTakesThatRow) {
  CQuillonService service;
  service.pConnection = conn;
  db->StartIdsAfter("USERS", "idUser", 20);
  int32_t id = -1;
  {
    // Another service appends the user after this one loaded its table.
    CAnotherService other(*db, "USERS", "INSERT INTO USERS (UserName) VALUES ('O''Brien')");
    ASSERT_EQ(service.AddUser("O'Brien", id), 1);
    ASSERT_EQ(other.Appends(), 1) << other.Failure();
  }
  EXPECT_EQ(id, 21);
  int32_t cached = -1;
  ASSERT_TRUE(service.mapUsers.Find("O'Brien", cached));
  EXPECT_EQ(cached, 21);
  EXPECT_EQ(db->Count("USERS"), 1);

  // Another spelling is another user: appended, not matched.
  ASSERT_EQ(service.AddUser("o'brien", id), 1);
  EXPECT_GT(id, 21);
  EXPECT_EQ(db->Count("USERS"), 2);
}

// A constraint that refuses one value and leaves no row with it.
void RefuseValue(const CTestDatabase& db, const std::string& table, const std::string& column,
                 const std::string& value) {
  if (db.Kind() == Backend::SQLite) {
    db.Exec("CREATE TRIGGER refuse_" + table + " BEFORE INSERT ON " + table + " WHEN NEW." +
            column + " = " + value + " BEGIN SELECT RAISE(ABORT, 'refused'); END");
  } else {
    db.Exec("ALTER TABLE " + table + " ADD CONSTRAINT refuse_" + table + " CHECK (" + column +
            " <> " + value + ")");
  }
}

TEST_P(UniqueKeysTest, ARefusalThatLeavesNoRowStandsAndCachesNothing) {
  RefuseValue(*db, "COMPUTERS", "CompName", "'ws-no'");
  RefuseValue(*db, "PRNUSERS", "idUser", "66");
  RefuseValue(*db, "USERS", "UserName", "'nobody'");
  int32_t id = 0;
  EXPECT_EQ(RegisterComputer(conn, caches, "ws-no", id, 1), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(EnsurePrinterUser(conn, caches, 3, 66), DB_E_INTEGRITYVIOLATION);
  CQuillonService service;
  service.pConnection = conn;
  int32_t idUser = 77;
  EXPECT_EQ(service.AddUser("nobody", idUser), 0);
  EXPECT_EQ(idUser, 77);
  EXPECT_EQ(service.mapUsers.Size(), 0u);

  // Nothing was taken for known: with the refusal gone the rows are appended.
  db->Exec(db->Kind() == Backend::SQLite ? "DROP TRIGGER refuse_PRNUSERS"
                                         : "ALTER TABLE PRNUSERS DROP CONSTRAINT refuse_PRNUSERS");
  EXPECT_EQ(EnsurePrinterUser(conn, caches, 3, 66), 0);
  EXPECT_EQ(db->Count("PRNUSERS"), 1);
  EXPECT_EQ(db->Count("COMPUTERS"), 0);
}

// The service works in autocommit; a caller that holds a transaction (on
// PostgreSQL: an SQLite file admits one writer, so there the other service
// would wait for this transaction) keeps it through the refusal.
TEST_P(UniqueKeysTest, InsideATransactionTheRefusalLeavesTheTransactionUsable) {
  if (db->Kind() == Backend::SQLite) GTEST_SKIP() << "one writer at a time on an SQLite file";
  SQLHDBC hDbc = conn->Handle();
  SQLUINTEGER nAutocommit = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetConnectAttrW(hDbc, SQL_ATTR_AUTOCOMMIT, &nAutocommit, 0, nullptr)));
  EXPECT_EQ(nAutocommit, static_cast<SQLUINTEGER>(SQL_AUTOCOMMIT_ON)) << "the connection's default";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttrW(
      hDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
  int32_t id = 0;
  {
    CAnotherService other(*db, "PRINTERS", "INSERT INTO PRINTERS (PrnName) VALUES ('shared')");
    ASSERT_EQ(RegisterPrinter(conn, caches, "shared", id, 1), 0);
    ASSERT_EQ(other.Appends(), 1) << other.Failure();
  }
  CPrnDataRecord row;
  row.lIdPrinter = id;
  std::strcpy(row.szDocName, "after the refusal");
  std::string text;
  EXPECT_EQ(Append("PRNDATA", row, &text), S_OK) << text;
  EXPECT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, hDbc, SQL_COMMIT)));
  SQLSetConnectAttrW(hDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  EXPECT_EQ(id, db->QueryInt("SELECT idPrinter FROM PRINTERS WHERE PrnName = 'shared'"));
  EXPECT_EQ(db->Count("PRNDATA", "idPrinter = " + std::to_string(id)), 1);
}

INSTANTIATE_FOR_BOTH_DATABASES(UniqueKeysTest);

}  // namespace
