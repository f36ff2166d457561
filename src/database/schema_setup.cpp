#include "database/schema_setup.h"

#include <set>
#include <stdexcept>

#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "database/record_classes.h"
#include "database/session_cache.h"
#include "database/schema_text.h"
#include "database/transaction.h"
#include "database/wide_text.h"

namespace {

std::vector<unsigned long> Ordinals(CADORecordBinding&& record) {
  std::vector<unsigned long> ordinals;
  for (const BINDING_ENTRY* e = record.GetADOBindingEntries(); e->ulOrdinal; ++e) {
    ordinals.push_back(e->ulOrdinal);
  }
  return ordinals;
}

// The first column of every row of a catalog query.
std::set<std::string> Names(SQLHDBC hDbc, const wchar_t* pszQuery) {
  std::set<std::string> names;
  COdbcStatement stmt(hDbc);
  stmt.ExecDirect(pszQuery);
  while (stmt.Fetch()) {
    wchar_t name[256] = {};
    SQLLEN ind = 0;
    stmt.Check(SQLGetData(stmt.Handle(), 1, SQL_C_WCHAR, name, sizeof(name), &ind));
    if (ind != SQL_NULL_DATA) names.insert(WideToAnsi(std::wstring(name)));
  }
  return names;
}

bool Contains(const std::set<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (SameSqlName(n, name)) return true;
  }
  return false;
}

// The catalog queries of each DBMS: the tables and indexes of the schema
// that the connection works in (on PostgreSQL, its current schema).
struct CATALOG {
  const wchar_t* pszTables;
  const wchar_t* pszIndexes;
};

CATALOG CatalogOf(DbmsDialect dialect) {
  switch (dialect) {
    case DbmsDialect::SQLite:
      return {L"SELECT name FROM sqlite_master WHERE type = 'table'",
              L"SELECT name FROM sqlite_master WHERE type = 'index'"};
    case DbmsDialect::PostgreSQL:
      return {L"SELECT tablename FROM pg_tables WHERE schemaname = current_schema()",
              L"SELECT indexname FROM pg_indexes WHERE schemaname = current_schema()"};
    case DbmsDialect::Unknown:
      break;
  }
  return {nullptr, nullptr};
}

std::string DbmsName(SQLHDBC hDbc) {
  SQLWCHAR szName[128] = {};
  SQLSMALLINT cbName = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(hDbc, SQL_DBMS_NAME, szName, sizeof(szName), &cbName))) {
    RaiseOdbcError(SQL_HANDLE_DBC, hDbc);
  }
  return WideToAnsi(std::wstring(reinterpret_cast<wchar_t*>(szName)));
}

// What is wrong with an existing table, measured against its schema file.
void CheckColumns(SQLHDBC hDbc, const SCHEMA_OBJECT& table, std::vector<std::string>& problems) {
  COdbcStatement stmt(hDbc);
  stmt.ExecDirect(AnsiToWide("SELECT * FROM " + table.name + " WHERE 1=0"));
  std::vector<std::string> have;
  const SQLSMALLINT nColumns = stmt.ResultColumns();
  for (SQLSMALLINT i = 1; i <= nColumns; ++i) {
    have.push_back(WideToAnsi(stmt.ColumnName(static_cast<SQLUSMALLINT>(i))));
  }
  std::vector<unsigned long> bound = BoundColumns(table.name);
  if (bound.empty()) {
    for (size_t i = 1; i <= table.columns.size(); ++i) bound.push_back(i);
  }
  for (unsigned long n : bound) {
    if (n > table.columns.size()) continue;   // the record binds past the file: not ours to say
    const std::string& want = table.columns[n - 1];
    const std::string where = table.name + ": column " + std::to_string(n);
    if (n > have.size()) {
      problems.push_back(where + " (" + want + ") is missing; the table has " +
                         std::to_string(have.size()) + " columns");
    } else if (!SameSqlName(have[n - 1], want)) {
      // Named as the schema spells it where it knows the column (PostgreSQL
      // reports folded names).
      std::string found = have[n - 1];
      for (const std::string& column : table.columns) {
        if (SameSqlName(column, found)) found = column;
      }
      problems.push_back(where + " is " + found + " where the service expects " + want);
    }
  }
}

}  // namespace

std::vector<unsigned long> BoundColumns(const std::string& table) {
  if (SameSqlName(table, "PRINTERS")) return Ordinals(CPrinterRecord());
  if (SameSqlName(table, "USERS")) return Ordinals(CUserRecord());
  if (SameSqlName(table, "COMPUTERS")) return Ordinals(CComputerRecord());
  if (SameSqlName(table, "PRNPERMISSIONS")) return Ordinals(CPermissionRecord());
  if (SameSqlName(table, "PRNUSERS") || SameSqlName(table, "PRNCOMPS")) {
    return Ordinals(CPrinterLinkRecord());
  }
  if (SameSqlName(table, "PRNDATA")) return Ordinals(CPrnDataRecord());
  return {};
}

SCHEMA_PLAN PlanSchema(const ConnectionPtr& pConnection) {
  CConnection* pConn = pConnection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  const SQLHDBC hDbc = pConn->Handle();
  SCHEMA_PLAN plan;
  plan.dbms = DbmsName(hDbc);
  const SCHEMA_FILE* pFile = SchemaForDbms(AnsiToWide(plan.dbms));
  const CATALOG catalog = CatalogOf(pConn->Session().Dialect(hDbc));
  if (!pFile || !catalog.pszTables) {
    throw std::runtime_error("there is no schema for " + plan.dbms +
                             " databases: use SQLite or PostgreSQL");
  }
  plan.schemaFile = pFile->pszStem;
  const std::set<std::string> tables = Names(hDbc, catalog.pszTables);
  const std::set<std::string> indexes = Names(hDbc, catalog.pszIndexes);
  for (const SCHEMA_OBJECT& object : ParseSchema(pFile->pszText)) {
    if (object.kind == SCHEMA_OBJECT::Table) {
      if (!Contains(tables, object.name)) {
        plan.missing.push_back(object);
      } else {
        CheckColumns(hDbc, object, plan.problems);
      }
    } else if (!Contains(indexes, object.name)) {
      plan.missing.push_back(object);
    }
  }
  return plan;
}

void CreateSchemaObjects(const ConnectionPtr& pConnection,
                         const std::vector<SCHEMA_OBJECT>& objects) {
  CConnection* pConn = pConnection.operator->();
  std::lock_guard<std::recursive_mutex> lock(pConn->Mutex());
  InTransaction(pConn, [&] {
    for (const SCHEMA_OBJECT& object : objects) {
      COdbcStatement stmt(pConn->Handle());
      stmt.ExecDirect(AnsiToWide(object.statement));
    }
  });
}
