// What the end-to-end tests of the installed quillon.exe share: paths,
// files for the service's directory, and the service process seen from the
// SCM.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The service's own names, as an administrator meets them.
constexpr char kInstalledServiceName[] = "Tamrel Quillon Service";
constexpr char kServiceSettingsKey[] = "Software\\Vornik\\Maravel";
constexpr char kServiceExeName[] = "quillon.exe";

// The full path of a path that may be relative or a Z: path of the build.
std::string FullPath(const char* path);

// Writes the bytes to the file, replacing it; true when all were written.
bool WriteTextFile(const std::string& path, const std::string& text);

// Runs the program with the arguments and waits for it; its exit code, or
// 9999 when it could not be started or did not end within two minutes.
DWORD RunProgram(const std::string& exe, const std::string& args);
// The same, with what the program wrote to its output and error streams.
DWORD RunProgramOutput(const std::string& exe, const std::string& args, std::string* pOutput);

// The programs an end-to-end test copies into a service directory of its
// own: the service, its page counter and the winspool.drv stand-in.
struct ServiceBinaries {
  std::string exe;
  std::string pageCounter;
  std::string spooler;
};

// Makes `dir` a service directory: the binaries under the names the
// service and Wine look for, and the two printer lists with the header the
// service writes. True when every file was written.
bool PlaceServiceFiles(const std::string& dir, const ServiceBinaries& binaries,
                       const std::vector<std::string>& printers,
                       const std::vector<std::string>& gdiPrinters);

// Sets the service's "DSN" in its settings key; true when it was written.
bool SetServiceDsn(const std::string& dsn);

// Whether the SCM starts the other service before the named one: the other
// is among the names of its DependOnService value. (Wine's
// QueryServiceConfig leaves lpDependencies empty, and its CreateServiceA
// stores more after the names it was given.)
bool DependsOn(const std::string& service, const wchar_t* pwszOther);

// Runs `action` while a thread of this program waits on the service's
// JOB_EVENT, opened by its global name as a program of any session opens
// it; true when the service pulsed it (it does once it has accounted a job)
// within the time.
bool JobEventPulsedDuring(const std::function<void()>& action, DWORD timeoutMs);

// The process id of the service's process, 0 when none runs.
DWORD ServiceProcessIdOf(SC_HANDLE service);

// Waits until the process has ended; the process ending is the reliable
// sign of a stopped service. True when it ended (or there was none).
bool WaitForProcessEnd(DWORD pid, DWORD timeoutMs);

// Asks the service to stop and waits until its process has ended; true
// when it ended in time (or none ran).
bool StopServiceProcess(SC_HANDLE service, DWORD timeoutMs);

// Stops and deletes the service of that name, if it is installed: an
// installed service starts with every new Wine session, so none is left.
void RemoveInstalledService(SC_HANDLE manager, const char* pszName, DWORD timeoutMs);

// Until `done` says so or the time is up, looking again at every change of
// the names or sizes of the files in `dir`. True when it said so.
bool WaitForChangeUntil(const std::string& dir, const std::function<bool()>& done,
                        DWORD timeoutMs);

// Whether the file is there and holds at least one byte.
bool HasContent(const std::string& path);
