// Configuration of the service: the database connection string in the
// registry, and the executable's directory as the working directory.
#pragma once

// HKEY_LOCAL_MACHINE "Software\Vornik\Maravel" value "DSN". The key is created
// when missing. Returns a process-wide 512-byte buffer, overwritten by the
// next read; empty when the value is missing or too long.
const char* ReadConnectionString();

// Makes the executable's directory, with a trailing separator, the current
// directory, so that files opened by a bare name are found beside it.
void SetModuleDirectory();

// The same key's value "JournalLimitKB" (DWORD): the bound of the journal of
// jobs not yet recorded, in kilobytes; dwDefault when it is missing, not a
// DWORD, or 0.
unsigned long ReadJournalLimitKB(unsigned long dwDefault);

constexpr const char kJournalLimitValue[] = "JournalLimitKB";
constexpr const char kSettingsKey[] = "Software\\Vornik\\Maravel";
constexpr const char kDsnValue[] = "DSN";
