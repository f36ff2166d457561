#include "console_output.h"

#include "text_forms.h"

void WriteText(DWORD nStdHandle, const std::string& utf8) {
  if (utf8.empty()) return;
  HANDLE h = GetStdHandle(nStdHandle);
  if (!h || h == INVALID_HANDLE_VALUE) return;
  DWORD dwMode = 0;
  DWORD cWritten = 0;
  if (GetConsoleMode(h, &dwMode)) {
    const std::wstring wide = Utf8ToWide(utf8);
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &cWritten, nullptr);
  } else {
    WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &cWritten, nullptr);
  }
}
