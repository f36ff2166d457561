#include "usage_report/report_table.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "usage_report/money.h"

namespace usage_report {

const char* GroupWord(GroupBy by) {
  switch (by) {
    case GroupBy::User: return "user";
    case GroupBy::Printer: return "printer";
    case GroupBy::Computer: return "computer";
    case GroupBy::Day: return "day";
    case GroupBy::Month: return "month";
  }
  return "user";
}

bool IsOverTime(GroupBy by) { return by == GroupBy::Day || by == GroupBy::Month; }

int ReportTable::Column(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

std::string CellText(const ReportColumn& column, int64_t value) {
  if (value == kNoValue) return "";
  return column.kind == ColumnKind::Cents ? FormatCents(value) : std::to_string(value);
}

namespace {

int64_t CostInCents(const UsageFigures& f, const Prices& prices) {
  int64_t mono = 0, colour = 0;
  if (!PriceOfPages(f.pages - f.colourPages, prices.mono.value_or(0), mono) ||
      !PriceOfPages(f.colourPages, prices.colour.value_or(0), colour) ||
      mono > std::numeric_limits<int64_t>::max() - colour) {
    throw std::overflow_error("the cost of " + std::to_string(f.pages) +
                              " pages does not fit the report's numbers");
  }
  return RoundToCents(mono + colour);
}

}  // namespace

ReportTable Tabulate(GroupBy by, const ReportScope& scope, std::vector<UsageGroup> groups,
                     size_t top, const Prices& prices) {
  ReportTable table;
  table.by = by;
  table.scope = scope;
  for (const char* name : kFigureColumns) table.columns.push_back({name, ColumnKind::Count});
  if (prices.Given()) table.columns.push_back({"cost", ColumnKind::Cents});

  if (!IsOverTime(by)) {
    std::stable_sort(groups.begin(), groups.end(), [](const UsageGroup& a, const UsageGroup& b) {
      if (a.figures.pages != b.figures.pages) return a.figures.pages > b.figures.pages;
      return a.name < b.name;
    });
  }
  if (top > 0 && groups.size() > top) groups.resize(top);

  table.total.label = "total";
  table.total.values.assign(table.columns.size(), 0);
  for (const UsageGroup& g : groups) {
    const UsageFigures& f = g.figures;
    ReportRow row{g.name, {f.jobs, f.pages, f.colourPages, f.sheets, f.bytes}};
    if (prices.Given()) row.values.push_back(CostInCents(f, prices));
    for (size_t i = 0; i < row.values.size(); ++i) table.total.values[i] += row.values[i];
    table.rows.push_back(std::move(row));
  }
  return table;
}

}  // namespace usage_report
