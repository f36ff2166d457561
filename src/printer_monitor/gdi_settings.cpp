#include "printer_monitor/gdi_settings.h"

#include <string>

#include "service_core/win_owners.h"

namespace {

std::string PrinterKey(const char* pszPrinter) {
  return std::string(kGdiSettingsKey) + "\\" + pszPrinter;
}

}  // namespace

bool DeletesPrintedJobs(const char* pszPrinter) {
  RegKey hKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PrinterKey(pszPrinter).c_str(), 0, KEY_QUERY_VALUE,
                    hKey.put()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD dwValue = 0;
  DWORD cbValue = sizeof(dwValue);
  if (RegQueryValueExA(hKey.get(), kDeletePrintedValue, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&dwValue), &cbValue) != ERROR_SUCCESS) {
    return false;
  }
  return dwValue != 0;
}

LONG WriteDeletePrinted(const char* pszPrinter, bool bDeletePrinted) {
  const std::string key = PrinterKey(pszPrinter);
  if (!bDeletePrinted) {
    const LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  RegKey hKey;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, hKey.put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  const DWORD dwOne = 1;
  return RegSetValueExA(hKey.get(), kDeletePrintedValue, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&dwOne), sizeof(dwOne));
}
