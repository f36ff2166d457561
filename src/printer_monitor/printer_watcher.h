// The printer change watcher: keeps a change notification armed on every
// printer of m_printers (once per name) and feeds every block it fetches,
// entry by entry, into the state of that printer's jobs (queue_jobs.h): a
// job seen for the first time is decided (job_decision.h); a job let run is
// recorded in m_jobTable once when it finishes or leaves the queue and, on a
// GDI printer, handed with its record to the service's m_settings.pfnJobThread.
//
// Right after arming, after a block flagged as discarded, and when a
// printer's notification has not been signalled for the check interval, the
// watcher fetches with the refresh flag (the current data of every queued
// job); in between it fetches what changed. When an open, an arm or a fetch
// fails (the spooler stopped or restarted: its handles are no longer
// valid), it closes what it holds for that printer and tries again with a
// growing pause (m_settings.watcher). A printer that did not open at start is
// tried the same way. The first failure of a watched printer is reported
// with event 115 and its return with event 116, once each.
//
// One wait holds the stop event and 63 notifications; the printers beyond
// those are waited for by further threads of the watcher, 63 each, and
// every block is dealt with under one lock, so the rules are those of one
// thread.
//
// The watcher works on its own duplicate of m_hStopEvent, so it ends on the
// stop also when the run sequence has closed the original by then. At the
// end it closes its notifications and closes and empties m_printers.
#pragma once

#include <windows.h>

// Thread routine; the argument is the service object. Always ends with -1.
DWORD WINAPI WatchPrinters(LPVOID pService);
