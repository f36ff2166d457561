// Database failures travel as the platform's COM error exception, carrying an
// HRESULT and, as its error info, the driver's diagnostic text.
#pragma once

#include <windows.h>
#include <comdef.h>
#include <sql.h>

#include <string>

// Raises _com_error(hr) with an IErrorInfo whose description is the text.
[[noreturn]] void RaiseComError(HRESULT hr, const std::wstring& description);

// Collects every diagnostic record of an ODBC handle, "[SQLSTATE] text" each,
// separated by "; ".
std::wstring OdbcDiagnostics(SQLSMALLINT nHandleType, SQLHANDLE hHandle);

// Raises the failure of an ODBC call on that handle: E_FAIL unless the
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

// The system's text for the error's HRESULT, in the manner of
// _com_error::ErrorMessage.
std::string ComErrorText(const _com_error& e);
std::string ComErrorText(HRESULT hr);

// The description carried in the error's IErrorInfo, as ANSI; empty if none.
std::string ComErrorDescription(const _com_error& e);
