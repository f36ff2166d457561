#include "text_forms.h"

#include <windows.h>

#include "database/wide_text.h"

namespace {

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return std::wstring();
  const int cch = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
  std::wstring wide(static_cast<size_t>(cch > 0 ? cch : 0), L'\0');
  if (cch > 0) {
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], cch);
  }
  return wide;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& utf8) { return ToWide(CP_UTF8, utf8); }

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int cb = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(cb > 0 ? cb : 0), '\0');
  if (cb > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], cb,
                        nullptr, nullptr);
  }
  return utf8;
}

std::string AnsiToUtf8(const std::string& ansi) { return WideToUtf8(AnsiToWide(ansi)); }

bool Utf8ToAnsi(const std::string& utf8, std::string* pAnsi) {
  const std::wstring wide = Utf8ToWide(utf8);
  pAnsi->clear();
  if (wide.empty()) return utf8.empty();
  BOOL bDefaulted = FALSE;
  const int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                     static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                     &bDefaulted);
  if (cb <= 0 || bDefaulted) return false;
  pAnsi->assign(static_cast<size_t>(cb), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      &(*pAnsi)[0], cb, nullptr, nullptr);
  return true;
}
