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
// diagnostic's SQLSTATE names a better-fitting HRESULT.
[[noreturn]] void RaiseOdbcError(SQLSMALLINT nHandleType, SQLHANDLE hHandle);

// The system's text for the error's HRESULT, in the manner of
// _com_error::ErrorMessage.
std::string ComErrorText(const _com_error& e);
std::string ComErrorText(HRESULT hr);

// The description carried in the error's IErrorInfo, as ANSI; empty if none.
std::string ComErrorDescription(const _com_error& e);
