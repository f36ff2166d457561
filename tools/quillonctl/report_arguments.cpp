#include "report_arguments.h"

#include <limits>

#include "database/wide_text.h"
#include "option_pairs.h"
#include "usage_report/money.h"

using usage_report::GroupBy;
using usage_report::ReportFormat;

namespace {

template <typename T>
std::string Choose(const Options& options, const wchar_t* name,
                   const std::vector<std::pair<const wchar_t*, T>>& choices, const char* list,
                   T& value) {
  auto it = options.values.find(name);
  if (it == options.values.end()) return "";
  for (const auto& choice : choices) {
    if (it->second == choice.first) {
      value = choice.second;
      return "";
    }
  }
  return Narrow(name) + " takes " + list + ", not '" + Narrow(it->second) + "'";
}

std::string GetDate(const Options& options, const wchar_t* name,
                    std::optional<usage_report::CalendarDate>& date) {
  auto it = options.values.find(name);
  if (it == options.values.end()) return "";
  usage_report::CalendarDate d;
  if (!usage_report::ParseDate(WideToUtf8(it->second), d)) {
    return Narrow(name) + " takes a day as YYYY-MM-DD, not '" + Narrow(it->second) + "'";
  }
  date = d;
  return "";
}

std::string GetPrice(const Options& options, const wchar_t* name, std::optional<int64_t>& price) {
  auto it = options.values.find(name);
  if (it == options.values.end()) return "";
  int64_t value = 0;
  if (!usage_report::ParsePrice(WideToUtf8(it->second), value)) {
    return Narrow(name) + " takes a price per page such as 0.05 (at most 4 decimals, at most " +
           usage_report::FormatPrice(usage_report::kMaxPrice) + "), not '" +
           Narrow(it->second) + "'";
  }
  price = value;
  return "";
}

// A name to filter by; an empty one would match nothing, silently.
std::string GetName(const Options& options, const wchar_t* name,
                    std::optional<std::wstring>& value) {
  auto it = options.values.find(name);
  if (it == options.values.end()) return "";
  if (it->second.empty()) return Narrow(name) + " must not be empty";
  value = it->second;
  return "";
}

}  // namespace

std::string ParseReportCommand(const std::vector<std::wstring>& args, CReportCommand& cmd) {
  cmd = CReportCommand();
  Options options;
  std::string error = CollectOptions(
      args, 1,
      {L"--by", L"--from", L"--to", L"--user", L"--printer", L"--computer", L"--top",
       L"--price-mono", L"--price-colour", L"--format", L"--output", L"--dsn"},
      options);
  if (!error.empty()) return error;
  usage_report::ReportOptions& o = cmd.options;
  int64_t top = 0;
  for (const std::string& e : {
           Choose<GroupBy>(options, L"--by",
                           {{L"user", GroupBy::User},
                            {L"printer", GroupBy::Printer},
                            {L"computer", GroupBy::Computer},
                            {L"day", GroupBy::Day},
                            {L"month", GroupBy::Month}},
                           "user, printer, computer, day or month", o.by),
           Choose<ReportFormat>(options, L"--format",
                                {{L"text", ReportFormat::Text},
                                 {L"csv", ReportFormat::Csv},
                                 {L"html", ReportFormat::Html}},
                                "text, csv or html", o.format),
           GetDate(options, L"--from", o.from),
           GetDate(options, L"--to", o.to),
           GetName(options, L"--user", o.user),
           GetName(options, L"--printer", o.printer),
           GetName(options, L"--computer", o.computer),
           GetPrice(options, L"--price-mono", o.prices.mono),
           GetPrice(options, L"--price-colour", o.prices.colour),
           GetName(options, L"--output", cmd.output),
           GetName(options, L"--dsn", cmd.dsn),
       }) {
    if (!e.empty()) return e;
  }
  auto it = options.values.find(L"--top");
  if (it != options.values.end()) {
    if (!ParseInteger(it->second, 1, std::numeric_limits<int32_t>::max(), top)) {
      return "--top takes a number of rows from 1, not '" + Narrow(it->second) + "'";
    }
    o.top = static_cast<size_t>(top);
  }
  if (o.from && o.to && *o.to < *o.from) return "--to is before --from";
  return "";
}

std::string ReportUsageText() {
  return "  quillonctl report [--by user|printer|computer|day|month]\n"
         "                 [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
         "                 [--user NAME] [--printer NAME] [--computer NAME] [--top N]\n"
         "                 [--price-mono X] [--price-colour X]\n"
         "                 [--format text|csv|html] [--output FILE] [--dsn TEXT]\n";
}
