#include "database/session_cache.h"

#include <sqlext.h>

#include <cwctype>

#include "database/com_errors.h"

namespace {

// The appends use a handful of statement texts; the bound only guards
// against a caller that generates texts without end.
constexpr size_t kMaxPreparedStatements = 64;

bool StartsWithNoCase(const std::wstring& text, const wchar_t* pszPrefix) {
  size_t i = 0;
  for (; pszPrefix[i]; ++i) {
    if (i >= text.size() ||
        std::towlower(text[i]) != std::towlower(pszPrefix[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

DbmsDialect CSessionCache::Dialect(SQLHDBC hDbc) {
  if (m_bDialectKnown) return m_dialect;
  SQLWCHAR szName[128] = {};
  SQLSMALLINT cbName = 0;
  SQLRETURN rc = SQLGetInfoW(hDbc, SQL_DBMS_NAME, szName, sizeof(szName), &cbName);
  if (!SQL_SUCCEEDED(rc)) RaiseOdbcError(SQL_HANDLE_DBC, hDbc);
  std::wstring name(reinterpret_cast<wchar_t*>(szName));
  if (StartsWithNoCase(name, L"SQLite")) {
    m_dialect = DbmsDialect::SQLite;
  } else if (StartsWithNoCase(name, L"PostgreSQL")) {
    m_dialect = DbmsDialect::PostgreSQL;
  } else {
    m_dialect = DbmsDialect::Unknown;
  }
  m_bDialectKnown = true;
  return m_dialect;
}

const std::vector<std::wstring>& CSessionCache::TableColumns(
    SQLHDBC hDbc, const std::wstring& table) {
  auto it = m_columns.find(table);
  if (it != m_columns.end()) return it->second;

  // An empty result still describes every column of the table, in order.
  COdbcStatement stmt(hDbc);
  stmt.ExecDirect(L"SELECT * FROM " + table + L" WHERE 1=0");
  SQLSMALLINT nColumns = stmt.ResultColumns();
  std::vector<std::wstring> names;
  names.reserve(static_cast<size_t>(nColumns));
  for (SQLSMALLINT i = 1; i <= nColumns; ++i) {
    names.push_back(stmt.ColumnName(static_cast<SQLUSMALLINT>(i)));
  }
  stmt.CloseCursor();
  return m_columns.emplace(table, std::move(names)).first->second;
}

std::shared_ptr<COdbcStatement> CSessionCache::Prepared(SQLHDBC hDbc,
                                                        const std::wstring& sql) {
  auto it = m_statements.find(sql);
  if (it != m_statements.end()) return it->second;
  if (m_statements.size() >= kMaxPreparedStatements) m_statements.clear();

  auto stmt = std::make_shared<COdbcStatement>(hDbc);
  stmt->Prepare(sql);
  m_statements.emplace(sql, stmt);
  return stmt;
}

void CSessionCache::Forget(const std::wstring& sql, const std::wstring& table) {
  m_statements.erase(sql);
  m_columns.erase(table);
}

void CSessionCache::Clear() {
  m_statements.clear();
  m_columns.clear();
  m_bDialectKnown = false;
}
