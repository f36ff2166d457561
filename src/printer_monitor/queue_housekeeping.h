// The queue housekeeping thread, at the lowest priority: every
// m_settings.dwHousekeepingPeriodMs (300 s) after the end of the previous pass, it
// - removes the entries of m_jobTable older than m_settings.dwFinishedJobMaxAge
//   (900 s; an entry stored "in the future", after the clock was set back,
//   counts as old), under the JOB_QUEUE_MUTEX lock, and the spool holds
//   of the same age (spool_holds.h);
// - deletes from the queue of every GDI printer the jobs that are complete,
//   and those that have printed where the printer's registry key
//   HKLM\Software\Vornik\Maravel\GDI Printersp\<name> has a non-zero
//   DWORD "DeletePrinted", unless their spool data is held for the
//   accounting; ordinary printers' jobs are never deleted;
// - drops from m_handledJobs every job that is no longer queued on any
//   watched printer, when the queues of all open ones could be listed (a
//   printer that is not open, while the watcher tries it again, is passed
//   over).
// The thread ends on the stop event, also during a pass (between two
// printers), and works on its own duplicate of the event's handle. Nothing
// is reported.
#pragma once

#include <windows.h>

#include "printer_monitor/gdi_settings.h"

class CQuillonService;

// Thread routine; the argument is the service object. -1 without one,
// else 0 when it ends.
DWORD WINAPI CleanQueues(LPVOID pService);

// One pass as of the time dwNow (seconds since 1970); hStop, when set,
// ends the walk over the printers early.
void RunHousekeepingPass(CQuillonService& service, DWORD dwNow, HANDLE hStop);
