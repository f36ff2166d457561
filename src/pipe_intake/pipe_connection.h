// One connection of the pipe: read one message, act on it, close.
#pragma once

#include <windows.h>

#include <string>

#include "service_core/work_count.h"
#include "service_core/win_owners.h"

class CQuillonService;

// The start block of a connection thread, which owns it. Members are given
// back in reverse order: the ticket, which tells the listener that the
// connection no longer uses the service, last.
struct PIPE_CONN_PARAM {
  CWorkCount::Ticket ticket;
  UniqueHandle hPipe;        // the connected server instance
  UniqueHandle hStopEvent;   // the connection's own handle of the service's stop event
  CQuillonService* pService = nullptr;
};

// The connection thread (argument: a new PIPE_CONN_PARAM, which it deletes).
// Returns 0 when a message was handled, -1 on any failure or without a
// start block. The client learns of a failure only by the broken pipe.
DWORD WINAPI ExtractDataFromPipe(LPVOID pParam);

// The work of ExtractDataFromPipe on a start block that the caller keeps;
// on failure *pFailure (when given) receives the failure's text.
//   header: 8 bytes; dwSize 0 or above kMaxPipePayload ends the connection;
//   PIPE_JOB: the bytes received (at most 1,640, the rest zero) are accounted;
//   PIPE_PERMISSION: at least 12 bytes, from an administrator
//     (CPipeIntakeSettings::pfnMayChangeRules), is stored with SetPermission;
//   anything else ends the connection.
DWORD ServePipeConnection(PIPE_CONN_PARAM& conn, std::string* pFailure);
