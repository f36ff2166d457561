// The values of `quillonctl report`'s options, checked and turned into the
// report's options. Pure logic: nothing here touches the machine.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "usage_report/usage_report.h"

struct CReportCommand {
  usage_report::ReportOptions options;
  std::string dsn;                      // UTF-8, as given
  bool bDsnGiven = false;               // else the service's own "DSN"
  std::optional<std::wstring> output;   // else standard output
};

// The options given, by name ("--by") with their values as typed (UTF-8),
// into cmd. Empty on success; otherwise the reason, naming the option.
std::string ReportCommandFrom(const std::map<std::string, std::string>& given,
                              CReportCommand& cmd);
