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
