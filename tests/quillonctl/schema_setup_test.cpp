// What `setup` does to a database: the schema files as compiled into the
// program, a database brought up to them, and the tables it refuses to
// touch. Each case runs on SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "database/schema_plan.h"
#include "database/schema_setup.h"
#include "database/schema_text.h"
#include "db_test_support.h"

namespace {

std::vector<std::string> Names(const std::vector<SCHEMA_OBJECT>& objects) {
  std::vector<std::string> names;
  for (const SCHEMA_OBJECT& object : objects) names.push_back(object.name);
  return names;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& text : texts) all += text + "\n";
  return all;
}

const SCHEMA_FILE* FileNamed(const char* pszStem) {
  for (size_t i = 0; i < kSchemaFileCount; ++i) {
    if (std::string(kSchemaFiles[i].pszStem) == pszStem) return &kSchemaFiles[i];
  }
  return nullptr;
}

TEST(SchemaFilesTest, BothFilesCreateTheSameTablesWithTheSameColumnsAndKeys) {
  const SCHEMA_FILE* pSqlite = FileNamed("sqlite");
  const SCHEMA_FILE* pPostgres = FileNamed("postgresql");
  ASSERT_TRUE(pSqlite && pPostgres) << kSchemaFileCount << " files compiled in";
  const std::vector<SCHEMA_OBJECT> sqlite = ParseSchema(pSqlite->pszText);
  const std::vector<SCHEMA_OBJECT> postgres = ParseSchema(pPostgres->pszText);
  ASSERT_EQ(Names(sqlite), Names(postgres));
  EXPECT_EQ(Joined(Names(sqlite)),
            "PRINTERS\nUX_PRINTERS_PrnName\nUSERS\nUX_USERS_UserName\nCOMPUTERS\n"
            "UX_COMPUTERS_CompName\nPRNPERMISSIONS\nPRNUSERS\nUX_PRNUSERS_Pair\nPRNCOMPS\n"
            "UX_PRNCOMPS_Pair\nPRNDATA\nIX_PRNDATA_Submitted\nJOURNALKEYS\nQUOTAS\nUX_QUOTAS_Key\n"
            "QUOTARESETS\nIX_QUOTARESETS_User\n");
  for (size_t i = 0; i < sqlite.size(); ++i) {
    EXPECT_EQ(Joined(sqlite[i].columns), Joined(postgres[i].columns)) << sqlite[i].name;
    EXPECT_EQ(sqlite[i].table, postgres[i].table) << sqlite[i].name;
  }
  // The columns the record classes bind lie inside every table's columns.
  for (const SCHEMA_OBJECT& object : sqlite) {
    for (unsigned long n : BoundColumns(object.name)) {
      EXPECT_LE(n, object.columns.size()) << object.name;
    }
  }
  EXPECT_EQ(Joined(sqlite[11].columns),
            "idPrnData\nidPrinter\nidUser\nidComp\nDocName\nPages\nJobSize\nSubmitted\n"
            "PaperSize\nPaperLength\nPaperWidth\nColor\nDuplex\n");
}

TEST(SchemaFilesTest, AStatementOfAnotherKindIsRefusedNotSkipped) {
  EXPECT_THROW(ParseSchema("CREATE TABLE T (a INTEGER);\nDROP TABLE T;"),
               std::invalid_argument);
  const auto objects = ParseSchema(
      "-- a comment; with a semicolon\nCREATE TABLE T (a INTEGER, b VARCHAR(4), "
      "PRIMARY KEY (a, b));\nCREATE UNIQUE INDEX IF NOT EXISTS UX_T ON T (b);");
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(Joined(objects[0].columns), "a\nb\n") << "a table constraint is no column";
  EXPECT_EQ(objects[1].table, "T");
}

TEST(SchemaFilesTest, TheDbmsNameChoosesTheFile) {
  ASSERT_NE(SchemaForDbms(L"SQLite"), nullptr);
  EXPECT_STREQ(SchemaForDbms(L"SQLite")->pszStem, "sqlite");
  EXPECT_STREQ(SchemaForDbms(L"PostgreSQL")->pszStem, "postgresql");
  EXPECT_EQ(SchemaForDbms(L"Microsoft SQL Server"), nullptr);
}

