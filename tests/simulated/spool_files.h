// The files the simulated spooler keeps for each queued job in its spool
// directory (see spooler_core.h, SetSpoolDirectory).
#pragma once

#include <windows.h>

#include <string>

namespace sim {

// "<directory>\NNNNN.<extension>": the job id, at least five digits.
std::wstring JobFileName(const WCHAR* directory, DWORD jobId, const wchar_t* extension);

// Writes the job's shadow file (NNNNN.SHD) with its device mode (none when
// null), and its spool file (NNNNN.SPL) holding `data`. Returns the spool
// file's handle, left open for writing as the spooler keeps it, or null
// when a file could not be written.
HANDLE WriteJobFiles(const WCHAR* directory, DWORD jobId, DWORD status, DWORD priority,
                     const DEVMODEW* devMode, const std::string& data);

// Deletes both files of the job.
void DeleteJobFiles(const WCHAR* directory, DWORD jobId);

}  // namespace sim
