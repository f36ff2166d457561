#include "db_test_support.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "database/wide_text.h"

namespace {

std::string Env(const char* pszName) {
  const char* psz = std::getenv(pszName);
  return psz ? psz : "";
}

// The unique keys of names and pairs, and what they were before.
constexpr const char kUniqueIndex[] = "CREATE UNIQUE INDEX UX_";
constexpr const char kPlainIndex[] = "CREATE INDEX IX_";
constexpr int kUniqueKeys = 6;

// A statement of the schema with its unique index made a plain one.
std::string WithoutUniqueKey(std::string statement, int* pReplaced) {
  size_t at = statement.find(kUniqueIndex);
  if (at != std::string::npos) {
    statement.replace(at, sizeof(kUniqueIndex) - 1, kPlainIndex);
    ++*pReplaced;
  }
  return statement;
}

int g_nSerial = 0;

std::string ErrorText(const _com_error& e) {
  return ComErrorText(e) + ": " + ComErrorDescription(e);
}

}  // namespace

std::vector<std::string> SchemaStatements(Backend backend, Schema schema) {
  std::string path = Env("QUILLON_SCHEMA_DIR") +
                     (backend == Backend::SQLite ? "/sqlite.sql" : "/postgresql.sql");
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the schema file " + path);
  std::vector<std::string> statements;
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.compare(0, 2, "--") == 0) continue;
    current += line + "\n";
    size_t end = line.find_last_not_of(" \r\t");
    if (end != std::string::npos && line[end] == ';') {
      statements.push_back(current);
      current.clear();
    }
  }
  if (schema == Schema::WithoutUniqueKeys) {
    int nReplaced = 0;
    for (std::string& statement : statements) statement = WithoutUniqueKey(statement, &nReplaced);
    if (nReplaced != kUniqueKeys) {
      throw std::runtime_error(path + ": expected " + std::to_string(kUniqueKeys) +
                               " unique indexes, found " + std::to_string(nReplaced));
    }
  }
  return statements;
}

