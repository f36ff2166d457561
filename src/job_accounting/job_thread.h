// The per-job thread: one for each job that the watcher sees finish on a
// GDI printer, started with a JOB_THREAD_PARAM that it owns from its start.
#pragma once

#include <windows.h>

#include "job_accounting/job_data.h"
#include "job_accounting/job_keeper.h"
#include "service_core/work_count.h"

class CQuillonService;

// The start block: allocated with new by the watcher, deleted by the thread.
// The watcher has taken the job (it is in the journal, flushed); the ticket
// goes with it, and the work ticket tells the service's stop that the
// thread still uses the service object.
struct JOB_THREAD_PARAM {
  CWorkCount::Ticket work;   // given back last, after the job's ticket
  CQuillonService* pService = nullptr;
  CJobKeeper::CTicket ticket;
};

// Thread routine; the argument is a JOB_THREAD_PARAM*. Settles the job
// (SettleJob: its copies, when the watcher did not learn them, come from
// JobCopies). Nothing escapes it: a failure on the way (lack of memory)
// leaves the job in the journal for the replay. Returns -1 without a start
// block, else 1.
DWORD WINAPI JobThread(LPVOID pParam);

// The copies of a job whose notifications told none: dmCopies of the device
// mode of GetJob's JOB_INFO_2 while the spooler still has the job, else the
// count in its spool shadow file (ReadShadowCopies), else 1.
int32_t JobCopies(const JOB_DATA& job);
