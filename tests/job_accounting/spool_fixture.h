// What the tests of the shadow-file reader need: a directory made the
// spooler's directory in the test prefix's registry for the length of a
// test (the previous setting is put back), and the bytes of a shadow file.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>

#include "service_core/win_owners.h"

class CSpoolDirectorySetting {
 public:
  explicit CSpoolDirectorySetting(const std::string& directory);
  ~CSpoolDirectorySetting();
  CSpoolDirectorySetting(const CSpoolDirectorySetting&) = delete;
  CSpoolDirectorySetting& operator=(const CSpoolDirectorySetting&) = delete;

  // Makes another directory (or any text) the setting.
  void Set(const std::string& directory);
  void Set(const std::wstring& directory);
  void Remove();

 private:
  RegKey m_key;
  wchar_t m_saved[MAX_PATH] = {};
  DWORD m_cbSaved = 0;
  bool m_bHadValue = false;
};

// A shadow file of cbFile bytes: the signature byte, the device mode's offset
// in the field the signature selects (byte 40 for 0x66, else 44), and at
// that offset a DEVMODEW with DM_COPIES and the count, each written as far
// as it fits.
std::string ShadowFileBytes(BYTE signature, uint32_t devModeOffset, int16_t nCopies,
                            size_t cbFile = 512);
