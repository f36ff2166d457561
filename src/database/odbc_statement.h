// Owner of one ODBC statement handle. Every failing call raises the
// statement's diagnostics as a _com_error.
#pragma once

#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

class COdbcStatement {
 public:
  COdbcStatement() : m_hStmt(SQL_NULL_HSTMT) {}
  explicit COdbcStatement(SQLHDBC hDbc) : m_hStmt(SQL_NULL_HSTMT) { Allocate(hDbc); }
  ~COdbcStatement() { Free(); }

  COdbcStatement(COdbcStatement&& other) noexcept : m_hStmt(other.m_hStmt) {
    other.m_hStmt = SQL_NULL_HSTMT;
  }
  COdbcStatement& operator=(COdbcStatement&& other) noexcept;
  COdbcStatement(const COdbcStatement&) = delete;
  COdbcStatement& operator=(const COdbcStatement&) = delete;

  void Allocate(SQLHDBC hDbc);
  void Free();
  SQLHSTMT Handle() const { return m_hStmt; }
  bool IsAllocated() const { return m_hStmt != SQL_NULL_HSTMT; }

  void Prepare(const std::wstring& sql);
  void Execute();
  void ExecDirect(const std::wstring& sql);
  // True when a row was fetched, false at the end of the result.
  bool Fetch();
  // Ends the current result, if any, so the statement can run again.
  void CloseCursor();
  void ResetBindings();
  SQLSMALLINT ResultColumns();
  SQLLEN RowCount();
  // Name of a result column as the database reports it (1-based).
  std::wstring ColumnName(SQLUSMALLINT nColumn);

  // Raises the statement's diagnostics unless rc reports success.
  void Check(SQLRETURN rc) const;

 private:
  SQLHSTMT m_hStmt;
};
