// The command-line switches against Wine's real Service Control Manager.
// Each program run installs under a name of its own and removes it again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "event_log_sim.h"
#include "installed_service.h"
#include "sim_fixture.h"
#include "service_core/win_owners.h"
#include "service_host/svc_base.h"

namespace {


std::string ExePath() {
  char szPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  return szPath;
}

class CommandLineTest : public ::testing::Test {
 protected:
  sim::Owned<sim::EventLog> eventLog;

  CommandLineTest()
      : m_name("Quillon Install Test " + std::to_string(GetCurrentProcessId())),
        m_service(m_name.c_str(), "Spooler\0") {}

  // A service that stays installed would be started with the session:
  // whatever a case leaves behind goes.
  void TearDown() override {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return;
    ScHandle service(OpenServiceA(manager.get(), m_name.c_str(), DELETE));
    if (service) DeleteService(service.get());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, EventKey().c_str());
  }

  std::string EventKey() const {
    return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + m_name;
  }

  // Runs the command line and returns what it printed.
  std::string Command(std::vector<const char*> args, BOOL* handled = nullptr) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("quillon.exe"));
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    ::testing::internal::CaptureStdout();
    BOOL result = m_service.HandleCommandLine(static_cast<int>(argv.size()), argv.data());
    std::string out = ::testing::internal::GetCapturedStdout();
    if (handled) *handled = result;
    return out;
  }

  std::string m_name;
  CSvcBase m_service;
};

TEST_F(CommandLineTest, WithoutASwitchTheProcessConnectsToTheScm) {
  for (std::vector<const char*> args :
       {std::vector<const char*>{}, {"-r"}, {"-x"}, {"install"}, {"-iu"}}) {
    BOOL handled = TRUE;
    EXPECT_EQ(Command(args, &handled), "");
    EXPECT_FALSE(handled);
  }
  EXPECT_FALSE(m_service.IsServiceInstalled());
  EXPECT_TRUE(eventLog->Events().empty());
}

TEST_F(CommandLineTest, InstallRegistersTheServiceAndItsEventSource) {
  BOOL handled = FALSE;
  // Extra arguments are ignored; the switch is case-blind.
  EXPECT_EQ(Command({"-I", "extra", "args"}, &handled), m_name + " installed\n");
  EXPECT_TRUE(handled);
  EXPECT_TRUE(m_service.IsServiceInstalled());

  auto events = eventLog->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, EVMSG_INSTALLED);
  EXPECT_EQ(events[0].type, EVENTLOG_INFORMATION_TYPE);
  EXPECT_EQ(events[0].text, "The " + m_name + " service was installed.\r\n");

  // The event-source key names this executable as its message file.
  RegKey hKey;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, EventKey().c_str(), 0, KEY_READ, hKey.put()),
            ERROR_SUCCESS);
  char szFile[MAX_PATH] = {};
  DWORD type = 0, cb = sizeof(szFile);
  EXPECT_EQ(RegQueryValueExA(hKey.get(), "EventMessageFile", nullptr, &type,
                             reinterpret_cast<BYTE*>(szFile), &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(std::string(szFile), ExePath());
  EXPECT_EQ(cb, ExePath().size() + 1);
  DWORD types = 0;
  cb = sizeof(types);
  EXPECT_EQ(RegQueryValueExA(hKey.get(), "TypesSupported", nullptr, &type,
                             reinterpret_cast<BYTE*>(&types), &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(types, 7u);

  // The SCM entry: own process, started at boot, local system, the path as
  // the module reports it, in quotes so that spaces in it cannot make the
  // SCM run another program.
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle service(OpenServiceA(manager.get(), m_name.c_str(), SERVICE_QUERY_CONFIG));
  ASSERT_TRUE(service);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                  static_cast<DWORD>(buffer.size()), &needed));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(std::string(config->lpBinaryPathName), "\"" + ExePath() + "\"");
  EXPECT_EQ(std::string(config->lpDisplayName), m_name);
  std::string account = config->lpServiceStartName ? config->lpServiceStartName : "";
  EXPECT_TRUE(account.empty() || account == "LocalSystem") << account;
  // The service to start first. Wine's QueryServiceConfig does not
  // tell it; the SCM's own key holds the list.
  EXPECT_TRUE(DependsOn(m_name, L"Spooler"));
}

TEST_F(CommandLineTest, InstallingTwiceChangesNothing) {
  ASSERT_EQ(Command({"-i"}), m_name + " installed\n");
  eventLog->Clear();
  EXPECT_EQ(Command({"-i"}), m_name + " is already installed\n");
  EXPECT_TRUE(eventLog->Events().empty());
  EXPECT_TRUE(m_service.IsServiceInstalled());
}

TEST_F(CommandLineTest, RemoveDeletesTheEntryAndKeepsTheEventSource) {
  ASSERT_EQ(Command({"-i"}), m_name + " installed\n");
  eventLog->Clear();
  EXPECT_EQ(Command({"-U"}),
            m_name + " removed. (You must delete the file (" + ExePath() + ") yourself.)\n");
  EXPECT_FALSE(m_service.IsServiceInstalled());
  auto events = eventLog->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, EVMSG_REMOVED);
  EXPECT_EQ(events[0].text, "The " + m_name + " service was removed.\r\n");

  RegKey hKey;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, EventKey().c_str(), 0, KEY_READ, hKey.put()),
            ERROR_SUCCESS);
}

TEST_F(CommandLineTest, RemovingWhatIsNotInstalledSaysSoAndWritesNothing) {
  BOOL handled = FALSE;
  EXPECT_EQ(Command({"-u"}, &handled), m_name + " is not installed\n");
  EXPECT_TRUE(handled);
  EXPECT_TRUE(eventLog->Events().empty());
}

}  // namespace
