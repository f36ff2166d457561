#include "service_core/configuration.h"

#include <windows.h>

#include <cstring>

#include "service_core/win_owners.h"

namespace {
char g_szConnectionString[512];
}  // namespace

const char* ReadConnectionString() {
  RegKey hKey;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, hKey.put(),
                      nullptr) != ERROR_SUCCESS) {
    return g_szConnectionString;   // the previous result stands
  }
  DWORD cbData = sizeof(g_szConnectionString);
  LONG rc = RegQueryValueExA(hKey.get(), kDsnValue, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(g_szConnectionString),
                             &cbData);
  if (rc == ERROR_SUCCESS && cbData < sizeof(g_szConnectionString)) {
    // A value stored without its terminating NUL still ends here.
    g_szConnectionString[cbData] = '\0';
  } else if (rc != ERROR_SUCCESS ||
             g_szConnectionString[sizeof(g_szConnectionString) - 1] != '\0') {
    // Missing, too long, or 512 bytes with no room for the terminator.
    std::memset(g_szConnectionString, 0, sizeof(g_szConnectionString));
  }
  return g_szConnectionString;
}

void SetModuleDirectory() {
  char szPath[512] = {};
  DWORD n = GetModuleFileNameA(nullptr, szPath, sizeof(szPath));
  if (n == 0 || n >= sizeof(szPath)) return;   // no usable path
  // The platform gives backslashes; a forward slash is a separator as well.
  char* pszCut = nullptr;
  for (char* p = szPath; *p; ++p) {
    if (*p == '\\' || *p == '/') pszCut = p;
  }
  if (!pszCut) return;
  pszCut[1] = '\0';
  SetCurrentDirectoryA(szPath);
}

unsigned long ReadJournalLimitKB(unsigned long dwDefault) {
  RegKey hKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, hKey.put()) != ERROR_SUCCESS) {
    return dwDefault;
  }
  DWORD dwType = 0, dwValue = 0, cbData = sizeof(dwValue);
  if (RegQueryValueExA(hKey.get(), kJournalLimitValue, nullptr, &dwType,
                       reinterpret_cast<BYTE*>(&dwValue), &cbData) != ERROR_SUCCESS ||
      dwType != REG_DWORD || dwValue == 0) {
    return dwDefault;
  }
  return dwValue;
}
