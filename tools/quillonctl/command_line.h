// The command line of quillonctl: its commands (a file each, cmd_*.cpp)
// registered in one place, parsed by the argument library (CLI11). Parsing
// only chooses what to do; RunCommandLine then does it.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "database/permission_entry.h"
#include "job_accounting/job_data.h"

constexpr const char kClientVersion[] = QUILLON_VERSION;   // from the file VERSION
constexpr DWORD kDefaultTimeoutSeconds = 30;

// The message that `job`, and `rule` with ids, send to the service's pipe.
struct CClientCommand {
  enum Kind { Help, Version, Job, Rule, Other } kind = Help;
  JOB_DATA job = {};            // Job: the record to send
  PERMISSION_ENTRY rule = {};   // Rule: the entry to send
  DWORD dwTimeoutSeconds = kDefaultTimeoutSeconds;
};

// What a job report takes when the command line names nothing else.
struct CJobDefaults {
  std::wstring computer;   // this machine's name
  int32_t tNow = 0;        // seconds since 1970, now
};

struct CToolStreams;

// Parses the arguments after the program name and runs the command they
// name; its exit code (exit_codes.h). What it says goes to the streams.
int RunCommandLine(const std::vector<std::wstring>& args, const CJobDefaults& defaults,
                   CToolStreams& io);

// Parses only: empty on success, with the pipe message of `job` and `rule`
// (by ids) in cmd and Other for any other command; otherwise the reason,
// naming the option or command, and cmd is not to be used.
std::string ParseCommandLine(const std::vector<std::wstring>& args, const CJobDefaults& defaults,
                             CClientCommand& cmd);

// The text of --help.
std::string UsageText();
