// The rows of a usage report as every format shows them: what the database
// summed up per group, ordered, cut to the top rows, priced, and closed by a
// total. Columns are a list, not fields, so that a figure can be added
// (a user's quota, say) without touching the formats.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace usage_report {

enum class GroupBy { User, Printer, Computer, Day, Month };
// "user", "printer", "computer", "day", "month": the option's word and the
// first column's name.
const char* GroupWord(GroupBy by);
bool IsOverTime(GroupBy by);

// What the database sums up for one group. Pages are as recorded (copies
// included); colour pages are the pages of jobs recorded in colour; sheets
// are the pages, halved and rounded up for jobs recorded duplex.
struct UsageFigures {
  int64_t jobs = 0;
  int64_t pages = 0;
  int64_t colourPages = 0;
  int64_t sheets = 0;
  int64_t bytes = 0;
};

// One group as the query returns it; the name is UTF-8 (for a day or a
// month, its label).
struct UsageGroup {
  std::string name;
  UsageFigures figures;
};

// Prices per page in ten-thousandths (money.h). Without either price the
// report has no cost column; with one, the other kind of page costs 0.
struct Prices {
  std::optional<int64_t> mono;
  std::optional<int64_t> colour;
  bool Given() const { return mono || colour; }
};

enum class ColumnKind {
  Count,   // a whole number
  Cents,   // money in hundredths, shown with two decimals
};

struct ReportColumn {
  std::string name;   // as the csv header names it
  ColumnKind kind;
  bool bSummed = true;   // the total row holds the sum; else nothing
};

// A cell with nothing to show (a user without a quota, a total that is no
// sum): every format writes it empty.
constexpr int64_t kNoValue = INT64_MIN;

struct ReportRow {
  std::string label;             // UTF-8
  std::vector<int64_t> values;   // one per column, in column order
};

// What a report is about, for headings: the period and each filter or
// price that was given, as (what, value) pairs in UTF-8.
struct ReportScope {
  std::string period;   // "2025-03-01 to 2025-03-31"
  std::vector<std::pair<std::string, std::string>> conditions;
};

struct ReportTable {
  GroupBy by = GroupBy::User;
  ReportScope scope;
  std::vector<ReportColumn> columns;
  std::vector<ReportRow> rows;
  ReportRow total;   // labelled "total": the sum of the rows shown

  // The column's index, or -1 when the report has no such column.
  int Column(const std::string& name) const;
};

// A value as every format writes it: "1234", or "12.50" for money; "" for
// kNoValue.
std::string CellText(const ReportColumn& column, int64_t value);

// The columns every report has, in order; "cost" follows when priced.
constexpr const char* kFigureColumns[] = {"jobs", "pages", "colour_pages", "sheets", "bytes"};

// Builds the table. Groups by name are ordered by pages, largest first
// (ties by name); groups over time keep the order they come in, which is
// time order. top > 0 keeps the first `top` rows. Raises
// std::overflow_error when a cost does not fit 64 bits.
ReportTable Tabulate(GroupBy by, const ReportScope& scope, std::vector<UsageGroup> groups,
                     size_t top, const Prices& prices);

}  // namespace usage_report
