// The wire format of the service's named pipe, shared by the service and its
// clients. Each connection carries one message as two pipe messages: the
// 8-byte header PIPE_DATA, then dwSize payload bytes. Little-endian.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

constexpr const char kPipeName[] = "\\\\.\\pipe\\vornikprn";

// What a client asks for when it opens the pipe: reading (the service
// never writes; a read ends when it closes the connection) and writing its
// message. Not GENERIC_WRITE: for a pipe that includes FILE_APPEND_DATA,
// which is FILE_CREATE_PIPE_INSTANCE, and the pipe grants that to nobody
// but LocalSystem and the Administrators.
constexpr DWORD kPipeClientAccess = GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;

// Message types (dwType).
constexpr uint32_t PIPE_JOB = 0x23;          // '#': a JOB_DATA (job_accounting/job_data.h)
constexpr uint32_t PIPE_PERMISSION = 0x24;   // '$': a PERMISSION_ENTRY (database/permission_entry.h)

struct PIPE_DATA {
  uint32_t dwType;   // PIPE_JOB or PIPE_PERMISSION
  uint32_t dwSize;   // payload bytes; never 0, at most kMaxPipePayload
};
static_assert(sizeof(PIPE_DATA) == 8, "pipe header layout");
static_assert(offsetof(PIPE_DATA, dwSize) == 4, "pipe header layout");

// The largest payload the service accepts: a header that announces more ends
// the connection before anything is allocated for it.
constexpr uint32_t kMaxPipePayload = 64 * 1024;
