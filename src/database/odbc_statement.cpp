#include "database/odbc_statement.h"

#include <utility>

#include "database/com_errors.h"

COdbcStatement& COdbcStatement::operator=(COdbcStatement&& other) noexcept {
  if (this != &other) {
    Free();
    m_hStmt = other.m_hStmt;
    other.m_hStmt = SQL_NULL_HSTMT;
  }
  return *this;
}

void COdbcStatement::Allocate(SQLHDBC hDbc) {
  Free();
  SQLHSTMT hStmt = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, hDbc, &hStmt);
  if (!SQL_SUCCEEDED(rc)) RaiseOdbcError(SQL_HANDLE_DBC, hDbc);
  m_hStmt = hStmt;
}

void COdbcStatement::Free() {
  if (m_hStmt != SQL_NULL_HSTMT) {
    SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
    m_hStmt = SQL_NULL_HSTMT;
  }
}

void COdbcStatement::Check(SQLRETURN rc) const {
  if (!SQL_SUCCEEDED(rc)) RaiseOdbcError(SQL_HANDLE_STMT, m_hStmt);
}

void COdbcStatement::Prepare(const std::wstring& sql) {
  std::wstring text(sql);
  Check(SQLPrepareW(m_hStmt, reinterpret_cast<SQLWCHAR*>(&text[0]),
                    static_cast<SQLINTEGER>(text.size())));
}

void COdbcStatement::Execute() {
  SQLRETURN rc = SQLExecute(m_hStmt);
  // A statement that touches no row answers SQL_NO_DATA; that is no failure.
  if (rc != SQL_NO_DATA) Check(rc);
}

void COdbcStatement::ExecDirect(const std::wstring& sql) {
  std::wstring text(sql);
  SQLRETURN rc = SQLExecDirectW(m_hStmt, reinterpret_cast<SQLWCHAR*>(&text[0]),
                                static_cast<SQLINTEGER>(text.size()));
  if (rc != SQL_NO_DATA) Check(rc);
}

bool COdbcStatement::Fetch() {
  SQLRETURN rc = SQLFetch(m_hStmt);
  if (rc == SQL_NO_DATA) return false;
  Check(rc);
  return true;
}

void COdbcStatement::CloseCursor() {
  // SQL_CLOSE, unlike SQLCloseCursor, is no error when no cursor is open.
  Check(SQLFreeStmt(m_hStmt, SQL_CLOSE));
}

void COdbcStatement::ResetBindings() {
  Check(SQLFreeStmt(m_hStmt, SQL_UNBIND));
  Check(SQLFreeStmt(m_hStmt, SQL_RESET_PARAMS));
}

SQLSMALLINT COdbcStatement::ResultColumns() {
  SQLSMALLINT nColumns = 0;
  Check(SQLNumResultCols(m_hStmt, &nColumns));
  return nColumns;
}

SQLLEN COdbcStatement::RowCount() {
  SQLLEN nRows = 0;
  Check(SQLRowCount(m_hStmt, &nRows));
  return nRows;
}

std::wstring COdbcStatement::ColumnName(SQLUSMALLINT nColumn) {
  SQLWCHAR szName[256] = {};
  SQLSMALLINT cchName = 0, nType = 0, nDigits = 0, nNullable = 0;
  SQLULEN cbColumn = 0;
  Check(SQLDescribeColW(m_hStmt, nColumn, szName, 256, &cchName, &nType,
                        &cbColumn, &nDigits, &nNullable));
  return std::wstring(reinterpret_cast<wchar_t*>(szName));
}
