// The Windows Installer package as an administrator uses it, in a Wine
// prefix of this test's own: a silent installation, a job recorded by the
// installed service, removal, and an upgrade from a lower version.
//
// Under Wine the ODBC driver manager is the host's unixODBC, which cannot
// load the Windows driver the package carries; the "DSN" these cases give
// the service therefore names the host's SQLite driver and a database file
// on the host (the driver itself is tested on its own in
// odbc_driver_test.cpp). A "DSN" that exists before the installation is
// also what the package must leave as it is.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "installed_service.h"
#include "pipe_intake/pipe_protocol.h"
#include "query_rows.h"
#include "service_core/win_owners.h"

namespace {

const DWORD kWaitMs = 60000;
const char kUpgradeCode[] = "{341524D0-AB6D-4345-AF97-A495939D0ADA}";
const char kEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tamrel Quillon Service";
const char kDriverKey[] = "SOFTWARE\\ODBC\\ODBCINST.INI\\SQLite3 ODBC Driver";

// The database on the host, as the host's driver takes its path.
const char kDatabaseFile[] = QUILLON_PACKAGE_DB;
const char kHeaderLine[] = "//Please do not modify this file manualy!!!\r\n";


std::string InstallDir() {
  char dir[MAX_PATH] = {};
  ExpandEnvironmentStringsA("%ProgramFiles%\\Quillon", dir, MAX_PATH);
  return dir;
}
std::string Installed(const std::string& name) { return InstallDir() + "\\" + name; }

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A value of HKEY_LOCAL_MACHINE in the 64-bit view, and its type.
std::string RegValue(const char* key, const char* name, DWORD* pType = nullptr) {
  RegKey h;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, h.put()) !=
      ERROR_SUCCESS) {
    return "(no key)";
  }
  BYTE data[1024] = {};
  DWORD cb = sizeof(data) - 2, type = 0;
  if (RegQueryValueExA(h.get(), name, nullptr, &type, data, &cb) != ERROR_SUCCESS) {
    return "(no value)";
  }
  if (pType) *pType = type;
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
  return reinterpret_cast<char*>(data);
}

// The connection string the service records with, as it is now.
std::string Dsn() { return RegValue(kServiceSettingsKey, "DSN"); }

bool KeyExists(const char* key) {
  RegKey h;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, h.put()) ==
         ERROR_SUCCESS;
}

DWORD Msiexec(const std::string& args) { return RunProgram("msiexec.exe", args); }

// The installed products of the package's upgrade code, with their versions.
std::vector<std::string> InstalledVersions() {
  std::vector<std::string> versions;
  char product[39] = {};
  for (DWORD i = 0; MsiEnumRelatedProductsA(kUpgradeCode, 0, i, product) == ERROR_SUCCESS; ++i) {
    char version[64] = {};
    DWORD cch = sizeof(version);
    MsiGetProductInfoA(product, INSTALLPROPERTY_VERSIONSTRING, version, &cch);
    versions.push_back(version);
  }
  return versions;
}

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
    m_manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(m_manager);
  }

  // The service's process while it runs; 0 when it is not installed or not
  // running. The process living is the sign: Wine's SCM may still say
  // RUNNING after the process has gone.
  DWORD RunningServiceProcess() const {
    ScHandle service(OpenServiceA(m_manager.get(), kInstalledServiceName, SERVICE_QUERY_STATUS));
    const DWORD pid = service ? ServiceProcessIdOf(service.get()) : 0;
    UniqueHandle process(pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr);
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT ? pid : 0;
  }

  // Sends a job report with the installed quillonctl and waits until the
  // service has accounted it (it pulses JOB_EVENT after every job). A
  // service just started may still be opening its database: its pipe,
  // made after JOB_EVENT, says when it takes reports.
  void SendJob(const std::string& document) {
    bool bPipe = false;
    for (DWORD waited = 0; !bPipe && waited < kWaitMs; waited += 20) {
      bPipe = WaitNamedPipeA(kPipeName, 20) || GetLastError() != ERROR_FILE_NOT_FOUND;
      if (!bPipe) Sleep(20);   // no pipe yet to wait on
    }
    ASSERT_TRUE(bPipe) << "the service's pipe did not come";
    DWORD code = 9999;
    const bool bPulsed = JobEventPulsedDuring(
        [&] {
          code = RunProgram(Installed("quillonctl.exe"),
                            "job --printer \"Laser 2\" --user ann --pages 3 --document \"" +
                                document + "\"");
        },
        kWaitMs);
    ASSERT_EQ(code, 0u) << "quillonctl's exit code";
    ASSERT_TRUE(bPulsed) << "no JOB_EVENT after the job";
  }
  static std::vector<std::string> PagesOf(const std::string& document) {
    return QueryFirstColumn(Dsn(), "SELECT Pages FROM PRNDATA WHERE DocName = '" + document + "'");
  }

  ScHandle m_manager;
};

