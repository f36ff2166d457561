#include "database/com_errors.h"

#include <oledberr.h>
#include <oleauto.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "database/wide_text.h"
#include "service_core/win_owners.h"

namespace {

constexpr wchar_t kOdbcSource[] = L"ODBC";

[[noreturn]] void RaiseWithInfo(HRESULT hr, const std::wstring& description,
                                const wchar_t* pwszSource, DWORD dwHelpContext) {
  IErrorInfo* pErrorInfo = nullptr;
  ICreateErrorInfo* pCreate = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&pCreate))) {
    pCreate->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    if (pwszSource) {
      pCreate->SetSource(const_cast<LPOLESTR>(pwszSource));
      pCreate->SetHelpContext(dwHelpContext);
    }
    pCreate->QueryInterface(IID_IErrorInfo,
                            reinterpret_cast<void**>(&pErrorInfo));
    pCreate->Release();
  }
  // The exception takes over our reference to the error info.
  throw _com_error(hr, pErrorInfo, false);
}

}  // namespace

void RaiseComError(HRESULT hr, const std::wstring& description) {
  RaiseWithInfo(hr, description, nullptr, 0);
}

namespace {

struct DiagRecord {
  std::wstring state;
  SQLINTEGER nNative = 0;
  std::wstring text;
};

bool FirstDiag(SQLSMALLINT nHandleType, SQLHANDLE hHandle, DiagRecord* out) {
  SQLWCHAR szState[6] = {};
  SQLINTEGER nNative = 0;
  SQLWCHAR szText[1024] = {};
  SQLSMALLINT cchText = 0;
  SQLRETURN rc = SQLGetDiagRecW(nHandleType, hHandle, 1, szState, &nNative,
                                szText, 1024, &cchText);
  if (!SQL_SUCCEEDED(rc)) return false;
  out->state.assign(reinterpret_cast<wchar_t*>(szState));
  out->nNative = nNative;
  out->text.assign(reinterpret_cast<wchar_t*>(szText));
  return true;
}

// The SQLite driver reports every engine error as HY000 with the engine's
// result code as the native error and "[SQLite]" before its text; 19 is
// SQLITE_CONSTRAINT ("UNIQUE constraint failed: PRINTERS.PrnName (19)").
constexpr SQLINTEGER kSqliteConstraint = 19;
constexpr wchar_t kSqlitePrefix[] = L"[SQLite]";

// SQLITE_BUSY: another connection holds a lock the statement needs, past
// the busy time-out; SQLITE_LOCKED: a conflict within the same connection.
constexpr SQLINTEGER kSqliteBusy = 5;
constexpr SQLINTEGER kSqliteLocked = 6;

bool IsSqliteEngineError(const std::wstring& state, const std::wstring& text) {
  return state == L"HY000" && text.compare(0, wcslen(kSqlitePrefix), kSqlitePrefix) == 0;
}

bool IsSqliteConstraint(const DiagRecord& diag) {
  return IsSqliteEngineError(diag.state, diag.text) && diag.nNative == kSqliteConstraint;
}

bool StartsWith(const std::wstring& text, const wchar_t* pwszPrefix) {
  return text.compare(0, wcslen(pwszPrefix), pwszPrefix) == 0;
}

HRESULT HResultForDiag(const DiagRecord& diag) {
  const std::wstring& state = diag.state;
  if (IsSqliteConstraint(diag)) return DB_E_INTEGRITYVIOLATION;
  if (state == L"HY001") return E_OUTOFMEMORY;
  if (state == L"HYT00" || state == L"HYT01") {
    return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  }
  if (state.compare(0, 2, L"23") == 0) return DB_E_INTEGRITYVIOLATION;
  return E_FAIL;
}

}  // namespace

std::wstring OdbcDiagnostics(SQLSMALLINT nHandleType, SQLHANDLE hHandle) {
  std::wstring all;
  if (!hHandle) return all;
  for (SQLSMALLINT i = 1; i <= 8; ++i) {
    SQLWCHAR szState[6] = {};
    SQLINTEGER nNative = 0;
    SQLWCHAR szText[1024] = {};
    SQLSMALLINT cchText = 0;
    SQLRETURN rc = SQLGetDiagRecW(nHandleType, hHandle, i, szState, &nNative,
                                  szText, 1024, &cchText);
    if (!SQL_SUCCEEDED(rc)) break;
    if (!all.empty()) all += L"; ";
    all += L"[";
    all += reinterpret_cast<wchar_t*>(szState);
    all += L"] ";
    all += reinterpret_cast<wchar_t*>(szText);
  }
  return all;
}

void RaiseOdbcError(SQLSMALLINT nHandleType, SQLHANDLE hHandle) {
  DiagRecord first;
  if (hHandle && FirstDiag(nHandleType, hHandle, &first)) {
    RaiseWithInfo(HResultForDiag(first), OdbcDiagnostics(nHandleType, hHandle), kOdbcSource,
                  static_cast<DWORD>(first.nNative));
  }
  // The driver left no record: nothing can be said of the link.
  RaiseComError(E_FAIL, OdbcDiagnostics(nHandleType, hHandle));
}

