// The per-printer settings of GDI printers, under
// HKLM\Software\Vornik\Maravel\GDI Printersp\<printer name> (the final "p"
// is part of the key's name): the DWORD "DeletePrinted", non-zero when the
// housekeeping pass also deletes the printer's jobs that have printed.
#pragma once

#include <windows.h>

constexpr const char kGdiSettingsKey[] = "Software\\Vornik\\Maravel\\GDI Printersp";
constexpr const char kDeletePrintedValue[] = "DeletePrinted";

// Whether the printer's "DeletePrinted" is set; false when its key or value
// is missing or cannot be read.
bool DeletesPrintedJobs(const char* pszPrinter);

// Sets "DeletePrinted" to 1, or removes the printer's key with it; the
// registry's error code (ERROR_SUCCESS, ERROR_ACCESS_DENIED, ...). Removing
// a setting that is not there succeeds.
LONG WriteDeletePrinted(const char* pszPrinter, bool bDeletePrinted);
