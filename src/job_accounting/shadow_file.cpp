#include "job_accounting/shadow_file.h"

#include <cstring>
#include <cwchar>

#include "job_accounting/job_facts.h"
#include "service_core/win_owners.h"

namespace {

constexpr char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
// The value is read into a 260-byte area: 129 characters and a terminator.
constexpr DWORD kSpoolDirectoryBytes = 260;
constexpr BYTE kFirstLayoutSignature = 0x66;
constexpr size_t kFirstLayoutOffsetField = 40;
constexpr size_t kSecondLayoutOffsetField = 44;

bool Fits(size_t cbFile, size_t position, size_t cbValue) {
  return position <= cbFile && cbValue <= cbFile - position;
}

}  // namespace

bool GetSpoolDirectory(wchar_t (&wszDirectory)[MAX_PATH]) {
  wszDirectory[0] = L'\0';
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  wchar_t wszValue[kSpoolDirectoryBytes / sizeof(wchar_t)] = {};
  DWORD cbValue = kSpoolDirectoryBytes;
  if (RegQueryValueExW(key.get(), L"DefaultSpoolDirectory", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(wszValue), &cbValue) != ERROR_SUCCESS) {
    return false;
  }
  // A value stored without its terminator still ends inside the area; one
  // that fills it completely has no room for one and counts as too long.
  const size_t cchValue = cbValue / sizeof(wchar_t);
  if (cchValue >= sizeof(wszValue) / sizeof(wszValue[0]) && wszValue[cchValue - 1] != L'\0') {
    return false;
  }
  wszValue[sizeof(wszValue) / sizeof(wszValue[0]) - 1] = L'\0';
  std::wcscpy(wszDirectory, wszValue);
  return true;
}

void FormatShadowFileName(const wchar_t* pwszDirectory, int32_t lJobId,
                          wchar_t (&wszPath)[MAX_PATH]) {
  std::swprintf(wszPath, MAX_PATH, L"%ls\\%05d.shd", pwszDirectory, static_cast<int>(lJobId));
}

int32_t ReadShadowCopies(int32_t lJobId) {
  wchar_t wszDirectory[MAX_PATH];
  if (!GetSpoolDirectory(wszDirectory)) return 1;
  wchar_t wszPath[MAX_PATH];
  FormatShadowFileName(wszDirectory, lJobId, wszPath);

  // Declared in the order of opening: given back as view, mapping, file.
  UniqueHandle file(CreateFileW(wszPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return 1;
  UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return 1;
  MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return 1;

  const BYTE* pbFile = static_cast<const BYTE*>(view.get());
  const size_t cbFile = static_cast<size_t>(size.QuadPart);
  const size_t offsetField = pbFile[0] == kFirstLayoutSignature ? kFirstLayoutOffsetField
                                                                 : kSecondLayoutOffsetField;
  // Every value read must lie wholly inside the file.
  if (!Fits(cbFile, offsetField, sizeof(uint32_t))) return 1;
  uint32_t devModeOffset = 0;
  std::memcpy(&devModeOffset, pbFile + offsetField, sizeof(devModeOffset));
  // The layout is undocumented: the device mode must lie beyond the field
  // that points at it, and be one by its own dmSize and dmFields, with
  // DM_COPIES set and dmCopies within dmSize.
  if (devModeOffset < offsetField + sizeof(uint32_t) || devModeOffset >= cbFile) return 1;
  JOB_FACTS facts = NoFacts(static_cast<DWORD>(lJobId));
  if (!ReadDeviceMode(pbFile + devModeOffset, cbFile - devModeOffset, facts) ||
      !(facts.dwTold & kToldCopies)) {
    return 1;
  }
  return facts.job.dwCopies;
}
