#include "report_arguments.h"

#include <stdint.h>

#include <utility>
#include <vector>

#include "database/wide_text.h"
#include "option_values.h"
#include "usage_report/money.h"

using usage_report::GroupBy;
using usage_report::ReportFormat;

namespace {

using Given = std::map<std::string, std::string>;

const std::string* Find(const Given& given, const char* pszName) {
  auto it = given.find(pszName);
  return it == given.end() ? nullptr : &it->second;
}

template <typename T>
std::string Choose(const Given& given, const char* pszName,
                   const std::vector<std::pair<const char*, T>>& choices, const char* pszList,
                   T& value) {
  const std::string* pText = Find(given, pszName);
  if (!pText) return "";
  for (const auto& choice : choices) {
    if (*pText == choice.first) {
      value = choice.second;
      return "";
    }
  }
  return std::string(pszName) + " takes " + pszList + ", not '" + *pText + "'";
}

std::string GetDate(const Given& given, const char* pszName,
                    std::optional<usage_report::CalendarDate>& date) {
  const std::string* pText = Find(given, pszName);
  if (!pText) return "";
  usage_report::CalendarDate d;
  if (!usage_report::ParseDate(*pText, d)) {
    return std::string(pszName) + " takes a day as YYYY-MM-DD, not '" + *pText + "'";
  }
  date = d;
  return "";
}

std::string GetPrice(const Given& given, const char* pszName, std::optional<int64_t>& price) {
  const std::string* pText = Find(given, pszName);
  if (!pText) return "";
  int64_t value = 0;
  if (!usage_report::ParsePrice(*pText, value)) {
    return std::string(pszName) +
           " takes a price per page such as 0.05 (at most 4 decimals, at most " +
           usage_report::FormatPrice(usage_report::kMaxPrice) + "), not '" + *pText + "'";
  }
  price = value;
  return "";
}

// A name to filter by; an empty one would match nothing, silently.
std::string GetName(const Given& given, const char* pszName,
                    std::optional<std::wstring>& value) {
  const std::string* pText = Find(given, pszName);
  if (!pText) return "";
  if (pText->empty()) return std::string(pszName) + " must not be empty";
  value = Utf8ToWide(*pText);
  return "";
}

}  // namespace

std::string ReportCommandFrom(const Given& given, CReportCommand& cmd) {
  cmd = CReportCommand();
  usage_report::ReportOptions& o = cmd.options;
  for (const std::string& e : {
           Choose<GroupBy>(given, "--by",
                           {{"user", GroupBy::User},
                            {"printer", GroupBy::Printer},
                            {"computer", GroupBy::Computer},
                            {"day", GroupBy::Day},
                            {"month", GroupBy::Month}},
                           "user, printer, computer, day or month", o.by),
           Choose<ReportFormat>(given, "--format",
                                {{"text", ReportFormat::Text},
                                 {"csv", ReportFormat::Csv},
                                 {"html", ReportFormat::Html}},
                                "text, csv or html", o.format),
           GetDate(given, "--from", o.from),
           GetDate(given, "--to", o.to),
           GetName(given, "--user", o.user),
           GetName(given, "--printer", o.printer),
           GetName(given, "--computer", o.computer),
           GetPrice(given, "--price-mono", o.prices.mono),
           GetPrice(given, "--price-colour", o.prices.colour),
           GetName(given, "--output", cmd.output),
       }) {
    if (!e.empty()) return e;
  }
  if (const std::string* pTop = Find(given, "--top")) {
    int64_t top = 0;
    if (!ParseInteger(*pTop, 1, INT32_MAX, top)) {
      return "--top takes a number of rows from 1, not '" + *pTop + "'";
    }
    o.top = static_cast<size_t>(top);
  }
  if (o.from && o.to && *o.to < *o.from) return "--to is before --from";
  if (const std::string* pDsn = Find(given, "--dsn")) {
    cmd.dsn = *pDsn;
    cmd.bDsnGiven = true;
  }
  return "";
}
