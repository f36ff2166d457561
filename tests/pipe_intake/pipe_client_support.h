// The client's side of the pipe for the intake's tests: connect, write raw
// bytes, and wait for the service to close its end.
#pragma once

#include <windows.h>

#include <string>

#include "pipe_intake/pipe_protocol.h"
#include "service_core/win_owners.h"

// Opens the pipe, waiting (up to timeoutMs) for an instance to appear or to
// be free. Empty on failure.
UniqueHandle ConnectTo(const std::string& pipe, DWORD timeoutMs = 20000);
// One pipe message; false when it was not written whole.
bool WriteMessage(HANDLE hPipe, const void* pData, DWORD cb);
bool WriteHeader(HANDLE hPipe, uint32_t dwType, uint32_t dwSize);
// True when the server ended the connection within timeoutMs (the service
// never writes: a read ends only then).
bool WaitServerClose(HANDLE hPipe, DWORD timeoutMs = 20000);

// Deletes the service's journal beside this program, so that a case starts
// with no job left by another.
void RemoveJournal();
