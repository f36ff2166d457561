#include "job_accounting/spool_file.h"

#include <cstdio>
#include <cwchar>

#include "job_accounting/shadow_file.h"

std::string SpoolFilePath(DWORD dwJobId) {
  if (dwJobId == 0) return std::string();
  wchar_t wszDirectory[MAX_PATH];
  if (!GetSpoolDirectory(wszDirectory) || wszDirectory[0] == L'\0') return std::string();
  wchar_t wszPath[MAX_PATH];
  const int cch = std::swprintf(wszPath, MAX_PATH, L"%ls\\%05lu.SPL", wszDirectory,
                                static_cast<unsigned long>(dwJobId));
  if (cch <= 0) return std::string();
  // Exactly, or not at all: no best-fit mapping, no default character.
  // (A system whose ANSI code page is UTF-8 spells every path; there the
  // conversion takes no default-character flag.)
  const bool bUtf8 = GetACP() == CP_UTF8;
  BOOL bLossy = FALSE;
  char szPath[MAX_PATH * 3];
  const int cb = WideCharToMultiByte(CP_ACP, bUtf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                     wszPath, cch, szPath, sizeof(szPath), nullptr,
                                     bUtf8 ? nullptr : &bLossy);
  if (cb <= 0 || bLossy) return std::string();
  return std::string(szPath, static_cast<size_t>(cb));
}
