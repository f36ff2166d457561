#include "job_accounting/counted_file.h"

#include "job_accounting/job_journal.h"

#include <windows.h>

#include <cstring>

#include "printer_monitor/ini_file.h"
#include "service_core/quillon_service.h"

namespace {

// A report's file name has 19 characters at most; anything longer than a
// path component may be is refused before it is looked at.
constexpr size_t kMaxNameBytes = 255;

bool IsDeviceName(const char* pszName) {
  // The device is named by the part before the first dot, trailing spaces
  // ignored: "nul", "NUL.txt" and "com1 .prn" are all devices.
  std::string stem(pszName, std::strcspn(pszName, "."));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (_stricmp(stem.c_str(), device) == 0) return true;
  }
  if (stem.size() == 4 && (_strnicmp(stem.c_str(), "COM", 3) == 0 ||
                           _strnicmp(stem.c_str(), "LPT", 3) == 0)) {
    return stem[3] >= '1' && stem[3] <= '9';
  }
  return false;
}

bool IsPlainFileName(const char* pszName) {
  const size_t cb = std::strlen(pszName);
  if (cb == 0 || cb > kMaxNameBytes) return false;
  if (std::strstr(pszName, "..")) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pszName); *p; ++p) {
    if (*p < 0x20 || std::strchr("\\/:*?\"<>|", *p)) return false;
  }
  const char last = pszName[cb - 1];
  return last != '.' && last != ' ';
}

std::string ModuleDirectory(std::string* pExeName) {
  char szPath[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string path(szPath, n);
  size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return std::string();
  if (pExeName) *pExeName = path.substr(cut + 1);
  return path.substr(0, cut + 1);
}

bool IsServiceFile(const std::string& name, const std::string& exeName) {
  for (const char* own : {exeName.c_str(), "pagecnt.dll", kPrinterListFile,
                          kGdiPrinterListFile, kListTempFile, kJournalFile}) {
    if (_stricmp(name.c_str(), own) == 0) return true;
  }
  return false;
}

}  // namespace

std::string CountedFilePath(const char* pszName) {
  if (!pszName || !IsPlainFileName(pszName) || IsDeviceName(pszName)) return std::string();
  std::string exeName;
  const std::string directory = ModuleDirectory(&exeName);
  if (directory.empty() || IsServiceFile(pszName, exeName)) return std::string();
  const std::string path = directory + pszName;
  // A short alias (PRINTE~1.LST) names the same file as its long name.
  char szLong[MAX_PATH] = {};
  DWORD n = GetLongPathNameA(path.c_str(), szLong, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::string longPath(szLong, n);
    size_t cut = longPath.find_last_of("\\/");
    std::string longName = cut == std::string::npos ? longPath : longPath.substr(cut + 1);
    if (IsServiceFile(longName, exeName)) return std::string();
  }
  return path;
}
