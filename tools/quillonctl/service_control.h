// The service as the Service Control Manager knows it: whether it is
// installed and runs, where its executable lies, and a restart.
#pragma once

#include <windows.h>

#include <string>

struct SERVICE_FACTS {
  bool bInstalled = false;
  DWORD dwState = 0;        // SERVICE_RUNNING, SERVICE_STOPPED, ...; 0 when not installed
  bool bProcessLives = false;
  DWORD dwPid = 0;
  std::string imagePath;    // the SCM's command line of the service (ANSI)
  DWORD dwError = 0;        // why the SCM could not be asked, or 0
};

// What the SCM says of the service of that name.
SERVICE_FACTS QueryServiceFacts(const char* pszName);

// Runs: the SCM says so and its process lives (after a process has ended
// abruptly an SCM may still report it running).
bool IsServiceRunning(const SERVICE_FACTS& facts);

// "running", "stopped", "starting", ...; "not installed".
std::string ServiceStateText(const SERVICE_FACTS& facts);

// The directory of the executable that an image path names: a quoted path
// up to its closing quote, an unquoted one up to its first blank after the
// ".exe"; without the final separator. Empty when the path names none.
std::string ImagePathDirectory(const std::string& imagePath);

// Stops the service when it runs, waits for its process to end, starts it
// and waits until it runs, each within dwTimeoutMs. False with the reason
// in *pWhy when a step fails.
bool RestartService(const char* pszName, DWORD dwTimeoutMs, std::string* pWhy);

// The service's directory: --service-dir when given, else the directory of
// the executable the SCM starts. False, with the reason, when neither is
// known or the directory is not there.
bool FindServiceDirectory(const std::string& option, bool bGiven, std::string* pDir,
                          std::string* pWhy);
