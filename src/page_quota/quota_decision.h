// Where page quotas meet the service: the decision about a new job, and the
// accounting of a written row. Each is one call from the service's own code.
#pragma once

#include <stdint.h>

#include "job_accounting/job_facts.h"

class CQuillonService;
class CPrnDataRecord;

// The quota's command for a job that its rule lets run (a rule's own
// command wins: this is asked only when the rule gave none), 0 when the job
// fits. The job's pages are its copies of the pages the spooler counted so
// far; a job without them yet is judged on the use alone. A job that gets a
// command is reported (event 119: user, printer, use and limit). Reads
// memory only.
int32_t QuotaCommand(CQuillonService& service, const JOB_FACTS& job, int64_t tNow);

// Counts a PRNDATA row that this service has just written toward the
// quotas at once.
void CountRecordedRow(CQuillonService& service, const CPrnDataRecord& row);
