// The printer change watcher: waits for the spooler's change notifications
// of every printer in m_printers and deals with the newest job of a queue at
// each one. At first sight of a job it asks GetJobCommand; a non-zero
// command is applied with SetJobA and the job goes into m_handledJobs,
// never to be looked at again while it is there. A job let run is recorded
// in m_jobTable once when it shows finished (printed, deleting, complete,
// or all its bytes printed) and, on a GDI printer, handed with its
// notification block to the service's m_pfnJobThread.
//
// One wait holds the stop event and 63 notifications; the printers beyond
// those are waited for by further threads of the watcher, 63 each, and
// every notification is dealt with under one lock, so the rules are those
// of one thread. A printer whose notification cannot be armed stays in
// m_printers unwatched (the housekeeping still walks it). When its
// notifications cannot all be waited for, each left out is reported with
// event 109 and the reason.
//
// The watcher works on its own duplicate of m_hStopEvent, so it ends on the
// stop also when the run sequence has closed the original by then. At the
// end it closes its notifications and closes and empties m_printers.
#pragma once

#include <windows.h>

// Thread routine; the argument is the service object. Always ends with -1.
DWORD WINAPI WatchPrinters(LPVOID pService);
