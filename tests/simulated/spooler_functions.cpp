// The spooler functions of winspool.h, defined under the header's own
// declarations (form 2 of platform_seam.h). They reach whichever spooler
// core the program has: the in-process piece's, or in the winspool.drv
// stand-in the process-wide one. Without a core they fail as Wine's own do
// when no printer exists.
#include <windows.h>
#include <winspool.h>

#include "platform_seam.h"
#include "spooler_core.h"

namespace {

sim::SpoolerCore* Core(DWORD errorWithout) {
  sim::SpoolerCore* core = sim::CurrentSpoolerCore();
  if (!core) SetLastError(errorWithout);
  return core;
}

}  // namespace

SIM_DEFINE_FUNCTION(OpenPrinterA, WINBOOL,
                    (LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault)) {
  auto* core = Core(ERROR_INVALID_PRINTER_NAME);
  return core ? core->OpenPrinterA(pPrinterName, phPrinter, pDefault) : FALSE;
}

SIM_DEFINE_FUNCTION(ClosePrinter, WINBOOL, (HANDLE hPrinter)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->ClosePrinter(hPrinter) : FALSE;
}

SIM_DEFINE_FUNCTION(FindFirstPrinterChangeNotification, HANDLE,
                    (HANDLE hPrinter, DWORD fdwFlags, DWORD fdwOptions,
                     LPVOID pPrinterNotifyOptions)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->FindFirstPrinterChangeNotification(hPrinter, fdwFlags, fdwOptions,
                                                         pPrinterNotifyOptions)
              : INVALID_HANDLE_VALUE;
}

SIM_DEFINE_FUNCTION(FindNextPrinterChangeNotification, WINBOOL,
                    (HANDLE hChange, PDWORD pdwChange, LPVOID pPrinterNotifyOptions,
                     LPVOID* ppPrinterNotifyInfo)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->FindNextPrinterChangeNotification(hChange, pdwChange, pPrinterNotifyOptions,
                                                        ppPrinterNotifyInfo)
              : FALSE;
}

SIM_DEFINE_FUNCTION(FindClosePrinterChangeNotification, WINBOOL, (HANDLE hChange)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->FindClosePrinterChangeNotification(hChange) : FALSE;
}

SIM_DEFINE_FUNCTION(FreePrinterNotifyInfo, WINBOOL, (PPRINTER_NOTIFY_INFO pPrinterNotifyInfo)) {
  auto* core = Core(ERROR_INVALID_PARAMETER);
  return core ? core->FreePrinterNotifyInfo(pPrinterNotifyInfo) : FALSE;
}

SIM_DEFINE_FUNCTION(SetJobA, WINBOOL,
                    (HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->SetJobA(hPrinter, JobId, Level, pJob, Command) : FALSE;
}

SIM_DEFINE_FUNCTION(EnumJobsA, WINBOOL,
                    (HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob,
                     DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->EnumJobsA(hPrinter, FirstJob, NoJobs, Level, pJob, cbBuf, pcbNeeded,
                                pcReturned)
              : FALSE;
}

SIM_DEFINE_FUNCTION(GetJobA, WINBOOL,
                    (HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                     LPDWORD pcbNeeded)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->GetJobA(hPrinter, JobId, Level, pJob, cbBuf, pcbNeeded) : FALSE;
}

SIM_DEFINE_FUNCTION(GetJobW, WINBOOL,
                    (HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                     LPDWORD pcbNeeded)) {
  auto* core = Core(ERROR_INVALID_HANDLE);
  return core ? core->GetJobW(hPrinter, JobId, Level, pJob, cbBuf, pcbNeeded) : FALSE;
}
