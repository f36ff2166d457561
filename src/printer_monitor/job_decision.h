// The decision about a job that a watched printer shows for the first time.
#pragma once

#include <windows.h>

#include "job_accounting/job_facts.h"

class CQuillonService;

// Completes from the spooler (GetJob, while the job is queued) the facts
// that the notifications have not told yet, asks GetJobCommand for the
// command that the rules give the job's user on this printer, and applies a
// non-zero command with SetJobA. True when the job got its command, or got
// one before (it is in m_handledJobs): it is handled and ignored from now
// on. False when it is let run, also when SetJobA failed, since the job then
// prints like any other and is to be recorded.
bool DecideJob(CQuillonService& service, HANDLE hPrinter, JOB_FACTS& job);
