#include "installed_service.h"

#include <algorithm>

#include <cwchar>
#include <thread>

#include "service_core/win_owners.h"

std::string FullPath(const char* path) {
  char full[MAX_PATH] = {};
  GetFullPathNameA(path, MAX_PATH, full, nullptr);
  return full;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return h && WriteFile(h.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

DWORD RunProgram(const std::string& exe, const std::string& args) {
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  std::string cmd = "\"" + exe + "\" " + args;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return 9999;
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) return 9999;
  DWORD code = 9999;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

DWORD RunProgramOutput(const std::string& exe, const std::string& args, std::string* pOutput) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  UniqueHandle hRead, hWrite;
  pOutput->clear();
  if (!CreatePipe(hRead.put(), hWrite.put(), &sa, 0)) return 9999;
  SetHandleInformation(hRead.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = hWrite.get();
  si.hStdError = hWrite.get();
  PROCESS_INFORMATION pi = {};
  std::string cmd = "\"" + exe + "\" " + args;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    return 9999;
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  hWrite.reset();
  // Drained while the program runs, and once more after it ended. Reading
  // until every write end is closed could wait for ever: a process that
  // the program starts (under Wine, one of the session's own) inherits its
  // end of the pipe and may outlive it.
  auto drain = [&] {
    DWORD cbAvailable = 0;
    char buffer[4096];
    DWORD cb = 0;
    while (PeekNamedPipe(hRead.get(), nullptr, 0, nullptr, &cbAvailable, nullptr) &&
           cbAvailable &&
           ReadFile(hRead.get(), buffer, cbAvailable < sizeof(buffer) ? cbAvailable : sizeof(buffer),
                    &cb, nullptr) &&
           cb) {
      pOutput->append(buffer, cb);
    }
  };
  DWORD dwWait = WAIT_TIMEOUT;
  for (DWORD waited = 0; dwWait == WAIT_TIMEOUT && waited < 120000; waited += 20) {
    dwWait = WaitForSingleObject(process.get(), 20);
    drain();
  }
  if (dwWait != WAIT_OBJECT_0) return 9999;
  drain();
  DWORD code = 9999;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

namespace {

std::string PrinterList(const std::vector<std::string>& printers) {
  std::string text = "//Please do not modify this file manualy!!!\r\n";
  for (const std::string& printer : printers) text += printer + "\r\n";
  return text;
}

}  // namespace

bool PlaceServiceFiles(const std::string& dir, const ServiceBinaries& binaries,
                       const std::vector<std::string>& printers,
                       const std::vector<std::string>& gdiPrinters) {
  CreateDirectoryA(dir.c_str(), nullptr);
  return CopyFileA(binaries.exe.c_str(), (dir + "\\" + kServiceExeName).c_str(), FALSE) &&
         CopyFileA(binaries.pageCounter.c_str(), (dir + "\\pagecnt.dll").c_str(), FALSE) &&
         CopyFileA(binaries.spooler.c_str(), (dir + "\\winspool.drv").c_str(), FALSE) &&
         WriteTextFile(dir + "\\printers.lst", PrinterList(printers)) &&
         WriteTextFile(dir + "\\gdiprinters.lst", PrinterList(gdiPrinters));
}

bool SetServiceDsn(const std::string& dsn) {
  RegKey key;
  return RegCreateKeyA(HKEY_LOCAL_MACHINE, kServiceSettingsKey, key.put()) == ERROR_SUCCESS &&
         RegSetValueExA(key.get(), "DSN", 0, REG_SZ, reinterpret_cast<const BYTE*>(dsn.c_str()),
                        static_cast<DWORD>(dsn.size() + 1)) == ERROR_SUCCESS;
}

DWORD ServiceProcessIdOf(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS ssp = {};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&ssp),
                            sizeof(ssp), &needed)) {
    return 0;
  }
  return ssp.dwProcessId;
}

bool WaitForProcessEnd(DWORD pid, DWORD timeoutMs) {
  if (!pid) return true;
  UniqueHandle h(OpenProcess(SYNCHRONIZE, FALSE, pid));
  return !h || WaitForSingleObject(h.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool StopServiceProcess(SC_HANDLE service, DWORD timeoutMs) {
  const DWORD pid = ServiceProcessIdOf(service);
  SERVICE_STATUS status;
  ControlService(service, SERVICE_CONTROL_STOP, &status);
  return WaitForProcessEnd(pid, timeoutMs);
}

void RemoveInstalledService(SC_HANDLE manager, const char* pszName, DWORD timeoutMs) {
  ScHandle service(OpenServiceA(manager, pszName, SERVICE_ALL_ACCESS));
  if (!service) return;
  StopServiceProcess(service.get(), timeoutMs);
  DeleteService(service.get());
}

bool DependsOn(const std::string& service, const wchar_t* pwszOther) {
  RegKey key;
  const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + service;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t wszList[256] = {};
  DWORD cb = sizeof(wszList) - sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), L"DependOnService", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(wszList), &cb) != ERROR_SUCCESS) {
    return false;
  }
  const size_t cch = cb / sizeof(wchar_t);
  for (size_t i = 0; i < cch && wszList[i]; i += wcsnlen(wszList + i, cch - i) + 1) {
    if (wcsncmp(wszList + i, pwszOther, cch - i) == 0) return true;
  }
  return false;
}

bool JobEventPulsedDuring(const std::function<void()>& action, DWORD timeoutMs) {
  UniqueHandle jobEvent(OpenEventA(SYNCHRONIZE, FALSE, "Global\\JOB_EVENT"));
  if (!jobEvent) return false;
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  DWORD woken = WAIT_TIMEOUT;
  // Signals and starts waiting in one step, so no pulse falls in between.
  std::thread waiter(
      [&] { woken = SignalObjectAndWait(ready.get(), jobEvent.get(), timeoutMs, FALSE); });
  WaitForSingleObject(ready.get(), timeoutMs);
  action();
  waiter.join();
  return woken == WAIT_OBJECT_0;
}

// Until `done` says so or the time is up, looking again at every change of
// the names or sizes of the files in `dir`. True when it said so.
bool WaitForChangeUntil(const std::string& dir, const std::function<bool()>& done,
                        DWORD timeoutMs) {
  ChangeNotification change(FindFirstChangeNotificationA(
      dir.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE));
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    // A change made by a host program is seen through the host's file
    // notifications; the bounded wait covers one that slips past.
    const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 1000));
    if (change) {
      WaitForSingleObject(change.get(), wait);
      FindNextChangeNotification(change.get());
    } else {
      Sleep(wait);
    }
  }
}

bool HasContent(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
         (data.nFileSizeLow || data.nFileSizeHigh);
}
