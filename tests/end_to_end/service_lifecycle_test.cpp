// The real quillon.exe under Wine's Service Control Manager: installed with
// "-i", started on an SQLite database, stopped on request, removed with
// "-u"; and a wrong "DSN" that makes it stop by itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kName[] = "Tamrel Quillon Service";
const char kSettingsKey[] = "Software\\Vornik\\Maravel";

std::string QuillonExe() {
  char szFull[MAX_PATH] = {};
  GetFullPathNameA(QUILLON_EXE, MAX_PATH, szFull, nullptr);
  return szFull;
}

// Runs quillon.exe with the arguments; returns its standard output with the
// C runtime's CR LF line ends made LF again, and its exit code.
std::string RunQuillon(const std::string& args, DWORD* exitCode = nullptr) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE hRead = nullptr, hWrite = nullptr;
  if (!CreatePipe(&hRead, &hWrite, &sa, 0)) return "<no pipe>";
  SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = hWrite;
  si.hStdError = hWrite;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::string cmd = "\"" + QuillonExe() + "\" " + args;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(hRead);
    CloseHandle(hWrite);
    return "<not started>";
  }
  CloseHandle(hWrite);
  std::string out;
  char buf[512];
  DWORD n = 0;
  while (ReadFile(hRead, buf, sizeof(buf), &n, nullptr) && n) out.append(buf, n);
  CloseHandle(hRead);
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  if (exitCode) *exitCode = code;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  std::string lf;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    lf += out[i];
  }
  return lf;
}

void WriteDsn(const std::string& dsn) {
  HKEY hKey = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kSettingsKey, &hKey), ERROR_SUCCESS);
  RegSetValueExA(hKey, "DSN", 0, REG_SZ, reinterpret_cast<const BYTE*>(dsn.c_str()),
                 static_cast<DWORD>(dsn.size() + 1));
  RegCloseKey(hKey);
}

class ServiceLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(m_manager, nullptr);
    RemoveLeftovers();
  }
  void TearDown() override {
    RemoveLeftovers();
    if (m_manager) CloseServiceHandle(m_manager);
  }

  // An installed service starts with every new Wine session: never leave one.
  void RemoveLeftovers() {
    SC_HANDLE service = OpenServiceA(m_manager, kName, SERVICE_ALL_ACCESS);
    if (!service) return;
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WaitForProcessEnd(ServiceProcessId(service), 30000);
    DeleteService(service);
    CloseServiceHandle(service);
  }

  static DWORD ServiceProcessId(SC_HANDLE service, DWORD* state = nullptr) {
    SERVICE_STATUS_PROCESS ssp = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&ssp),
                              sizeof(ssp), &needed)) {
      return 0;
    }
    if (state) *state = ssp.dwCurrentState;
    return ssp.dwProcessId;
  }

  // The service process ending is the reliable sign of a stopped service.
  static bool WaitForProcessEnd(DWORD pid, DWORD timeoutMs) {
    if (!pid) return true;
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return true;   // already gone
    bool ended = WaitForSingleObject(h, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(h);
    return ended;
  }

  // The SCM's state is not waitable here: look at it until a deadline.
  static bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
      DWORD state = 0;
      ServiceProcessId(service, &state);
      if (state == wanted) return true;
      Sleep(50);
    }
    return false;
  }

  static bool WaitForNamedEvent(const char* name, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
      HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, name);
      if (h) {
        CloseHandle(h);
        return true;
      }
      Sleep(50);
    }
    return false;
  }

  SC_HANDLE m_manager = nullptr;
};

TEST_F(ServiceLifecycleTest, InstallStartStopRemove) {
  const char* db = getenv("QUILLON_E2E_DB");
  ASSERT_NE(db, nullptr) << "QUILLON_E2E_DB names the service's database";
  WriteDsn(std::string("Driver=SQLite3;Database=") + db);

  EXPECT_EQ(RunQuillon("-i"), "Tamrel Quillon Service installed\n");
  EXPECT_EQ(RunQuillon("-I"), "Tamrel Quillon Service is already installed\n");

  SC_HANDLE service = OpenServiceA(m_manager, kName, SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(WaitForState(service, SERVICE_RUNNING, 30000));
  // Serving: the worker body has created its stop event.
  ASSERT_TRUE(WaitForNamedEvent("TAMREL_STOP", 30000));
  DWORD pid = ServiceProcessId(service);
  ASSERT_NE(pid, 0u);

  SERVICE_STATUS status = {};
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(WaitForProcessEnd(pid, 30000));
  CloseServiceHandle(service);

  EXPECT_EQ(RunQuillon("-u"), "Tamrel Quillon Service removed. (You must delete the file (" +
                                  QuillonExe() + ") yourself.)\n");
  EXPECT_EQ(RunQuillon("-u"), "Tamrel Quillon Service is not installed\n");
}

TEST_F(ServiceLifecycleTest, WrongDsnStopsTheServiceRightAfterItStarts) {
  WriteDsn("DSN=NoSuchQuillonDataSource");
  ASSERT_EQ(RunQuillon("-i"), "Tamrel Quillon Service installed\n");
  SC_HANDLE service = OpenServiceA(m_manager, kName, SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  DWORD pid = ServiceProcessId(service);
  EXPECT_TRUE(WaitForProcessEnd(pid, 30000));
  HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, "TAMREL_STOP");
  EXPECT_EQ(h, nullptr) << "the worker body ran";
  if (h) CloseHandle(h);
  CloseServiceHandle(service);
}

TEST(QuillonExecutableTest, CarriesTheMessageTableInEnglish) {
  HMODULE hExe = LoadLibraryExA(QuillonExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(hExe, nullptr) << GetLastError();
  const char* args[] = {"pagecnt.dll cannot be found\n"};
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      hExe, 110, 1033, reinterpret_cast<LPSTR>(&text), 0,
      reinterpret_cast<va_list*>(const_cast<char**>(args)));
  ASSERT_NE(n, 0u) << GetLastError();
  EXPECT_EQ(std::string(text, n),
            "Error occured pagecnt.dll cannot be found\n. Service was stopped.\r\n");
  LocalFree(text);
  for (DWORD id = 100; id <= 110; ++id) {
    text = nullptr;
    EXPECT_NE(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             hExe, id, 1033, reinterpret_cast<LPSTR>(&text), 0, nullptr),
              0u) << id;
    if (text) LocalFree(text);
  }
  FreeLibrary(hExe);
}

TEST_F(ServiceLifecycleTest, StartedByHandWithoutASwitchItEndsQuietly) {
  DWORD code = 1;
  EXPECT_EQ(RunQuillon("-r", &code), "");
  EXPECT_EQ(code, 0u);
}

}  // namespace