std::string SqlText(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

int64_t BackendPid(const ConnectionPtr& conn) {
  COdbcStatement stmt(conn->Handle());
  stmt.ExecDirect(L"SELECT pg_backend_pid()");
  EXPECT_TRUE(stmt.Fetch());
  SQLBIGINT pid = 0;
  SQLLEN ind = 0;
  stmt.Check(SQLGetData(stmt.Handle(), 1, SQL_C_SBIGINT, &pid, sizeof(pid), &ind));
  return pid;
}

std::string CTestDatabase::Unavailable(Backend backend) {
  if (Env("QUILLON_SCHEMA_DIR").empty()) return "QUILLON_SCHEMA_DIR is not set";
  if (backend == Backend::PostgreSQL && Env("QUILLON_TEST_PG_DSN").empty()) {
    return "QUILLON_TEST_PG_DSN is not set: the PostgreSQL cases run under "
           "scripts/test, which starts a throw-away cluster (scripts/pg-cluster)";
  }
  return "";
}

CTestDatabase::CTestDatabase(Backend backend, Schema schema) : m_backend(backend) {
  int nSerial = ++g_nSerial;
  std::string tag = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(nSerial);
  if (backend == Backend::SQLite) {
    // The driver is a native library: it takes the host's path.
    m_file = Env("QUILLON_TEST_DB_DIR") + "/t" + tag + ".db";
    m_dsn = "Driver=SQLite3;Database=" + m_file;
  } else {
    m_schema = "qt_" + tag;
    ConnectionPtr admin;
    admin.CreateInstance();
    admin->Open(Env("QUILLON_TEST_PG_DSN").c_str());
    COdbcStatement stmt(admin->Handle());
    stmt.ExecDirect(AnsiToWide("CREATE SCHEMA " + m_schema));
    stmt.Free();
    admin->Close();
    m_dsn = Env("QUILLON_TEST_PG_DSN") + ";ConnSettings={SET search_path TO " +
            m_schema + "}";
  }
  m_helper = Connect();
  if (schema == Schema::None) return;
  for (const std::string& statement : SchemaStatements(backend, schema)) Exec(statement);
}

CTestDatabase::~CTestDatabase() {
  try {
    m_helper.Release();
    if (m_backend == Backend::SQLite) {
      std::string windowsPath = "Z:" + m_file;
      DeleteFileA(windowsPath.c_str());
    } else {
      ConnectionPtr admin;
      admin.CreateInstance();
      admin->Open(Env("QUILLON_TEST_PG_DSN").c_str());
      COdbcStatement stmt(admin->Handle());
      stmt.ExecDirect(AnsiToWide("DROP SCHEMA " + m_schema + " CASCADE"));
      stmt.Free();
      admin->Close();
    }
  } catch (const _com_error&) {
    // A leftover schema or file only costs space in a throw-away place.
  }
}

ConnectionPtr CTestDatabase::Connect() const {
  ConnectionPtr p;
  p.CreateInstance();
  p->Open(m_dsn.c_str());
  return p;
}

void CTestDatabase::Exec(const std::string& sql) const {
  try {
    COdbcStatement stmt(m_helper->Handle());
    stmt.ExecDirect(AnsiToWide(sql));
  } catch (const _com_error& e) {
    throw std::runtime_error("SQL failed: " + sql + " - " + ErrorText(e));
  }
}

int64_t CTestDatabase::QueryInt(const std::string& sql) const {
  try {
    COdbcStatement stmt(m_helper->Handle());
    stmt.ExecDirect(AnsiToWide(sql));
    if (!stmt.Fetch()) throw std::runtime_error("no row: " + sql);
    SQLBIGINT value = 0;
    SQLLEN ind = 0;
    stmt.Check(SQLGetData(stmt.Handle(), 1, SQL_C_SBIGINT, &value, sizeof(value), &ind));
    return ind == SQL_NULL_DATA ? -999999 : value;
  } catch (const _com_error& e) {
    throw std::runtime_error("SQL failed: " + sql + " - " + ErrorText(e));
  }
}

std::vector<std::string> CTestDatabase::QueryTexts(const std::string& sql) const {
  try {
    COdbcStatement stmt(m_helper->Handle());
    stmt.ExecDirect(AnsiToWide(sql));
    std::vector<std::string> texts;
    while (stmt.Fetch()) {
      wchar_t buffer[1024] = {};
      SQLLEN ind = 0;
      stmt.Check(SQLGetData(stmt.Handle(), 1, SQL_C_WCHAR, buffer, sizeof(buffer), &ind));
      texts.push_back(ind == SQL_NULL_DATA ? "<null>" : WideToAnsi(std::wstring(buffer)));
    }
    return texts;
  } catch (const _com_error& e) {
    throw std::runtime_error("SQL failed: " + sql + " - " + ErrorText(e));
  }
}

int64_t CTestDatabase::Count(const std::string& table, const std::string& where) const {
  return QueryInt("SELECT COUNT(*) FROM " + table + (where.empty() ? "" : " WHERE " + where));
}

void CTestDatabase::WidenColumn(const std::string& table, const std::string& column) const {
  // SQLite keeps 64-bit values in any INTEGER column already.
  if (m_backend == Backend::PostgreSQL) {
    Exec("ALTER TABLE " + table + " ALTER COLUMN " + column + " TYPE bigint");
  }
}

void CTestDatabase::SkipInserts(const std::string& table) const {
  if (m_backend == Backend::SQLite) {
    Exec("CREATE TRIGGER skip_" + table + " BEFORE INSERT ON " + table +
         " BEGIN SELECT RAISE(IGNORE); END");
  } else {
    Exec("CREATE FUNCTION skip_row() RETURNS trigger AS $$ BEGIN RETURN NULL; "
         "END $$ LANGUAGE plpgsql");
    Exec("CREATE TRIGGER skip_" + table + " BEFORE INSERT ON " + table +
         " FOR EACH ROW EXECUTE FUNCTION skip_row()");
  }
}

void CTestDatabase::StartIdsAfter(const std::string& table, const std::string& idColumn,
                                  int64_t nLast) const {
  if (m_backend == Backend::SQLite) {
    Exec("INSERT INTO sqlite_sequence (name, seq) VALUES (" + SqlText(table) + ", " +
         std::to_string(nLast) + ")");
  } else {
    Exec("ALTER TABLE " + table + " ALTER COLUMN " + idColumn + " RESTART WITH " +
         std::to_string(nLast + 1));
  }
}

void CTestDatabase::FailInserts(const std::string& table) const {
  if (m_backend == Backend::SQLite) {
    Exec("CREATE TRIGGER fail_" + table + " BEFORE INSERT ON " + table +
         " BEGIN SELECT RAISE(ABORT, 'inserts refused'); END");
  } else {
    Exec("CREATE FUNCTION fail_row() RETURNS trigger AS $$ BEGIN RAISE "
         "EXCEPTION 'inserts refused'; END $$ LANGUAGE plpgsql");
    Exec("CREATE TRIGGER fail_" + table + " BEFORE INSERT ON " + table +
         " FOR EACH ROW EXECUTE FUNCTION fail_row()");
  }
}

void DatabaseTest::SetUp() {
  std::string reason = CTestDatabase::Unavailable(GetParam());
  if (!reason.empty()) {
    if (!Env("QUILLON_TEST_PG_REQUIRED").empty()) FAIL() << reason;
    GTEST_SKIP() << reason;
  }
  db.reset(new CTestDatabase(GetParam(), SchemaOfTest()));
  conn = db->Connect();
}

void DatabaseTest::TearDown() {
  conn.Release();
  db.reset();
}

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}
