// The command line of quillonctl, turned into the message it sends. Pure
// logic: what comes from the machine (its name, the time) is passed in.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "database/permission_entry.h"
#include "job_accounting/job_data.h"

constexpr const char kClientVersion[] = QUILLON_VERSION;   // from the file VERSION
constexpr DWORD kDefaultTimeoutSeconds = 30;

struct CClientCommand {
  enum Kind { Help, Version, Job, Rule } kind = Help;
  JOB_DATA job = {};            // Job: the record to send
  PERMISSION_ENTRY rule = {};   // Rule: the entry to send
  DWORD dwTimeoutSeconds = kDefaultTimeoutSeconds;
};

// What a job report takes when the command line names nothing else.
struct CJobDefaults {
  std::wstring computer;   // this machine's name
  int32_t tNow = 0;        // seconds since 1970, now
};

// Parses the arguments after the program name. Empty on success; otherwise
// the reason, naming the option, and cmd is not to be used.
//   job  --printer P --user U [--computer C] [--document D] [--pages N]
//        [--copies N] [--submitted T] [--job-id N] [--paper-size N]
//        [--paper-length N] [--paper-width N] [--color 1|2] [--duplex 1|2|3]
//        [--file NAME] [--timeout S]
//   rule --printer-id N|any --user-id N|any --action A [--timeout S]
//   --help (-h, /?), --version
// Options take their value as the next argument or after "=".
std::string ParseCommandLine(const std::vector<std::wstring>& args, const CJobDefaults& defaults,
                             CClientCommand& cmd);

// The text of --help.
std::string UsageText();
