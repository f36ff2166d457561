// What the spooler knows of a job while it is queued (GetJobW, level 2):
// used to complete the facts that the change notifications have not told.
#pragma once

#include <windows.h>

#include "job_accounting/job_facts.h"

// Reads job dwJobId of the printer into `facts` (cleared first): status,
// bytes printed (never told by JOB_INFO_2: left out), size as the total
// bytes, total pages, user, document, machine, device mode and submission
// time, every text read no further than the spooler's buffer. False, with
// `facts` untold, when the spooler does not know the job (any more) or the
// call fails.
bool ReadSpooledJob(HANDLE hPrinter, DWORD dwJobId, JOB_FACTS& facts);
