// A fresh database per test, on SQLite (a file) or PostgreSQL (a schema of
// the database that QUILLON_TEST_PG_DSN names), created from the service's
// schema file, plus plain SQL helpers for setting up and checking tables.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "database/connection.h"
#include "database/reference_caches.h"

enum class Backend { SQLite, PostgreSQL };

// The service's schema as it is, or as databases were created before names
// and pairs became unique keys (the same tables with plain indexes), or
// none: an empty database, as an administrator starts with.
enum class Schema { Current, WithoutUniqueKeys, None };

class CTestDatabase {
 public:
  explicit CTestDatabase(Backend backend, Schema schema = Schema::Current);
  ~CTestDatabase();

  // Empty when the backend can be used here, else why not.
  static std::string Unavailable(Backend backend);

  Backend Kind() const { return m_backend; }
  // A new, open connection to this test's database.
  ConnectionPtr Connect() const;
  // The ODBC connection string of this test's database, for other programs.
  const std::string& ConnectionString() const { return m_dsn; }

  // Runs statements on the helper's own connection.
  void Exec(const std::string& sql) const;
  int64_t QueryInt(const std::string& sql) const;
  std::vector<std::string> QueryTexts(const std::string& sql) const;
  int64_t Count(const std::string& table, const std::string& where = "") const;
  // Makes a column able to hold values beyond 32 bits, for overflow cases.
  void WidenColumn(const std::string& table, const std::string& column) const;
  // Makes every insert into the table do nothing, so that no row comes back.
  void SkipInserts(const std::string& table) const;
  // Makes the table's next generated id the one after nLast.
  void StartIdsAfter(const std::string& table, const std::string& idColumn,
                     int64_t nLast) const;
  // Makes every insert into the table fail.
  void FailInserts(const std::string& table) const;

 private:
  Backend m_backend;
  std::string m_dsn;
  std::string m_file;     // SQLite
  std::string m_schema;   // PostgreSQL
  ConnectionPtr m_helper;
};

// The statements of the service's schema file for the backend (read from
// QUILLON_SCHEMA_DIR), one per ";" at a line end.
std::vector<std::string> SchemaStatements(Backend backend, Schema schema = Schema::Current);

// An SQL text literal, quotes doubled.
std::string SqlText(const std::string& text);

// The PostgreSQL server process of the connection's session
// (pg_backend_pid), as another session names it to end it.
int64_t BackendPid(const ConnectionPtr& conn);

// Test fixture run once per backend; skips a backend that is not set up.
class DatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  // The schema each test's database is created with.
  virtual Schema SchemaOfTest() const { return Schema::Current; }
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<CTestDatabase> db;
  ConnectionPtr conn;
  // The registration and link caches of a service, empty at each test.
  CRegistrationCaches caches;
};

std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

#define INSTANTIATE_FOR_BOTH_DATABASES(suite)                              \
  INSTANTIATE_TEST_SUITE_P(Db, suite,                                      \
                           ::testing::Values(Backend::SQLite,              \
                                             Backend::PostgreSQL),         \
                           BackendName)
