// The spool file of a job: the data its driver wrote, which the print
// spooler keeps in its spool directory, beside the job's shadow file, while
// the job is queued, and deletes with the job. The service reads it only to
// count the pages of a job that the spooler did not count; it never writes,
// moves or deletes it.
#pragma once

#include <windows.h>

#include <string>

// "<spool directory>\%05u.SPL" (GetSpoolDirectory), in the ANSI code page
// that the page counter takes, or "" when there is no such file to name:
// - job id 0, which the spooler never gives a job;
// - no spool directory;
// - a directory that the ANSI code page cannot spell exactly (a best-fit
//   character could name another directory).
// The name is made of the id's digits alone, so that no id, whoever sends
// it, names a file outside the spool directory or one that is not a spool
// file.
std::string SpoolFilePath(DWORD dwJobId);
