// The usage report: who printed how much, where and when. The one entry
// point takes plain options, asks the database for the sums (usage_query),
// builds the rows (report_table) and writes them in the chosen format.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "database/connection.h"
#include "calendar/local_days.h"
#include "usage_report/report_table.h"
#include "usage_report/usage_query.h"

namespace usage_report {

enum class ReportFormat { Text, Csv, Html };

struct ReportOptions {
  GroupBy by = GroupBy::User;
  // Inclusive local days; without them, the current month to date.
  std::optional<CalendarDate> from;
  std::optional<CalendarDate> to;
  std::optional<std::wstring> user;
  std::optional<std::wstring> printer;
  std::optional<std::wstring> computer;
  size_t top = 0;   // 0: every row
  Prices prices;
  ReportFormat format = ReportFormat::Text;
};

// Options that cannot make a report (a period that ends before it begins,
// too many days); its text names the option.
class ReportOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The report's text, UTF-8. `days` places the local days; `today` is the
// local date now, for the default period. Raises ReportOptionError,
// _com_error when the database fails, std::runtime_error when a day
// cannot be converted and std::overflow_error when a cost is too large.
std::string ProduceReport(const ReportOptions& options, const ConnectionPtr& connection,
                          const CLocalDays& days, const CalendarDate& today);

// The query that ProduceReport runs for these options (for the benchmark,
// which runs the same statement bare).
UsageQuery QueryFor(const ReportOptions& options, const CLocalDays& days,
                    const CalendarDate& today);

}  // namespace usage_report
