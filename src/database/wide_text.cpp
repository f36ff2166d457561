#include "database/wide_text.h"

#include <windows.h>

std::wstring AnsiToWide(const char* pszText) {
  return AnsiToWide(std::string(pszText ? pszText : ""));
}

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int cch = MultiByteToWideChar(CP_ACP, 0, text.data(),
                                static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(cch), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      &wide[0], cch);
  return wide;
}

std::string WideToAnsi(const wchar_t* pwszText, size_t cch) {
  if (!pwszText || cch == 0) return std::string();
  int cb = WideCharToMultiByte(CP_ACP, 0, pwszText, static_cast<int>(cch),
                               nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(cb), '\0');
  WideCharToMultiByte(CP_ACP, 0, pwszText, static_cast<int>(cch), &ansi[0], cb,
                      nullptr, nullptr);
  return ansi;
}

std::string WideToAnsi(const std::wstring& text) {
  return WideToAnsi(text.data(), text.size());
}

bool WideToAnsiExact(const std::wstring& text, std::string* pAnsi) {
  pAnsi->clear();
  if (text.empty()) return true;
  // For UTF-8 the conversion takes neither WC_NO_BEST_FIT_CHARS nor a
  // default-character flag (it fails with ERROR_INVALID_PARAMETER).
  const bool bUtf8 = GetACP() == CP_UTF8;
  const DWORD dwFlags = bUtf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL bDefaulted = FALSE;
  BOOL* pbDefaulted = bUtf8 ? nullptr : &bDefaulted;
  const int cch = static_cast<int>(text.size());
  const int cb = WideCharToMultiByte(CP_ACP, dwFlags, text.data(), cch, nullptr, 0, nullptr,
                                     pbDefaulted);
  if (cb <= 0 || bDefaulted) return false;
  pAnsi->assign(static_cast<size_t>(cb), '\0');
  WideCharToMultiByte(CP_ACP, dwFlags, text.data(), cch, &(*pAnsi)[0], cb, nullptr, nullptr);
  return true;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int cch = static_cast<int>(text.size());
  int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), cch, nullptr, 0, nullptr, nullptr);
  if (cb <= 0) return std::string();
  std::string utf8(static_cast<size_t>(cb), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), cch, &utf8[0], cb, nullptr, nullptr);
  return utf8;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int cb = static_cast<int>(text.size());
  int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), cb, nullptr, 0);
  if (cch <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(cch), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), cb, &wide[0], cch);
  return wide;
}
