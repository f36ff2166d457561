// The aggregate query of a usage report: the database sums up the jobs of
// the period per user, printer, computer, day or month, and hands back one
// row per group. Nothing but the groups crosses the connection, so the
// report costs what the query costs.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "database/connection.h"
#include "calendar/local_days.h"
#include "usage_report/report_table.h"

namespace usage_report {

// The calendar of the server's local days (calendar/local_days.h), which
// page quotas share, under the names the report has always used.
using calendar::CalendarDate;
using calendar::CLocalDays;
using calendar::DayBuckets;
using calendar::DaysInMonth;
using calendar::FirstOfNextMonth;
using calendar::FormatDate;
using calendar::FormatMonth;
using calendar::MonthBuckets;
using calendar::NextDay;
using calendar::ParseDate;
using calendar::TimeBucket;

struct UsageQuery {
  GroupBy by = GroupBy::User;
  // The period, UTC seconds: [tBegin, tEnd). Over time, the buckets cover it
  // instead, in order and without gaps.
  int64_t tBegin = 0;
  int64_t tEnd = 0;
  std::vector<TimeBucket> buckets;
  // Only the jobs of this user, printer, computer (exact names).
  std::optional<std::wstring> user;
  std::optional<std::wstring> printer;
  std::optional<std::wstring> computer;
};

// The most rows a report over time may have: the query lists its buckets.
constexpr size_t kMaxBuckets = 4000;

// The statement, the same on SQLite and PostgreSQL. Its "?" markers take
// the filters' names in the order user, printer, computer (those given).
// Without filters it has no markers and can be run as it is.
std::wstring UsageSql(const UsageQuery& query);

// Runs the statement under the connection's mutex. Groups by name come in
// no particular order; a job whose user, printer or computer has no row
// of its own is grouped under "#" and its id. Over time, every bucket
// has a group, in order, with zeros where there were no jobs. Raises
// _com_error when the database fails.
std::vector<UsageGroup> RunUsageQuery(const ConnectionPtr& connection, const UsageQuery& query);

}  // namespace usage_report
