// The real quillon.exe under Wine's Service Control Manager: installed with
// "-i", started on an SQLite database, stopped on request, removed with
// "-u"; and a wrong "DSN" that makes it stop by itself.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installed_service.h"
#include "service_core/win_owners.h"

namespace {

const char* const kName = kInstalledServiceName;

std::string QuillonExe() { return FullPath(QUILLON_EXE); }

// Runs quillon.exe with the arguments; returns its standard output with the
// C runtime's CR LF line ends made LF again, and its exit code.
std::string RunQuillon(const std::string& args, DWORD* exitCode = nullptr,
                       const std::string& exe = QuillonExe()) {
  std::string out;
  const DWORD code = RunProgramOutput(exe, args, &out);
  if (exitCode) *exitCode = code;
  std::string lf;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    lf += out[i];
  }
  return lf;
}

class ServiceLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
    RemoveLeftovers();
  }
  void TearDown() override {
    RemoveLeftovers();
  }

  // An installed service starts with every new Wine session: never leave one.
  void RemoveLeftovers() { RemoveInstalledService(m_manager.get(), kName, 30000); }

  static DWORD StateOf(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
  }

  // The SCM's state is not waitable here: look at it until a deadline.
  static bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
      if (StateOf(service) == wanted) return true;
      Sleep(50);
    }
    return false;
  }

  // Starts the installed service and waits until it runs its worker body.
  // Returns the service's process id, 0 if it did not get that far.
  DWORD StartAndWaitUntilServing(SC_HANDLE service) {
    if (!StartServiceA(service, 0, nullptr)) {
      ADD_FAILURE() << "StartService: " << GetLastError();
      return 0;
    }
    if (!WaitForState(service, SERVICE_RUNNING, 30000)) {
      ADD_FAILURE() << "the service never reported RUNNING";
      return 0;
    }
    // Serving: the worker body has created its stop event.
    if (!WaitForNamedEvent("TAMREL_STOP", 30000)) {
      ADD_FAILURE() << "the worker body never created TAMREL_STOP";
      return 0;
    }
    return ServiceProcessIdOf(service);
  }

  static bool WaitForNamedEvent(const char* name, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
      if (UniqueHandle(OpenEventA(SYNCHRONIZE, FALSE, name))) return true;
      Sleep(50);
    }
    return false;
  }

  ScHandle m_manager;
};

TEST_F(ServiceLifecycleTest, InstallStartStopRemove) {
  const char* db = getenv("QUILLON_E2E_DB");
  ASSERT_NE(db, nullptr) << "QUILLON_E2E_DB names the service's database";
  ASSERT_TRUE(SetServiceDsn(std::string("Driver=SQLite3;Database=") + db));

  EXPECT_EQ(RunQuillon("-i"), "Tamrel Quillon Service installed\n");
  EXPECT_EQ(RunQuillon("-I"), "Tamrel Quillon Service is already installed\n");

  ScHandle service(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  DWORD pid = StartAndWaitUntilServing(service.get());
  ASSERT_NE(pid, 0u);

  SERVICE_STATUS status = {};
  EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(WaitForProcessEnd(pid, 30000));
  service.reset();   // a service with open handles is only marked for deletion

  EXPECT_EQ(RunQuillon("-u"), "Tamrel Quillon Service removed. (You must delete the file (" +
                                  QuillonExe() + ") yourself.)\n");
  EXPECT_EQ(RunQuillon("-u"), "Tamrel Quillon Service is not installed\n");
}

// A database server that accepts the connection and then says nothing: the
// driver waits in its connect until the listener goes, so the service is
// seen alive before its database fails.
class SilentServer {
 public:
  SilentServer() {
    WSADATA wsa;
    m_bStarted = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;   // any free port
    int cb = sizeof(addr);
    if (m_listener != INVALID_SOCKET &&
        bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        listen(m_listener, 4) == 0 &&
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &cb) == 0) {
      m_port = ntohs(addr.sin_port);
    }
  }
  ~SilentServer() {
    Close();
    if (m_bStarted) WSACleanup();
  }
  int Port() const { return m_port; }
  // The client is told the connection is gone: its connect fails.
  void Close() {
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);
    m_listener = INVALID_SOCKET;
  }

 private:
  bool m_bStarted = false;
  SOCKET m_listener = INVALID_SOCKET;
  int m_port = 0;
};

