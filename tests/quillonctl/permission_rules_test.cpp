// Rules by name: names resolve to the ids the service uses, new names are
// registered as the service registers them, and a rule replaces the rule
// of its pair. Each case runs on SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "database/permission_rules.h"
#include "database/reference_caches.h"
#include "database/reference_tables.h"
#include "db_test_support.h"

namespace {

class PermissionRulesTest : public DatabaseTest {};

// The rules as "printer/user=action;", sorted.
std::string Listed(const ConnectionPtr& conn) {
  std::vector<std::string> rules;
  for (const NAMED_RULE& rule : ListRules(conn)) {
    rules.push_back((rule.entry.idPrinter == -1 ? "any" : rule.printer) + "/" +
                    (rule.entry.idUser == -1 ? "any" : rule.user) + "=" +
                    std::to_string(rule.entry.Action) + ";");
  }
  std::sort(rules.begin(), rules.end());
  std::string all;
  for (const std::string& rule : rules) all += rule;
  return all;
}

TEST_P(PermissionRulesTest, NewNamesAreRegisteredAndKnownOnesKeepTheirIds) {
  db->Exec("INSERT INTO USERS (UserName) VALUES ('ann')");
  const int32_t idAnn = static_cast<int32_t>(db->QueryInt("SELECT idUser FROM USERS"));
  EXPECT_EQ(ResolveUser(conn, "ann", true), idAnn);
  EXPECT_EQ(ResolvePrinter(conn, "Laser 2", false), -1) << "not registered without asking";
  EXPECT_EQ(db->Count("PRINTERS"), 0);
  const int32_t idPrinter = ResolvePrinter(conn, "Laser 2", true);
  EXPECT_EQ(idPrinter, db->QueryInt("SELECT idPrinter FROM PRINTERS WHERE PrnName = 'Laser 2'"));
  const int32_t idBob = ResolveUser(conn, "bob", true);
  EXPECT_EQ(idBob, db->QueryInt("SELECT idUser FROM USERS WHERE UserName = 'bob'"));
  EXPECT_EQ(ResolveUser(conn, "bob", true), idBob) << "registered once";
  EXPECT_EQ(db->Count("USERS"), 2);
  // What the service loads at start finds the same ids.
  CNameIdMap users(254);
  ASSERT_EQ(LoadUserRows(conn, users), 1);
  int32_t idLoaded = -1;
  EXPECT_TRUE(users.Find("bob", idLoaded));
  EXPECT_EQ(idLoaded, idBob);
}

TEST_P(PermissionRulesTest, ARuleReplacesTheRuleOfItsPairAndLeavesTheOthers) {
  const int32_t idPrinter = ResolvePrinter(conn, "Laser 2", true);
  const int32_t idAnn = ResolveUser(conn, "ann", true);
  EXPECT_EQ(StoreRule(conn, {idAnn, idPrinter, 1}), 0u);
  EXPECT_EQ(StoreRule(conn, {-1, idPrinter, 5}), 0u);
  EXPECT_EQ(StoreRule(conn, {-1, -1, 3}), 0u);
  EXPECT_EQ(StoreRule(conn, {idAnn, idPrinter, 2}), 1u);
  EXPECT_EQ(Listed(conn), "Laser 2/ann=2;Laser 2/any=5;any/any=3;");
  EXPECT_EQ(DeleteRules(conn, idPrinter, -1), 1u);
  EXPECT_EQ(DeleteRules(conn, idPrinter, -1), 0u);
  EXPECT_EQ(Listed(conn), "Laser 2/ann=2;any/any=3;");
}

TEST_P(PermissionRulesTest, ARuleWhoseIdsHaveNoRowShowsNoName) {
  db->Exec("INSERT INTO PRNPERMISSIONS (idPrinter, idUser, Action) VALUES (77, 78, 1)");
  const auto rules = ListRules(conn);
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].printer, "");
  EXPECT_EQ(rules[0].user, "");
  EXPECT_EQ(rules[0].entry.idPrinter, 77);
}

INSTANTIATE_FOR_BOTH_DATABASES(PermissionRulesTest);

// A database made before names became unique keys may hold a name twice:
// the service loads both rows and keeps the later one's id, so a rule must
// name that id to reach its jobs.
class PermissionRulesOldSchemaTest : public DatabaseTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::WithoutUniqueKeys; }
};

TEST_P(PermissionRulesOldSchemaTest, ANameHeldTwiceResolvesToTheIdTheServiceLoads) {
  db->Exec("INSERT INTO PRINTERS (PrnName) VALUES ('Laser 2')");
  db->Exec("INSERT INTO PRINTERS (PrnName) VALUES ('Laser 2')");
  CNameIdMap printers(254);
  ASSERT_EQ(LoadPrinterRows(conn, printers), 1);
  int32_t idService = -1;
  ASSERT_TRUE(printers.Find("Laser 2", idService));
  EXPECT_EQ(ResolvePrinter(conn, "Laser 2", true), idService);
  EXPECT_EQ(db->Count("PRINTERS"), 2) << "nothing registered";
}

INSTANTIATE_FOR_BOTH_DATABASES(PermissionRulesOldSchemaTest);

}  // namespace
