// The command line of `quillonctl report`, turned into the report's options.
// Pure logic: nothing here touches the machine.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "usage_report/usage_report.h"

struct CReportCommand {
  usage_report::ReportOptions options;
  std::optional<std::wstring> dsn;      // else the service's DSN value
  std::optional<std::wstring> output;   // else standard output
};

// Parses args (args[0] is "report"). Empty on success; otherwise the reason,
// naming the option.
//   report [--by user|printer|computer|day|month] [--from YYYY-MM-DD]
//          [--to YYYY-MM-DD] [--user NAME] [--printer NAME] [--computer NAME]
//          [--top N] [--price-mono X] [--price-colour X]
//          [--format text|csv|html] [--output FILE] [--dsn TEXT]
std::string ParseReportCommand(const std::vector<std::wstring>& args, CReportCommand& cmd);

// The part of --help about the report.
std::string ReportUsageText();
