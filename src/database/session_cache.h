// What the data layer learns about the database once per connection: which
// DBMS it is, the column names of each table, and prepared statements that
// are run again and again (the appends). The connection owns it; its users
// hold the connection's mutex.
#pragma once

#include <windows.h>
#include <sql.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/odbc_statement.h"

enum class DbmsDialect {
  Unknown,      // no way known to read back a generated row
  SQLite,       // rowid of the last insert on the connection
  PostgreSQL,   // INSERT ... RETURNING
};

class CSessionCache {
 public:
  CSessionCache() : m_bDialectKnown(false), m_dialect(DbmsDialect::Unknown) {}

  DbmsDialect Dialect(SQLHDBC hDbc);
  // The table's column names in column order, as the database reports them.
  const std::vector<std::wstring>& TableColumns(SQLHDBC hDbc,
                                                const std::wstring& table);
  // A statement prepared once for this text and kept for the connection;
  // shared, so that a statement in use outlives its eviction.
  std::shared_ptr<COdbcStatement> Prepared(SQLHDBC hDbc, const std::wstring& sql);
  // Drops a statement and a table's columns after a failure, so that both
  // are learnt again.
  void Forget(const std::wstring& sql, const std::wstring& table);
  // Frees every statement; needed before the connection disconnects.
  void Clear();

 private:
  bool m_bDialectKnown;
  DbmsDialect m_dialect;
  std::map<std::wstring, std::vector<std::wstring>> m_columns;
  std::map<std::wstring, std::shared_ptr<COdbcStatement>> m_statements;
};