TEST_F(ServiceLifecycleTest, DatabaseThatFailsStopsTheServiceRightAfterItStarts) {
  SilentServer server;
  ASSERT_NE(server.Port(), 0);
  ASSERT_TRUE(SetServiceDsn("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" +
                            std::to_string(server.Port()) + ";Database=none;Uid=none;Pwd=none"));
  ASSERT_EQ(RunQuillon("-i"), "Tamrel Quillon Service installed\n");
  ScHandle service(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
  // While the driver waits in its connect, the service process is there.
  DWORD pid = ServiceProcessIdOf(service.get());
  ASSERT_NE(pid, 0u) << "no service process while its database connect waited";
  UniqueHandle hProcess(OpenProcess(SYNCHRONIZE, FALSE, pid));
  ASSERT_TRUE(hProcess) << GetLastError();

  server.Close();   // the connect fails; the service stops by itself
  EXPECT_EQ(WaitForSingleObject(hProcess.get(), 30000), WAIT_OBJECT_0) << "still running";
  EXPECT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, 30000));
}

TEST_F(ServiceLifecycleTest, InstalledFromADirectoryWithSpacesItStartsAndStops) {
  const char* db = getenv("QUILLON_E2E_DB");
  ASSERT_NE(db, nullptr) << "QUILLON_E2E_DB names the service's database";
  ASSERT_TRUE(SetServiceDsn(std::string("Driver=SQLite3;Database=") + db));
  // As under C:\Program Files: a directory whose name has spaces.
  const std::string exeDir = QuillonExe().substr(0, QuillonExe().find_last_of('\\') + 1);
  const std::string dir = exeDir + "Program Files Quillon";
  CreateDirectoryA(dir.c_str(), nullptr);
  const std::string exe = dir + "\\quillon.exe";
  ASSERT_TRUE(CopyFileA(QuillonExe().c_str(), exe.c_str(), FALSE)) << GetLastError();
  ASSERT_TRUE(CopyFileA((exeDir + "pagecnt.dll").c_str(), (dir + "\\pagecnt.dll").c_str(),
                        FALSE))
      << GetLastError();

  // What an unquoted path would run first.
  const std::string planted = exeDir + "Program.exe";
  ASSERT_TRUE(CopyFileA(PLANTED_EXE, planted.c_str(), FALSE)) << GetLastError();

  ASSERT_EQ(RunQuillon("-i", nullptr, exe), "Tamrel Quillon Service installed\n");
  ScHandle service(OpenServiceA(m_manager.get(), kName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                  static_cast<DWORD>(buffer.size()), &needed));
  const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  EXPECT_EQ(std::string(config->lpBinaryPathName), "\"" + exe + "\"");
  // It starts after the print spooler. Wine's QueryServiceConfig does not
  // tell it; the SCM's own key holds the list.
  EXPECT_TRUE(DependsOn(kName, L"Spooler"));

  DWORD pid = StartAndWaitUntilServing(service.get());
  ASSERT_NE(pid, 0u);
  SERVICE_STATUS status = {};
  EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(WaitForProcessEnd(pid, 30000));
  service.reset();
  EXPECT_EQ(RunQuillon("-u", nullptr, exe),
            "Tamrel Quillon Service removed. (You must delete the file (" + exe + ") yourself.)\n");
  DeleteFileA(planted.c_str());
  DeleteFileA(exe.c_str());
  DeleteFileA((dir + "\\pagecnt.dll").c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST(QuillonExecutableTest, CarriesTheMessageTableInEnglish) {
  ModuleHandle exe(LoadLibraryExA(QuillonExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(exe) << GetLastError();
  const char* args[] = {"pagecnt.dll cannot be found\n"};
  LocalBuffer<char> text;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      exe.get(), 110, 1033, reinterpret_cast<LPSTR>(text.put()), 0,
      reinterpret_cast<va_list*>(const_cast<char**>(args)));
  ASSERT_NE(n, 0u) << GetLastError();
  EXPECT_EQ(std::string(text.get(), n),
            "Error occured pagecnt.dll cannot be found\n. Service was stopped.\r\n");
  for (DWORD id = 100; id <= 116; ++id) {
    EXPECT_NE(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             exe.get(), id, 1033, reinterpret_cast<LPSTR>(text.put()), 0, nullptr),
              0u) << id;
  }
}

TEST_F(ServiceLifecycleTest, StartedByHandWithoutASwitchItEndsQuietly) {
  DWORD code = 1;
  EXPECT_EQ(RunQuillon("-r", &code), "");
  EXPECT_EQ(code, 0u);
}

}  // namespace