class EmptyDatabaseTest : public DatabaseTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::None; }
};

TEST_P(EmptyDatabaseTest, AnEmptyDatabaseGetsTheWholeSchemaAndThenNothingIsMissing) {
  SCHEMA_PLAN plan = PlanSchema(conn);
  EXPECT_EQ(plan.missing.size(), 18u) << Joined(Names(plan.missing));
  EXPECT_TRUE(plan.problems.empty()) << Joined(plan.problems);
  CreateSchemaObjects(conn, plan.missing);
  plan = PlanSchema(conn);
  EXPECT_TRUE(plan.missing.empty()) << Joined(Names(plan.missing));
  // The unique keys are there: a second row of a name is refused.
  db->Exec("INSERT INTO USERS (UserName) VALUES ('ann')");
  EXPECT_THROW(db->Exec("INSERT INTO USERS (UserName) VALUES ('ann')"), std::runtime_error);
  EXPECT_EQ(db->Count("JOURNALKEYS"), 0);
}

TEST_P(EmptyDatabaseTest, ATableWithoutAColumnTheServiceBindsIsNamedAndNothingIsCreated) {
  // PRNDATA made by hand without its Color column: Duplex moves to 12.
  db->Exec("CREATE TABLE PRNDATA (idPrnData INTEGER PRIMARY KEY, idPrinter INTEGER, "
           "idUser INTEGER, idComp INTEGER, DocName VARCHAR(254), Pages INTEGER, "
           "JobSize INTEGER, Submitted INTEGER, PaperSize SMALLINT, PaperLength SMALLINT, "
           "PaperWidth SMALLINT, Duplex SMALLINT)");
  const SCHEMA_PLAN plan = PlanSchema(conn);
  const std::string problems = Joined(plan.problems);
  EXPECT_NE(problems.find("PRNDATA: column 12 is Duplex where the service expects Color"),
            std::string::npos)
      << problems;
  EXPECT_NE(problems.find("PRNDATA: column 13 (Duplex) is missing"), std::string::npos)
      << problems;
  EXPECT_EQ(plan.problems.size(), 2u) << problems;
}

TEST_P(EmptyDatabaseTest, ATableTheServiceReadsAsItIsPassesWhateverItsUnboundColumnsAreNamed) {
  db->Exec("CREATE TABLE PRNPERMISSIONS (anything INTEGER, idPrinter INTEGER, idUser INTEGER, "
           "Action INTEGER)");
  const SCHEMA_PLAN plan = PlanSchema(conn);
  EXPECT_TRUE(plan.problems.empty()) << Joined(plan.problems);
  EXPECT_EQ(plan.missing.size(), 17u) << Joined(Names(plan.missing));
}

INSTANTIATE_FOR_BOTH_DATABASES(EmptyDatabaseTest);

class OldSchemaSetupTest : public DatabaseTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::WithoutUniqueKeys; }
};

TEST_P(OldSchemaSetupTest, TheKeysAreAddedAllOrNone) {
  SCHEMA_PLAN plan = PlanSchema(conn);
  EXPECT_EQ(Joined(Names(plan.missing)),
            "UX_PRINTERS_PrnName\nUX_USERS_UserName\nUX_COMPUTERS_CompName\nUX_PRNUSERS_Pair\n"
            "UX_PRNCOMPS_Pair\nUX_QUOTAS_Key\n");
  // A name held twice refuses its key; the key made before it goes too.
  db->Exec("INSERT INTO USERS (UserName) VALUES ('ann')");
  db->Exec("INSERT INTO USERS (UserName) VALUES ('ann')");
  EXPECT_THROW(CreateSchemaObjects(conn, plan.missing), _com_error);
  EXPECT_EQ(PlanSchema(conn).missing.size(), 6u) << "UX_PRINTERS_PrnName was kept";
  db->Exec("DELETE FROM USERS WHERE idUser = (SELECT MAX(idUser) FROM USERS)");
  CreateSchemaObjects(conn, plan.missing);
  EXPECT_TRUE(PlanSchema(conn).missing.empty());
}

INSTANTIATE_FOR_BOTH_DATABASES(OldSchemaSetupTest);

}  // namespace
