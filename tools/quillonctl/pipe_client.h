// The client's side of the service's pipe: find a free instance, write one
// message (header, then payload), and wait for the service to end the
// connection, which it does once it has handled the message.
#pragma once

#include <windows.h>

#include <stdint.h>

enum class SendOutcome { Sent, NotRunning, TimedOut, NotTakenWhole, CannotOpen };

struct CSendResult {
  SendOutcome outcome;
  DWORD dwError;   // the system error behind NotTakenWhole and CannotOpen
};

// The pipe counts as absent (service not running) once it has been missing
// this long: between two connections the service may have no instance for
// up to its one-second pause.
constexpr DWORD kAbsentGraceMs = 2000;

// dwTimeoutMs bounds the wait for a free instance, and again the writing and
// the wait for the service to end the connection (at least 5 s for those).
CSendResult SendPipeMessage(const char* pszPipe, uint32_t dwType, const void* pPayload,
                            uint32_t cbPayload, DWORD dwTimeoutMs);