TEST_F(Package, AFirstSilentInstallationSetsUpTheDatabaseAndListsAndRunsTheService) {
  ASSERT_EQ(Dsn(), "(no key)") << "not a new machine";
  DeleteFileA((std::string("Z:") + kDatabaseFile).c_str());
  ASSERT_EQ(Msiexec(std::string("/i \"") + QUILLON_MSI + "\" /qn PRINTERS=\"Laser 2; Laser 3\" " +
                    "GDIPRINTERS=\"Front Desk\" ODBCDRIVER=SQLite3 DATABASEFILE=\"" +
                    kDatabaseFile + "\""),
            0u);
  for (const char* file : {"quillon.exe", "pagecnt.dll", "pagecount.exe", "quillonctl.exe",
                           "sqliteodbc\\sqlite3odbc.dll", "sqliteodbc\\license.txt"}) {
    EXPECT_TRUE(Exists(Installed(file))) << Installed(file);
  }
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QUILLON_VERSION});
  EXPECT_NE(Dsn().find(std::string("Database=") + kDatabaseFile), std::string::npos) << Dsn();
  EXPECT_EQ(QueryFirstColumn(Dsn(), "SELECT COUNT(*) FROM PRNDATA"), std::vector<std::string>{"0"});
  EXPECT_EQ(ReadFileText(Installed("printers.lst")),
            std::string(kHeaderLine) + "Laser 2\r\nLaser 3\r\n");
  EXPECT_EQ(ReadFileText(Installed("gdiprinters.lst")),
            std::string(kHeaderLine) + "Front Desk\r\n");
  EXPECT_NE(RunningServiceProcess(), 0u) << "the service is not running";
}

TEST_F(Package, TheServiceIsRegisteredAsMinusIRegistersIt) {
  ScHandle service(OpenServiceA(m_manager.get(), kInstalledServiceName, SERVICE_QUERY_CONFIG));
  ASSERT_TRUE(service);
  BYTE buffer[8192] = {};
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer),
                                  sizeof(buffer), &needed));
  const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_STREQ(config->lpDisplayName, kInstalledServiceName);
  EXPECT_STREQ(config->lpServiceStartName, "LocalSystem");
  // Wine's msiexec writes the key file's path bare; in quotes or not, it
  // is the installed quillon.exe.
  std::string path = config->lpBinaryPathName;
  if (path.size() > 1 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  EXPECT_EQ(path, Installed("quillon.exe"));
  EXPECT_TRUE(DependsOn(kInstalledServiceName, L"Spooler"));

  DWORD type = 0;
  EXPECT_EQ(RegValue(kEventSourceKey, "EventMessageFile", &type), Installed("quillon.exe"));
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(RegValue(kEventSourceKey, "TypesSupported", &type), "7");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
}

TEST_F(Package, TheDriverIsRegisteredUnderItsUsualName) {
  const std::string dll = Installed("sqliteodbc\\sqlite3odbc.dll");
  EXPECT_EQ(RegValue(kDriverKey, "Driver"), dll);
  EXPECT_EQ(RegValue(kDriverKey, "Setup"), dll);
  EXPECT_EQ(RegValue("SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", "SQLite3 ODBC Driver"),
            "Installed");
}

