// The executable is its own installer: "-i" registers it with the Service
// Control Manager and as an event source, "-u" removes the SCM entry.
#include <cstdio>
#include <cstring>
#include <string>

#include "service_core/win_owners.h"
#include "service_host/svc_base.h"

namespace {

const char kEventLogKeyPrefix[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

}  // namespace

BOOL CSvcBase::HandleCommandLine(int argc, char** argv) {
  if (argc <= 1) return FALSE;

  if (_stricmp(argv[1], "-i") == 0) {
    if (IsServiceInstalled()) {
      printf("%s is already installed\n", m_szName);
    } else if (InstallService()) {
      printf("%s installed\n", m_szName);
    } else {
      printf("%s failed to install. Error %d\n", m_szName,
             static_cast<int>(GetLastError()));
    }
    fflush(stdout);
    return TRUE;
  }

  if (_stricmp(argv[1], "-u") == 0) {
    if (!IsServiceInstalled()) {
      printf("%s is not installed\n", m_szName);
    } else if (RemoveService()) {
      char szFilePath[MAX_PATH] = {};
      GetModuleFileNameA(nullptr, szFilePath, sizeof(szFilePath));
      printf("%s removed. (You must delete the file (%s) yourself.)\n",
             m_szName, szFilePath);
    } else {
      printf("Could not remove %s. Error %d\n", m_szName,
             static_cast<int>(GetLastError()));
    }
    fflush(stdout);
    return TRUE;
  }

  return FALSE;
}

BOOL CSvcBase::IsServiceInstalled() {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return FALSE;
  ScHandle service(OpenServiceA(manager.get(), m_szName, SERVICE_QUERY_CONFIG));
  return service ? TRUE : FALSE;
}

BOOL CSvcBase::InstallService() {
  LastErrorKeeper keep;
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    keep.Capture();
    return FALSE;
  }

  char szFilePath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szFilePath, sizeof(szFilePath));

  // The SCM reads the path as a command line: unquoted, a path such as
  // C:\Program Files\Quillon\quillon.exe would first be tried as
  // C:\Program.exe, which any user who may write to C:\ could plant.
  const std::string commandLine = std::string("\"") + szFilePath + "\"";
  ScHandle service(CreateServiceA(
      manager.get(), m_szName, m_szName, SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
      commandLine.c_str(), nullptr, nullptr, m_pszDependencies, nullptr, nullptr));
  if (!service) {
    keep.Capture();
    return FALSE;
  }

  std::string key = std::string(kEventLogKeyPrefix) + m_szName;
  RegKey hKey;
  LONG rc = RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), hKey.put());
  if (rc != ERROR_SUCCESS) {
    // The SCM entry stays; the caller prints the registry's error.
    keep.Capture(static_cast<DWORD>(rc));
    return FALSE;
  }
  // The message file is a file name, not a command line: no quotes.
  RegSetValueExA(hKey.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                 reinterpret_cast<const BYTE*>(szFilePath),
                 static_cast<DWORD>(std::strlen(szFilePath) + 1));
  DWORD dwTypes =
      EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  RegSetValueExA(hKey.get(), "TypesSupported", 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&dwTypes), sizeof(dwTypes));
  hKey.reset();

  ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_INSTALLED, m_szName);
  return TRUE;
}

BOOL CSvcBase::RemoveService() {
  LastErrorKeeper keep;
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    keep.Capture();
    return FALSE;
  }
  ScHandle service(OpenServiceA(manager.get(), m_szName, DELETE));
  if (!service) {
    keep.Capture();
    return FALSE;
  }

  if (DeleteService(service.get())) {
    ReportToEventLog(EVENTLOG_INFORMATION_TYPE, EVMSG_REMOVED, m_szName);
    return TRUE;
  }
  keep.Capture();   // the console line shows the removal's error
  ReportToEventLog(EVENTLOG_ERROR_TYPE, EVMSG_NOTREMOVED, m_szName);
  return FALSE;
}
