#include "installed_service.h"

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

void RemoveInstalledService(SC_HANDLE manager, const char* pszName, DWORD timeoutMs) {
  ScHandle service(OpenServiceA(manager, pszName, SERVICE_ALL_ACCESS));
  if (!service) return;
  const DWORD pid = ServiceProcessIdOf(service.get());
  SERVICE_STATUS status;
  ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  WaitForProcessEnd(pid, timeoutMs);
  DeleteService(service.get());
}

bool RunUntilJobEvent(const std::function<void()>& submit, DWORD timeoutMs) {
  UniqueHandle jobEvent(OpenEventA(SYNCHRONIZE, FALSE, "JOB_EVENT"));
  if (!jobEvent) return false;
  UniqueHandle ready(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  DWORD woken = WAIT_TIMEOUT;
  // SignalObjectAndWait: no pulse can fall between "ready" and the wait.
  std::thread waiter(
      [&] { woken = SignalObjectAndWait(ready.get(), jobEvent.get(), timeoutMs, FALSE); });
  WaitForSingleObject(ready.get(), timeoutMs);
  submit();
  waiter.join();
  return woken == WAIT_OBJECT_0;
}
