#include "command_line.h"

#include <cstring>
#include <cwchar>
#include <limits>

#include "exit_codes.h"
#include "option_pairs.h"
#include "report_arguments.h"

namespace {

// A text option into a JOB_DATA field of cchField characters.
std::string PutText(const Options& options, const wchar_t* name, WCHAR* field, size_t cchField,
                    bool required) {
  auto it = options.values.find(name);
  if (it == options.values.end()) {
    return required ? Narrow(name) + " is required" : "";
  }
  const std::wstring& text = it->second;
  if (required && text.empty()) return Narrow(name) + " must not be empty";
  if (text.size() > cchField) {
    return Narrow(name) + " takes at most " + std::to_string(cchField) + " characters";
  }
  std::memset(field, 0, cchField * sizeof(WCHAR));
  std::wmemcpy(reinterpret_cast<wchar_t*>(field), text.data(), text.size());
  return "";
}

std::string GetNumber(const Options& options, const wchar_t* name, int64_t min, int64_t max,
                      int64_t& value) {
  auto it = options.values.find(name);
  if (it == options.values.end()) return "";
  if (!ParseInteger(it->second, min, max, value)) {
    return Narrow(name) + " takes a number from " + std::to_string(min) + " to " +
           std::to_string(max) + ", not '" + Narrow(it->second) + "'";
  }
  return "";
}

std::string GetTimeout(const Options& options, CClientCommand& cmd) {
  int64_t seconds = kDefaultTimeoutSeconds;
  std::string error = GetNumber(options, L"--timeout", 0, 86400, seconds);
  cmd.dwTimeoutSeconds = static_cast<DWORD>(seconds);
  return error;
}

std::string ParseJob(const std::vector<std::wstring>& args, const CJobDefaults& defaults,
                     CClientCommand& cmd) {
  Options options;
  std::string error = CollectOptions(
      args, 1,
      {L"--printer", L"--user", L"--computer", L"--document", L"--pages", L"--copies",
       L"--submitted", L"--job-id", L"--paper-size", L"--paper-length", L"--paper-width",
       L"--color", L"--duplex", L"--file", L"--timeout"},
      options);
  if (!error.empty()) return error;
  JOB_DATA& job = cmd.job;
  std::memset(&job, 0, sizeof(job));
  // Unnamed facts: this machine, now, one copy, monochrome, simplex.
  std::wstring computer = defaults.computer.substr(0, kJobComputerChars);
  std::wmemcpy(reinterpret_cast<wchar_t*>(job.wszComputer), computer.data(), computer.size());
  int64_t pages = 0, copies = 1, submitted = defaults.tNow, jobId = 0, paperSize = 0,
          paperLength = 0, paperWidth = 0, color = 1, duplex = 1;
  const int64_t kInt32Max = std::numeric_limits<int32_t>::max();
  const int64_t kUInt32Max = std::numeric_limits<uint32_t>::max();
  const int64_t kInt16Max = std::numeric_limits<int16_t>::max();
  for (const std::string& e : {
           PutText(options, L"--printer", job.wszPrinter, kJobPrinterChars, true),
           PutText(options, L"--user", job.wszUser, kJobUserChars, true),
           PutText(options, L"--computer", job.wszComputer, kJobComputerChars, false),
           PutText(options, L"--document", job.wszDocument, kJobDocumentChars, false),
           PutText(options, L"--file", job.wszFile, kJobFileChars, false),
           GetNumber(options, L"--pages", 0, kUInt32Max, pages),
           GetNumber(options, L"--copies", 1, kInt32Max, copies),
           GetNumber(options, L"--submitted", 0, kInt32Max, submitted),
           GetNumber(options, L"--job-id", 0, kUInt32Max, jobId),
           GetNumber(options, L"--paper-size", 0, kInt16Max, paperSize),
           GetNumber(options, L"--paper-length", 0, kInt16Max, paperLength),
           GetNumber(options, L"--paper-width", 0, kInt16Max, paperWidth),
           GetNumber(options, L"--color", 1, 2, color),
           GetNumber(options, L"--duplex", 1, 3, duplex),
           GetTimeout(options, cmd),
       }) {
    if (!e.empty()) return e;
  }
  job.dwTotalPages = static_cast<DWORD>(pages);
  job.dwCopies = static_cast<int32_t>(copies);
  job.tSubmitted = static_cast<int32_t>(submitted);
  job.dwJobId = static_cast<DWORD>(jobId);
  job.wPaperSize = static_cast<int16_t>(paperSize);
  job.wPaperLength = static_cast<int16_t>(paperLength);
  job.wPaperWidth = static_cast<int16_t>(paperWidth);
  job.wColor = static_cast<int16_t>(color);
  job.wDuplex = static_cast<int16_t>(duplex);
  cmd.kind = CClientCommand::Job;
  return "";
}

std::string GetId(const Options& options, const wchar_t* name, int32_t& id) {
  auto it = options.values.find(name);
  if (it == options.values.end()) return Narrow(name) + " is required";
  if (it->second == L"any") {
    id = -1;
    return "";
  }
  int64_t value = 0;
  if (!ParseInteger(it->second, -1, std::numeric_limits<int32_t>::max(), value)) {
    return Narrow(name) + " takes an id, -1 or 'any', not '" + Narrow(it->second) + "'";
  }
  id = static_cast<int32_t>(value);
  return "";
}

std::string ParseRule(const std::vector<std::wstring>& args, CClientCommand& cmd) {
  Options options;
  std::string error = CollectOptions(
      args, 1, {L"--printer-id", L"--user-id", L"--action", L"--timeout"}, options);
  if (!error.empty()) return error;
  PERMISSION_ENTRY& rule = cmd.rule;
  for (const std::string& e : {GetId(options, L"--printer-id", rule.idPrinter),
                               GetId(options, L"--user-id", rule.idUser), GetTimeout(options, cmd)}) {
    if (!e.empty()) return e;
  }
  auto it = options.values.find(L"--action");
  if (it == options.values.end()) return "--action is required";
  static const wchar_t* const kNames[] = {L"none", L"pause", L"resume", L"cancel", L"restart",
                                          L"delete"};
  int64_t action = -1;
  for (int32_t i = 0; i < 6; ++i) {
    if (it->second == kNames[i]) action = i;
  }
  if (action < 0 && !ParseInteger(it->second, 0, 9, action)) {
    return "--action takes none, pause, resume, cancel, restart, delete or a number from 0 to "
           "9, not '" + Narrow(it->second) + "'";
  }
  rule.Action = static_cast<int32_t>(action);
  cmd.kind = CClientCommand::Rule;
  return "";
}

}  // namespace

