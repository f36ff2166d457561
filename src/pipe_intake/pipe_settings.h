// How the pipe intake behaves: the product's values by default; tests change
// them on their own service object (a pipe name of their own, short pauses, a
// client that is not an administrator).
#pragma once

#include <windows.h>

#include <string>

#include "pipe_intake/pipe_protocol.h"
#include "pipe_intake/pipe_security.h"

// Starts a connection thread (CreateThread in the product); null when none
// could be started.
inline HANDLE StartPipeThread(LPTHREAD_START_ROUTINE pfnRoutine, LPVOID pParam) {
  return CreateThread(nullptr, 0, pfnRoutine, pParam, 0, nullptr);
}

struct CPipeIntakeSettings {
  std::string sPipeName = kPipeName;
  // After each accepted connection the listener pauses, so that it accepts
  // at most one connection a second.
  DWORD dwAcceptPauseMs = 1000;
  // A connection that sends no message within this time is dropped.
  DWORD dwReadTimeoutMs = 5000;
  // Whether the client of a connected instance may change the permission
  // rules (PipeClientIsAdministrator in the product).
  bool (*pfnMayChangeRules)(HANDLE hPipe) = PipeClientIsAdministrator;
  HANDLE (*pfnStartThread)(LPTHREAD_START_ROUTINE, LPVOID) = StartPipeThread;
};
