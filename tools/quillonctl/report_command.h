// Runs `quillonctl report`: opens the database, makes the report and writes
// it to the file or to standard output. The machine's side of the report:
// the registry, the clock, the console and files.
#pragma once

#include "report_arguments.h"

// The exit code (exit_codes.h); what went wrong goes to standard error.
int RunReportCommand(const CReportCommand& cmd);
