#include "job_accounting/spool_file.h"

#include <cstdio>
#include <cwchar>

#include "database/wide_text.h"
#include "job_accounting/shadow_file.h"

std::string SpoolFilePath(DWORD dwJobId) {
  if (dwJobId == 0) return std::string();
  wchar_t wszDirectory[MAX_PATH];
  if (!GetSpoolDirectory(wszDirectory) || wszDirectory[0] == L'\0') return std::string();
  wchar_t wszPath[MAX_PATH];
  const int cch = std::swprintf(wszPath, MAX_PATH, L"%ls\\%05lu.SPL", wszDirectory,
                                static_cast<unsigned long>(dwJobId));
  if (cch <= 0) return std::string();
  // Exactly, or not at all: a best-fit look-alike could name another
  // directory.
  std::string path;
  return WideToAnsiExact(std::wstring(wszPath, static_cast<size_t>(cch)), &path) ? path
                                                                                : std::string();
}
