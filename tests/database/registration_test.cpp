// Computers and printers found or appended by name, with their caches.
#include <gtest/gtest.h>

#include <string>

#include "database/registration.h"
#include "db_test_support.h"

namespace {

class RegistrationTest : public DatabaseTest {};

TEST_P(RegistrationTest, AppendsOnFirstSightThenAnswersFromTheCache) {
  const std::string name = "pc";
  int32_t id = 0;
  ASSERT_EQ(RegisterComputer(conn, caches, name.c_str(), id, 1), 0);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(db->Count("COMPUTERS", "CompName = " + SqlText(name)), 1);

  // No connection at all: only the cache can answer.
  int32_t again = 0;
  EXPECT_EQ(RegisterComputer(ConnectionPtr(), caches, name.c_str(), again, 1), 0);
  EXPECT_EQ(again, 1);

  const std::string printer = "Laser 'North'";
  ASSERT_EQ(RegisterPrinter(conn, caches, printer.c_str(), id, 1), 0);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(RegisterPrinter(ConnectionPtr(), caches, printer.c_str(), again, 1), 0);
  EXPECT_EQ(again, 1);
  EXPECT_EQ(db->Count("PRINTERS"), 1);
}

TEST_P(RegistrationTest, WithoutInsertAnUnknownNameGivesMinusOneAndIsAskedAgain) {
  const std::string name = "later";
  int32_t id = 0;
  ASSERT_EQ(RegisterComputer(conn, caches, name.c_str(), id, 0), 0);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(db->Count("COMPUTERS"), 0);
  // A cached -1 counts as absent: the next call looks again and appends.
  ASSERT_EQ(RegisterComputer(conn, caches, name.c_str(), id, 1), 0);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(RegisterComputer(ConnectionPtr(), caches, name.c_str(), id, 1), 0);
  EXPECT_EQ(id, 1);
}

TEST_P(RegistrationTest, NamesDifferingInCaseAreDifferentKeys) {
  const std::string lower = "ws-a";
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  int32_t idLower = 0, idUpper = 0;
  ASSERT_EQ(RegisterComputer(conn, caches, lower.c_str(), idLower, 1), 0);
  ASSERT_EQ(RegisterComputer(conn, caches, upper.c_str(), idUpper, 1), 0);
  // Both databases compare these texts case-sensitively.
  EXPECT_NE(idLower, idUpper);
  EXPECT_EQ(db->Count("COMPUTERS"), 2);
}

TEST_P(RegistrationTest, OverLongNamesAreCutToTheFieldEverywhere) {
  const std::string longPc = std::string(40, 'c');
  int32_t id = 0, other = 0;
  ASSERT_EQ(RegisterComputer(conn, caches, longPc.c_str(), id, 1), 0);
  EXPECT_GT(id, 0);
  const std::string cut = longPc.substr(0, 19);
  EXPECT_EQ(db->QueryTexts("SELECT CompName FROM COMPUTERS"), std::vector<std::string>{cut});
  // Same first 19 bytes: the same computer, from the cache.
  ASSERT_EQ(RegisterComputer(ConnectionPtr(), caches, (cut + "zzz").c_str(), other, 1), 0);
  EXPECT_EQ(other, id);

  const std::string longPrinter = std::string(300, 'p');
  ASSERT_EQ(RegisterPrinter(conn, caches, longPrinter.c_str(), id, 1), 0);
  EXPECT_EQ(db->QueryInt("SELECT LENGTH(PrnName) FROM PRINTERS"), 254);
  EXPECT_EQ(RegisterPrinter(ConnectionPtr(), caches, longPrinter.substr(0, 254).c_str(), other, 1), 0);
  EXPECT_EQ(other, id);
}

TEST_P(RegistrationTest, FailuresReturnTheirHresultAndCacheNothing) {
  const std::string name = "flaky";
  int32_t id = 0;
  EXPECT_EQ(RegisterComputer(ConnectionPtr(), caches, name.c_str(), id, 1), E_POINTER);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(RegisterComputer(conn, caches, nullptr, id, 1), E_POINTER);

  db->FailInserts("COMPUTERS");
  EXPECT_LT(RegisterComputer(conn, caches, name.c_str(), id, 1), 0);
  EXPECT_EQ(id, -1);
  db->Exec("DROP TABLE PRINTERS");
  EXPECT_EQ(RegisterPrinter(conn, caches, name.c_str(), id, 1), E_FAIL);
  EXPECT_EQ(id, -1);

  // Nothing was cached: with the table usable again the name is appended.
  db->Exec(db->Kind() == Backend::SQLite ? "DROP TRIGGER fail_COMPUTERS"
                                         : "DROP TRIGGER fail_COMPUTERS ON COMPUTERS");
  ASSERT_EQ(RegisterComputer(conn, caches, name.c_str(), id, 1), 0);
  // (PostgreSQL spends an id on the refused append.)
  EXPECT_EQ(db->QueryInt("SELECT idComp FROM COMPUTERS WHERE CompName = " + SqlText(name)), id);
  EXPECT_EQ(db->Count("COMPUTERS"), 1);
}

TEST_P(RegistrationTest, AnAppendWithoutAnIdBackLeavesMinusOne) {
  db->SkipInserts("PRINTERS");
  const std::string name = "vanishing";
  int32_t id = 0;
  ASSERT_EQ(RegisterPrinter(conn, caches, name.c_str(), id, 1), 0);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(db->Count("PRINTERS"), 0);
}

INSTANTIATE_FOR_BOTH_DATABASES(RegistrationTest);

// A database created before names became unique keys may hold a name twice.
class RegistrationOnOldSchemaTest : public RegistrationTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::WithoutUniqueKeys; }
};

TEST_P(RegistrationOnOldSchemaTest, FindsExistingRowsIncludingNamesWithQuotes) {
  const std::string quoted = "O'Brien's printer";
  db->Exec("INSERT INTO PRINTERS (PrnName) VALUES ('other'), (" + SqlText(quoted) +
           "), (" + SqlText(quoted) + ")");
  int32_t id = 0;
  ASSERT_EQ(RegisterPrinter(conn, caches, quoted.c_str(), id, 1), 0);
  EXPECT_EQ(id, 2);   // the first of the two rows
  EXPECT_EQ(db->Count("PRINTERS"), 3);

  // A name that would end a quoted literal early is only a name.
  const std::string sneaky = "x' OR '1'='1";
  ASSERT_EQ(RegisterPrinter(conn, caches, sneaky.c_str(), id, 0), 0);
  EXPECT_EQ(id, -1);
}

INSTANTIATE_FOR_BOTH_DATABASES(RegistrationOnOldSchemaTest);

}  // namespace
