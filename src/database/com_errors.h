// Database failures travel as the platform's COM error exception, carrying an
// HRESULT and, as its error info, the driver's diagnostic text.
#pragma once

#include <windows.h>
#include <comdef.h>
#include <sql.h>

#include <string>

// Raises _com_error(hr) with an IErrorInfo whose description is the text.
[[noreturn]] void RaiseComError(HRESULT hr, const std::wstring& description);

// The first diagnostic record of an ODBC failure, as the error carries it:
// its error info's source is "ODBC", its description begins with
// "[SQLSTATE] ", and its help context holds the driver's native error.
struct ODBC_DIAGNOSTIC {
  std::wstring state;      // five characters
  long nNative = 0;
  std::wstring text;       // the diagnostics after the first state
};
// False when the error did not come from an ODBC call.
bool GetOdbcDiagnostic(const _com_error& e, ODBC_DIAGNOSTIC* pDiag);

// What a failure says about the database link, for deciding whether to
// reconnect, to wait, or to count a refusal.
enum class DbFailure {
  Unknown,          // no diagnostic: nothing is known about the link
  ConnectionLost,   // the session is gone; only a new connection helps
  Busy,             // transient on a working connection: retry as it is
  Refused,          // the database answered and refused the statement
};
DbFailure ClassifyDbFailure(const _com_error& e);
DbFailure ClassifyDiagnostic(const ODBC_DIAGNOSTIC& diag);
// SQLSTATE class 08 (08001 cannot connect, 08S01 link failure, 08003 not
// open, 08006 ...), HYT01 (connection time-out), and PostgreSQL's 57P01,
// 57P02, 57P03 (administrator shutdown, crash shutdown, cannot connect
// now). The PostgreSQL driver reports a killed session as 57P01 or 57P02 on
// the first statement and 08S01 on every later one, native error 35.
bool IsConnectionLost(const _com_error& e);
// The SQLite driver's SQLITE_BUSY (5) and SQLITE_LOCKED (6), "database is
// locked" once its busy time-out has passed; PostgreSQL's lock, deadlock,
// serialization and resource states (55P03, 40P01, 40001, class 53), a
// cancelled or timed-out statement (57014, HYT00) and lack of memory (HY001).
bool IsBusy(const _com_error& e);

// Collects every diagnostic record of an ODBC handle, "[SQLSTATE] text" each,
// separated by "; ".
std::wstring OdbcDiagnostics(SQLSMALLINT nHandleType, SQLHANDLE hHandle);

// Raises the failure of an ODBC call on that handle, carrying its first
// diagnostic record (GetOdbcDiagnostic): E_FAIL unless the
// diagnostic's SQLSTATE names a better-fitting HRESULT. A refusal by a
// constraint raises DB_E_INTEGRITYVIOLATION: SQLSTATE class 23 (PostgreSQL
// says 23505 for a unique key, 23514 for a CHECK), or the SQLite driver's
// HY000 with SQLITE_CONSTRAINT (19) as its native error.
[[noreturn]] void RaiseOdbcError(SQLSMALLINT nHandleType, SQLHANDLE hHandle);

// True when the database refused a row for a constraint: a unique key
// (another writer holds the value), but also NOT NULL, CHECK, or an SQLite
// trigger's RAISE(ABORT). Callers that expect a unique key look the row up
// before trusting it.
bool IsConstraintViolation(const _com_error& e);

// For functions that report a failure as an HRESULT: PassErrorInfo makes
// the error's info the thread's error info (COM's SetErrorInfo), or clears
// it when there is none, before the function returns the HRESULT; the
// caller's RaisePassedError raises the HRESULT with that info, so that the
// driver's diagnostic and its class survive the HRESULT.
void PassErrorInfo(const _com_error* pError);
[[noreturn]] void RaisePassedError(HRESULT hr);

// The system's text for the error's HRESULT, in the manner of
// _com_error::ErrorMessage.
std::string ComErrorText(const _com_error& e);
std::string ComErrorText(HRESULT hr);

// The description carried in the error's IErrorInfo, as ANSI; empty if none.
std::string ComErrorDescription(const _com_error& e);

// What an administrator is told about a failure: the system's text, then
// " - " and the driver's own diagnostic when there is one.
std::string ComFailureText(const _com_error& e);
