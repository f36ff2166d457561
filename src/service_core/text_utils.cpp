#include "service_core/text_utils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

char* GetLastErrorText() {
  DWORD dwError = GetLastError();
  char* pszText = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                 nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                 reinterpret_cast<LPSTR>(&pszText), 0, nullptr);
  if (!pszText) {
    // No system text for the code: the caller still gets a LocalFree-able
    // text that names the error.
    char szFallback[32];
    int n = snprintf(szFallback, sizeof(szFallback), "Error %lu",
                     static_cast<unsigned long>(dwError));
    pszText = static_cast<char*>(LocalAlloc(LMEM_FIXED, n + 1));
    if (pszText) std::memcpy(pszText, szFallback, n + 1);
  }
  return pszText;
}

namespace {

// High bytes that ANSI text shares with OEM text often enough (typographic
// quotes, ellipsis, and two box-drawing corners) that they decide nothing.
bool IsNeutralHighByte(unsigned char c) {
  switch (c) {
    case 0x82: case 0x85: case 0x91: case 0x92:
    case 0x93: case 0x94: case 0xB8: case 0xB9:
      return true;
    default:
      return false;
  }
}

}  // namespace

BOOL FixOemText(char* pszText) {
  if (!pszText) return FALSE;
  for (const unsigned char* p = reinterpret_cast<unsigned char*>(pszText);;
       ++p) {
    unsigned char c = *p;
    if (c >= 0x80 && c < 0xC0 && !IsNeutralHighByte(c)) {
      OemToCharA(pszText, pszText);
      return TRUE;
    }
    if (c == 0) break;
  }
  return TRUE;
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ';');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}
