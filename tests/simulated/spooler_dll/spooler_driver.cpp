#include "spooler_driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace detail {

SharedPlaceOrAbort::SharedPlaceOrAbort() {
  if (!Ok()) {
    std::fprintf(stderr, "the simulated spooler's channel cannot be opened: %lu\n",
                 GetLastError());
    std::abort();
  }
}

}  // namespace detail

namespace {
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\";
}

SpoolerDriver::SpoolerDriver() : SpoolerCore(Place()) {}

void SpoolerDriver::Reset() {
  SpoolerPlace place = Place();
  WaitForSingleObject(place.lock, INFINITE);
  std::memset(place.state, 0, sizeof(*place.state));
  ReleaseMutex(place.lock);
}

bool SpoolerDriver::OverrideFor(const std::string& exeName) {
  HKEY key = nullptr;
  std::string path = kAppDefaults + exeName + "\\DllOverrides";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // With "native" alone, a program of that name without the DLL beside it
  // would not start at all (the loader fails with c0000135); a key left
  // behind by a test that crashed must not break other programs.
  const char value[] = "native,builtin";
  LONG rc = RegSetValueExA(key, "winspool.drv", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           sizeof(value));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

void SpoolerDriver::RemoveOverrideFor(const std::string& exeName) {
  RegDeleteTreeA(HKEY_CURRENT_USER, (kAppDefaults + exeName).c_str());
}

}  // namespace sim
