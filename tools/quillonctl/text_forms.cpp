#include "text_forms.h"

#include <windows.h>

#include "database/wide_text.h"

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