std::string ParseCommandLine(const std::vector<std::wstring>& args, const CJobDefaults& defaults,
                             CClientCommand& cmd) {
  cmd = CClientCommand();
  if (args.empty()) return "no command given";
  for (const std::wstring& a : args) {
    if (a == L"--help" || a == L"-h" || a == L"/?" || a == L"-?") {
      cmd.kind = CClientCommand::Help;
      return "";
    }
  }
  if (args[0] == L"--version") {
    if (args.size() > 1) return "--version takes no arguments";
    cmd.kind = CClientCommand::Version;
    return "";
  }
  if (args[0] == L"job") return ParseJob(args, defaults, cmd);
  if (args[0] == L"rule") return ParseRule(args, cmd);
  if (args[0] == L"report") {
    cmd.kind = CClientCommand::Report;
    return "";
  }
  return "unknown command '" + Narrow(args[0]) + "'";
}

std::string UsageText() {
  return std::string(
             "Usage:\n"
             "  quillonctl job --printer P --user U [--computer C] [--document D]\n"
             "                 [--pages N] [--copies N] [--submitted UNIXTIME] [--job-id N]\n"
             "                 [--paper-size N] [--paper-length N] [--paper-width N]\n"
             "                 [--color 1|2] [--duplex 1|2|3] [--file NAME] [--timeout SECONDS]\n"
             "  quillonctl rule --printer-id N|any --user-id N|any --action ACTION\n"
             "                 [--timeout SECONDS]\n") +
         ReportUsageText() +
             "  quillonctl --help | --version\n"
             "\n"
             "job   reports one print job to the Tamrel Quillon Service, which records it.\n"
             "      Defaults: computer this machine, copies 1, submitted now, pages 0 (the\n"
             "      service counts --file, or the job's spool data), color 1, duplex 1.\n"
             "      --file names a file in the service's directory; it is counted and deleted.\n"
             "rule  sends one job-control rule; it takes effect at once and lasts until the\n"
             "      service restarts. -1 or 'any' stands for every printer or user. ACTION is\n"
             "      none, pause, resume, cancel, restart, delete, or a number from 0 to 9.\n"
             "      The service keeps rules only from administrators and LocalSystem.\n"
             "report  shows what the service recorded: jobs, pages (copies included),\n"
             "      colour pages, sheets (duplex jobs' pages halved, rounded up), bytes, and\n"
             "      the cost when a price per page is given. --from and --to are local days,\n"
             "      inclusive (default: this month to date); --by defaults to user; the\n"
             "      filters combine; rows are ordered by pages (days and months in time\n"
             "      order, empty ones included); --top keeps the first N; a last row 'total'\n"
             "      sums the rows shown. The database is the service's DSN value, or --dsn.\n"
             "\n"
             "The service accepts one connection a second: quillonctl waits for it up to\n"
             "--timeout seconds (default 30), then as long again for it to take the message.\n"
             "\n"
             "Exit codes:\n"
             "  0  the message or the report was written whole (also --help and --version)\n"
             "  1  bad arguments\n"
             "  2  the service is not running (its pipe does not exist)\n"
             "  3  gave up waiting for the service to accept the connection\n"
             "  4  the service did not take the message whole\n"
             "  5  the pipe exists but cannot be opened\n"
             "  6  report: no DSN, or the database cannot be opened or queried\n"
             "  7  report: the output cannot be written\n";
}
