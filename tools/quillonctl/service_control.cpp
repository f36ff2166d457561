#include "service_control.h"

#include <cctype>
#include <vector>

#include "service_core/win_owners.h"
#include "service_core/quillon_service.h"
#include "system_text.h"

namespace {

constexpr DWORD kPollMs = 100;

bool ProcessLives(DWORD dwPid) {
  if (!dwPid) return false;
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, dwPid));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

bool StatusOf(SC_HANDLE hService, SERVICE_STATUS_PROCESS* pStatus) {
  DWORD cbNeeded = 0;
  return QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(pStatus),
                              sizeof(*pStatus), &cbNeeded) != FALSE;
}

}  // namespace

SERVICE_FACTS QueryServiceFacts(const char* pszName) {
  SERVICE_FACTS facts;
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    facts.dwError = GetLastError();
    return facts;
  }
  ScHandle service(
      OpenServiceA(manager.get(), pszName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service) {
    facts.dwError = GetLastError();
    if (facts.dwError == ERROR_SERVICE_DOES_NOT_EXIST) facts.dwError = 0;
    return facts;
  }
  facts.bInstalled = true;
  SERVICE_STATUS_PROCESS status = {};
  if (StatusOf(service.get(), &status)) {
    facts.dwState = status.dwCurrentState;
    facts.dwPid = status.dwProcessId;
    facts.bProcessLives = ProcessLives(status.dwProcessId);
  } else {
    facts.dwError = GetLastError();
  }
  DWORD cbNeeded = 0;
  QueryServiceConfigA(service.get(), nullptr, 0, &cbNeeded);
  if (cbNeeded) {
    std::vector<BYTE> buffer(cbNeeded);
    auto* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (QueryServiceConfigA(service.get(), pConfig, cbNeeded, &cbNeeded) &&
        pConfig->lpBinaryPathName) {
      facts.imagePath = pConfig->lpBinaryPathName;
    }
  }
  return facts;
}

bool IsServiceRunning(const SERVICE_FACTS& facts) {
  return facts.dwState == SERVICE_RUNNING && facts.bProcessLives;
}

std::string ServiceStateText(const SERVICE_FACTS& facts) {
  if (!facts.bInstalled) return "not installed";
  switch (facts.dwState) {
    case SERVICE_RUNNING:
      return facts.bProcessLives ? "running" : "stopped (its process has ended)";
    case SERVICE_STOPPED:
      return "stopped";
    case SERVICE_START_PENDING:
      return "starting";
    case SERVICE_STOP_PENDING:
      return facts.bProcessLives ? "stopping" : "stopped (its process has ended)";
    case SERVICE_PAUSED:
      return "paused";
    default:
      return "in state " + std::to_string(facts.dwState);
  }
}

std::string ImagePathDirectory(const std::string& imagePath) {
  std::string path;
  if (!imagePath.empty() && imagePath[0] == '"') {
    const size_t close = imagePath.find('"', 1);
    path = imagePath.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  } else {
    std::string lower;
    for (char c : imagePath) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t exe = lower.find(".exe");
    path = exe == std::string::npos ? imagePath.substr(0, imagePath.find(' '))
                                    : imagePath.substr(0, exe + 4);
  }
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool RestartService(const char* pszName, DWORD dwTimeoutMs, std::string* pWhy) {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScHandle service(manager ? OpenServiceA(manager.get(), pszName,
                                          SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_START)
                           : nullptr);
  if (!service) {
    *pWhy = "the service cannot be opened: " + SystemErrorText(GetLastError());
    return false;
  }
  SERVICE_STATUS_PROCESS status = {};
  if (StatusOf(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
      ProcessLives(status.dwProcessId)) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    SERVICE_STATUS stopped = {};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &stopped) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
      *pWhy = "the service does not take the stop request: " + SystemErrorText(GetLastError());
      return false;
    }
    // The process's end is the sign of a stop that every SCM gives.
    if (process && WaitForSingleObject(process.get(), dwTimeoutMs) != WAIT_OBJECT_0) {
      *pWhy = "the service did not stop within " + std::to_string(dwTimeoutMs / 1000) + " s";
      return false;
    }
  }
  if (!StartServiceA(service.get(), 0, nullptr) &&
      GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    *pWhy = "the service does not start: " + SystemErrorText(GetLastError());
    return false;
  }
  const ULONGLONG deadline = GetTickCount64() + dwTimeoutMs;
  while (StatusOf(service.get(), &status) && status.dwCurrentState == SERVICE_START_PENDING &&
         GetTickCount64() < deadline) {
    Sleep(kPollMs);   // the SCM signals no change of state to wait on
  }
  if (status.dwCurrentState != SERVICE_RUNNING || !ProcessLives(status.dwProcessId)) {
    *pWhy = "the service did not reach the running state (it may have stopped at start: see "
            "its events)";
    return false;
  }
  return true;
}

bool FindServiceDirectory(const std::string& option, bool bGiven, std::string* pDir,
                          std::string* pWhy) {
  if (bGiven) {
    *pDir = option;
  } else {
    const SERVICE_FACTS facts = QueryServiceFacts(kServiceName);
    *pDir = ImagePathDirectory(facts.imagePath);
    if (pDir->empty()) {
      *pWhy = facts.bInstalled
                  ? "the service's image path names no directory: give --service-dir"
                  : "the service is not installed: give --service-dir, the directory of "
                    "quillon.exe";
      return false;
    }
  }
  const DWORD dwAttributes = GetFileAttributesA(pDir->c_str());
  if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *pWhy = "the service's directory " + *pDir + " is not there";
    return false;
  }
  return true;
}
