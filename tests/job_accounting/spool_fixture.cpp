#include "spool_fixture.h"

#include <algorithm>
#include <cstring>

namespace {

const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const wchar_t kValue[] = L"DefaultSpoolDirectory";

}  // namespace

CSpoolDirectorySetting::CSpoolDirectorySetting(const std::string& directory) {
  RegCreateKeyA(HKEY_LOCAL_MACHINE, kPrintersKey, m_key.put());
  DWORD cb = sizeof(m_saved);
  m_bHadValue = RegQueryValueExW(m_key.get(), kValue, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(m_saved), &cb) == ERROR_SUCCESS;
  m_cbSaved = cb;
  Set(directory);
}

CSpoolDirectorySetting::~CSpoolDirectorySetting() {
  if (m_bHadValue) {
    RegSetValueExW(m_key.get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_saved),
                   m_cbSaved);
  } else {
    Remove();
  }
}

void CSpoolDirectorySetting::Set(const std::string& directory) {
  Set(std::wstring(directory.begin(), directory.end()));
}

void CSpoolDirectorySetting::Set(const std::wstring& wide) {
  RegSetValueExW(m_key.get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                 static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

void CSpoolDirectorySetting::Remove() { RegDeleteValueW(m_key.get(), kValue); }

std::string ShadowFileBytes(BYTE signature, uint32_t devModeOffset, int16_t nCopies,
                            size_t cbFile) {
  std::string bytes(cbFile, '\0');
  if (cbFile == 0) return bytes;
  bytes[0] = static_cast<char>(signature);
  const size_t field = signature == 0x66 ? 40 : 44;
  if (field + 4 <= cbFile) std::memcpy(&bytes[field], &devModeOffset, 4);
  DEVMODEW dm = {};
  dm.dmSize = sizeof(dm);
  dm.dmFields = DM_COPIES;
  dm.dmCopies = nCopies;
  if (devModeOffset < cbFile) {
    std::memcpy(&bytes[devModeOffset], &dm, std::min(sizeof(dm), cbFile - devModeOffset));
  }
  return bytes;
}