TEST_F(Package, AJobSentWithTheInstalledClientIsRecorded) {
  ASSERT_NO_FATAL_FAILURE(SendJob("Installed.pdf"));
  EXPECT_EQ(PagesOf("Installed.pdf"), std::vector<std::string>{"3"});
}

TEST_F(Package, RemovalStopsAndRemovesTheServiceAndKeepsTheData) {
  const DWORD pid = RunningServiceProcess();
  ASSERT_NE(pid, 0u);
  ASSERT_EQ(Msiexec(std::string("/x \"") + QUILLON_MSI + "\" /qn"), 0u);
  EXPECT_TRUE(WaitForProcessEnd(pid, kWaitMs)) << "the service still runs";
  ScHandle service(OpenServiceA(m_manager.get(), kInstalledServiceName, SERVICE_QUERY_STATUS));
  EXPECT_FALSE(service) << "the service is still registered";
  for (const char* file : {"quillon.exe", "pagecnt.dll", "pagecount.exe", "quillonctl.exe",
                           "sqliteodbc"}) {
    EXPECT_FALSE(Exists(Installed(file))) << Installed(file);
  }
  EXPECT_FALSE(KeyExists(kEventSourceKey));
  EXPECT_FALSE(KeyExists(kDriverKey));
  EXPECT_TRUE(InstalledVersions().empty());
  // What the service and the administrator made stays.
  EXPECT_EQ(PagesOf("Installed.pdf"), std::vector<std::string>{"3"});
  EXPECT_NE(Dsn().find(kDatabaseFile), std::string::npos) << Dsn();
  EXPECT_EQ(ReadFileText(Installed("gdiprinters.lst")),
            std::string(kHeaderLine) + "Front Desk\r\n");
}

TEST_F(Package, AnUpgradeKeepsTheJobsListsAndDsnAndRunsTheNewVersion) {
  ASSERT_EQ(Msiexec(std::string("/i \"") + QUILLON_PREVIOUS_MSI + "\" /qn"), 0u);
  ASSERT_EQ(InstalledVersions(), std::vector<std::string>{QUILLON_PREVIOUS_VERSION});
  const DWORD oldPid = RunningServiceProcess();
  ASSERT_NE(oldPid, 0u) << "the older version's service is not running";
  ASSERT_NO_FATAL_FAILURE(SendJob("Before upgrade.pdf"));
  // A "DSN" the administrator wrote: setup would write another.
  const std::string dsn = std::string("Driver=SQLite3;Database=") + kDatabaseFile;
  ASSERT_TRUE(SetServiceDsn(dsn));
  const std::string printers = ReadFileText(Installed("printers.lst"));

  ASSERT_EQ(Msiexec(std::string("/i \"") + QUILLON_MSI + "\" /qn PRINTERS=\"Laser 4\""), 0u);
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{QUILLON_VERSION})
      << "the older product is still registered, or the newer one is not";
  EXPECT_TRUE(WaitForProcessEnd(oldPid, kWaitMs)) << "the older service process still runs";
  EXPECT_NE(RunningServiceProcess(), 0u) << "the service does not run after the upgrade";
  EXPECT_EQ(Dsn(), dsn);
  EXPECT_EQ(PagesOf("Before upgrade.pdf"), std::vector<std::string>{"3"});
  EXPECT_EQ(ReadFileText(Installed("printers.lst")), printers + "Laser 4\r\n")
      << "the list was not kept, or the printer not added";
  EXPECT_EQ(ReadFileText(Installed("gdiprinters.lst")),
            std::string(kHeaderLine) + "Front Desk\r\n");
  ASSERT_NO_FATAL_FAILURE(SendJob("After upgrade.pdf"));
  EXPECT_EQ(PagesOf("After upgrade.pdf"), std::vector<std::string>{"3"});

  EXPECT_EQ(Msiexec(std::string("/x \"") + QUILLON_MSI + "\" /qn"), 0u);
}

}  // namespace
