// quillonctl report: who printed how much, where and when, from the
// service's database, as text, CSV or an HTML page with charts. The report
// itself is src/usage_report; this file is its command line and its place
// on the machine: the database to use, the clock, the output file.
#include <CLI/CLI.hpp>

#include <windows.h>

#include <map>
#include <memory>

#include "database_access.h"
#include "exit_codes.h"
#include "report_arguments.h"
#include "service_core/win_owners.h"
#include "system_text.h"
#include "text_forms.h"
#include "tool_context.h"

namespace {

usage_report::CalendarDate Today() {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

// The whole report or nothing: a file that cannot be written whole is
// removed again. ERROR_SUCCESS or the system's error.
DWORD WriteReportFile(const std::wstring& path, const std::string& text) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  DWORD cbWritten = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &cbWritten,
                 nullptr) ||
      cbWritten != text.size()) {
    const DWORD dwError = GetLastError();
    file.reset();
    DeleteFileW(path.c_str());
    return dwError ? dwError : ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

int RunReport(const CReportCommand& cmd, CToolStreams& io) {
  DATABASE_CHOICE choice;
  if (!ChooseDatabase(cmd.dsn, cmd.bDsnGiven, &choice, io)) return kExitBadArguments;
  ConnectionPtr connection;
  if (!OpenDatabase(choice.dsn, connection, io)) return kExitDatabase;
  std::string report;
  try {
    report = usage_report::ProduceReport(cmd.options, connection, usage_report::CLocalDays(),
                                         Today());
  } catch (const usage_report::ReportOptionError& e) {
    io.err << "quillonctl: " << e.what() << "\n";
    return kExitBadArguments;
  } catch (const _com_error& e) {
    io.err << "quillonctl: the report's query failed: " << DatabaseFailureText(e) << "\n";
    return kExitDatabase;
  }
  if (!cmd.output) {
    io.out << report;
    return kExitSent;
  }
  const DWORD dwError = WriteReportFile(*cmd.output, report);
  if (dwError != ERROR_SUCCESS) {
    io.err << "quillonctl: " << WideToUtf8(*cmd.output)
           << " cannot be written: " << SystemErrorText(dwError) << "\n";
    return kExitCannotWrite;
  }
  return kExitSent;
}

}  // namespace

void AddReportCommand(CLI::App& app, CToolContext& ctx) {
  // Each option's value as typed; the callback keeps those that were given.
  auto typed = std::make_shared<std::map<std::string, std::string>>();
  CLI::App* report = app.add_subcommand("report", "Show who printed how much, where and when");
  SetDetails(*report,
             "Sums up the jobs the service recorded: jobs, pages (copies included), colour\n"
             "pages (of jobs recorded in colour), sheets (pages, halved and rounded up for\n"
             "jobs recorded duplex), bytes, and the cost when a price per page is given.\n"
             "--from and --to are days of this machine's local time, both included\n"
             "(default: this month to date). Filters are exact names and combine. Rows are\n"
             "ordered by pages, largest first; days and months in time order, those\n"
             "without jobs included. --top keeps the first N rows; a last row 'total'\n"
             "sums the rows shown. The database is the service's \"DSN\", or --dsn.");
  const struct {
    const char* name;
    const char* value;
    const char* help;
  } kOptions[] = {
      {"--by", "WORD", "user (default), printer, computer, day or month"},
      {"--from", "YYYY-MM-DD", "the first day"},
      {"--to", "YYYY-MM-DD", "the last day"},
      {"--user", "NAME", "only this user's jobs"},
      {"--printer", "NAME", "only the jobs of this printer"},
      {"--computer", "NAME", "only the jobs from this computer"},
      {"--top", "N", "keep the first N rows"},
      {"--price-mono", "X", "the price of a mono page, such as 0.05"},
      {"--price-colour", "X", "the price of a colour page"},
      {"--format", "WORD", "text (default), csv or html"},
      {"--output", "FILE", "the file to write (default: standard output)"},
      {"--dsn", "CONNECTION-STRING", "the ODBC connection string (default: the service's \"DSN\")"},
  };
  auto options = std::make_shared<std::vector<std::pair<std::string, CLI::Option*>>>();
  for (const auto& o : kOptions) {
    CLI::Option* option = report->add_option(o.name, (*typed)[o.name], o.help);
    option->type_name(o.value);
    options->push_back({o.name, option});
  }
  report->callback([typed, options, &ctx] {
    std::map<std::string, std::string> given;
    for (const auto& option : *options) {
      if (option.second->count()) given[option.first] = (*typed)[option.first];
    }
    auto cmd = std::make_shared<CReportCommand>();
    ctx.error = ReportCommandFrom(given, *cmd);
    if (!ctx.error.empty()) return;
    ctx.action = [cmd](CToolStreams& io) { return RunReport(*cmd, io); };
  });
}
