// The per-job thread: one for each job that the watcher sees finish on a
// GDI printer, started with a JOB_THREAD_PARAM that it owns from its start.
#pragma once

#include <windows.h>

#include "job_accounting/job_data.h"

class CQuillonService;

// The start block: allocated with new by the watcher, deleted by the thread.
struct JOB_THREAD_PARAM {
  CQuillonService* pService;
  JOB_DATA job;          // the job's record as the watcher gathered it
  bool bCopiesKnown;     // job.dwCopies came from the job's device mode
};

// Thread routine; the argument is a JOB_THREAD_PARAM*. Completes the copy
// count when the watcher did not learn it (JobCopies) and accounts the job.
// Returns -1 without a start block, else 1.
DWORD WINAPI JobThread(LPVOID pParam);

// The copies of a job whose notifications told none: dmCopies of the device
// mode of GetJob's JOB_INFO_2 while the spooler still has the job, else the
// count in its spool shadow file (ReadShadowCopies), else 1.
int32_t JobCopies(const JOB_DATA& job);
