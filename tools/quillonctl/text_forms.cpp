#include "text_forms.h"

#include "database/wide_text.h"

std::string AnsiToUtf8(const std::string& ansi) { return WideToUtf8(AnsiToWide(ansi)); }

bool Utf8ToAnsi(const std::string& utf8, std::string* pAnsi) {
  const std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty()) {
    pAnsi->clear();
    return utf8.empty();   // else it was no UTF-8
  }
  return WideToAnsiExact(wide, pAnsi);
}
