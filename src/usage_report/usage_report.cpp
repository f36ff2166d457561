#include "usage_report/usage_report.h"

#include <ctime>

#include "database/wide_text.h"
#include "usage_report/csv_format.h"
#include "usage_report/html_format.h"
#include "usage_report/money.h"
#include "usage_report/quota_columns.h"
#include "usage_report/text_format.h"
#include "usage_report/usage_query.h"

namespace usage_report {

namespace {

struct Period {
  CalendarDate from;
  CalendarDate to;
};

Period PeriodOf(const ReportOptions& options, const CalendarDate& today) {
  Period p;
  p.to = options.to.value_or(today);
  if (options.from) {
    p.from = *options.from;
  } else {
    // The current month to date; with only --to, that day's month to it.
    p.from = p.to;
    p.from.day = 1;
  }
  if (p.to < p.from) {
    throw ReportOptionError("--to (" + FormatDate(p.to) + ") is before --from (" +
                            FormatDate(p.from) + ")");
  }
  return p;
}

size_t DaysBetween(CalendarDate from, const CalendarDate& to, size_t limit) {
  size_t n = 1;
  for (; from < to && n <= limit; from = NextDay(from)) ++n;
  return n;
}

ReportScope ScopeOf(const ReportOptions& options, const Period& period) {
  ReportScope scope;
  scope.period = FormatDate(period.from) + " to " + FormatDate(period.to);
  if (options.user) scope.conditions.push_back({"user", WideToUtf8(*options.user)});
  if (options.printer) scope.conditions.push_back({"printer", WideToUtf8(*options.printer)});
  if (options.computer) scope.conditions.push_back({"computer", WideToUtf8(*options.computer)});
  if (options.top) scope.conditions.push_back({"top", std::to_string(options.top)});
  if (options.prices.mono) {
    scope.conditions.push_back({"price per mono page", FormatPrice(*options.prices.mono)});
  }
  if (options.prices.colour) {
    scope.conditions.push_back({"price per colour page", FormatPrice(*options.prices.colour)});
  }
  return scope;
}

}  // namespace

UsageQuery QueryFor(const ReportOptions& options, const CLocalDays& days,
                    const CalendarDate& today) {
  const Period period = PeriodOf(options, today);
  UsageQuery query;
  query.by = options.by;
  query.user = options.user;
  query.printer = options.printer;
  query.computer = options.computer;
  if (options.by == GroupBy::Day) {
    if (DaysBetween(period.from, period.to, kMaxBuckets) > kMaxBuckets) {
      throw ReportOptionError("--by day covers at most " + std::to_string(kMaxBuckets) +
                              " days; choose a shorter period or --by month");
    }
    query.buckets = DayBuckets(days, period.from, period.to);
  } else if (options.by == GroupBy::Month) {
    const int months = (period.to.year - period.from.year) * 12 + period.to.month -
                       period.from.month + 1;
    if (months > static_cast<int>(kMaxBuckets)) {
      throw ReportOptionError("--by month covers at most " + std::to_string(kMaxBuckets) +
                              " months; choose a shorter period");
    }
    query.buckets = MonthBuckets(days, period.from, period.to);
  }
  query.tBegin = days.StartOf(period.from);
  query.tEnd = days.StartOf(NextDay(period.to));
  return query;
}

std::string ProduceReport(const ReportOptions& options, const ConnectionPtr& connection,
                          const CLocalDays& days, const CalendarDate& today) {
  const UsageQuery query = QueryFor(options, days, today);
  ReportTable table = Tabulate(options.by, ScopeOf(options, PeriodOf(options, today)),
                               RunUsageQuery(connection, query), options.top, options.prices);
  if (options.by == GroupBy::User) {
    AddQuotaColumns(table, connection, days, static_cast<int64_t>(std::time(nullptr)));
  }
  switch (options.format) {
    case ReportFormat::Csv: return FormatCsv(table);
    case ReportFormat::Html: return FormatHtml(table);
    case ReportFormat::Text: break;
  }
  return FormatText(table);
}

}  // namespace usage_report
