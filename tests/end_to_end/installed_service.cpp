#include "installed_service.h"

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