bool GetOdbcDiagnostic(const _com_error& e, ODBC_DIAGNOSTIC* pDiag) {
  IErrorInfo* pInfo = e.ErrorInfo();   // add-ref'd for us
  if (!pInfo) return false;
  BSTR source = nullptr, description = nullptr;
  DWORD dwContext = 0;
  bool bOdbc = false;
  if (SUCCEEDED(pInfo->GetSource(&source)) && source && wcscmp(source, kOdbcSource) == 0 &&
      SUCCEEDED(pInfo->GetDescription(&description)) && description &&
      SUCCEEDED(pInfo->GetHelpContext(&dwContext))) {
    // "[SQLSTATE] text", as OdbcDiagnostics writes it.
    const std::wstring all(description, SysStringLen(description));
    if (all.size() >= 8 && all[0] == L'[' && all[6] == L']' && all[7] == L' ') {
      pDiag->state = all.substr(1, 5);
      pDiag->nNative = static_cast<long>(static_cast<SQLINTEGER>(dwContext));
      pDiag->text = all.substr(8);
      bOdbc = true;
    }
  }
  SysFreeString(source);
  SysFreeString(description);
  pInfo->Release();
  return bOdbc;
}

DbFailure ClassifyDiagnostic(const ODBC_DIAGNOSTIC& diag) {
  const std::wstring& state = diag.state;
  if (StartsWith(state, L"08") || state == L"HYT01" || state == L"57P01" ||
      state == L"57P02" || state == L"57P03") {
    return DbFailure::ConnectionLost;
  }
  if (IsSqliteEngineError(state, diag.text) &&
      (diag.nNative == kSqliteBusy || diag.nNative == kSqliteLocked)) {
    return DbFailure::Busy;
  }
  if (state == L"55P03" || state == L"40P01" || state == L"40001" || StartsWith(state, L"53") ||
      state == L"57014" || state == L"HYT00" || state == L"HY001") {
    return DbFailure::Busy;
  }
  return DbFailure::Refused;
}

DbFailure ClassifyDbFailure(const _com_error& e) {
  ODBC_DIAGNOSTIC diag;
  return GetOdbcDiagnostic(e, &diag) ? ClassifyDiagnostic(diag) : DbFailure::Unknown;
}

bool IsConnectionLost(const _com_error& e) {
  return ClassifyDbFailure(e) == DbFailure::ConnectionLost;
}

bool IsBusy(const _com_error& e) { return ClassifyDbFailure(e) == DbFailure::Busy; }

void PassErrorInfo(const _com_error* pError) {
  IErrorInfo* pInfo = pError ? pError->ErrorInfo() : nullptr;   // add-ref'd for us
  SetErrorInfo(0, pInfo);
  if (pInfo) pInfo->Release();
}

void RaisePassedError(HRESULT hr) {
  IErrorInfo* pInfo = nullptr;
  if (GetErrorInfo(0, &pInfo) != S_OK) pInfo = nullptr;
  // The exception takes over the reference GetErrorInfo gave us.
  throw _com_error(hr, pInfo, false);
}

bool IsConstraintViolation(const _com_error& e) {
  return e.Error() == DB_E_INTEGRITYVIOLATION;
}

std::string ComErrorText(HRESULT hr) {
  LocalBuffer<char> system;
  DWORD cch = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPSTR>(system.put()), 0, nullptr);
  if (cch && system) {
    std::string text(system.get(), cch);
    if (text.size() > 1 && text.back() == '\n') {
      text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
    }
    return text;
  }

  char szText[32];
  unsigned long code = static_cast<unsigned long>(hr);
  if (code >= 0x80040201UL && code <= 0x8004FFFFUL) {
    snprintf(szText, sizeof(szText), "IDispatch error #%d",
             static_cast<int>(code - 0x80040200UL));
  } else {
    snprintf(szText, sizeof(szText), "Unknown error 0x%0lX", code);
  }
  return szText;
}

std::string ComErrorText(const _com_error& e) { return ComErrorText(e.Error()); }

std::string ComErrorDescription(const _com_error& e) {
  IErrorInfo* pInfo = e.ErrorInfo();   // add-ref'd for us
  if (!pInfo) return std::string();
  BSTR bstr = nullptr;
  std::string text;
  if (SUCCEEDED(pInfo->GetDescription(&bstr)) && bstr) {
    text = WideToAnsi(bstr, SysStringLen(bstr));
  }
  SysFreeString(bstr);
  pInfo->Release();
  return text;
}

std::string ComFailureText(const _com_error& e) {
  std::string text = ComErrorText(e);
  const std::string diagnostic = ComErrorDescription(e);
  if (!diagnostic.empty()) text += " - " + diagnostic;
  return text;
}
