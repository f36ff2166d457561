#include "database/com_errors.h"

#include <oledberr.h>
#include <oleauto.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "database/wide_text.h"
#include "service_core/win_owners.h"

void RaiseComError(HRESULT hr, const std::wstring& description) {
  IErrorInfo* pErrorInfo = nullptr;
  ICreateErrorInfo* pCreate = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&pCreate))) {
    pCreate->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    pCreate->QueryInterface(IID_IErrorInfo,
                            reinterpret_cast<void**>(&pErrorInfo));
    pCreate->Release();
  }
  // The exception takes over our reference to the error info.
  throw _com_error(hr, pErrorInfo, false);
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

bool IsSqliteConstraint(const DiagRecord& diag) {
  return diag.state == L"HY000" && diag.nNative == kSqliteConstraint &&
         diag.text.compare(0, wcslen(kSqlitePrefix), kSqlitePrefix) == 0;
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
  HRESULT hr = E_FAIL;
  if (hHandle && FirstDiag(nHandleType, hHandle, &first)) {
    hr = HResultForDiag(first);
  }
  RaiseComError(hr, OdbcDiagnostics(nHandleType, hHandle));
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
