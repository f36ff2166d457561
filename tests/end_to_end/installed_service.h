// What the end-to-end tests of the installed quillon.exe share: paths,
// files for the service's directory, and the service process seen from the
// SCM.
#pragma once

#include <windows.h>

#include <string>

// The full path of a path that may be relative or a Z: path of the build.
std::string FullPath(const char* path);

// Writes the bytes to the file, replacing it; true when all were written.
bool WriteTextFile(const std::string& path, const std::string& text);

// Runs the program with the arguments and waits for it; its exit code, or
// 9999 when it could not be started or did not end within two minutes.
DWORD RunProgram(const std::string& exe, const std::string& args);

// The process id of the service's process, 0 when none runs.
DWORD ServiceProcessIdOf(SC_HANDLE service);

// Waits until the process has ended; the process ending is the reliable
// sign of a stopped service. True when it ended (or there was none).
bool WaitForProcessEnd(DWORD pid, DWORD timeoutMs);

// Stops and deletes the service of that name, if it is installed: an
// installed service starts with every new Wine session, so none is left.
void RemoveInstalledService(SC_HANDLE manager, const char* pszName, DWORD timeoutMs);
