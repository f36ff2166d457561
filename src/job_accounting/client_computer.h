// The computer a job really came from: the client of the user's network
// session on this server, when there is one.
#pragma once

#include <windows.h>

// The computer buffer holds an ANSI name of at most 19 bytes and its
// terminator.
constexpr size_t kComputerBufferSize = 20;

// Looks through the network sessions of this machine (NetSessionEnum, level
// 10, every session, batches of 2048 bytes) for the first whose user name
// equals pszUserName without regard to case. When one is found, its client
// name without leading backslashes, cut to 19 bytes on a character
// boundary, replaces the buffer's text
// and the result is true; otherwise (no such session, a failing query) the
// buffer is left as it was.
bool GetClientComputer(const char* pszUserName, char (&szComputer)[kComputerBufferSize]);
