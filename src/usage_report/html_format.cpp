#include "usage_report/html_format.h"

#include "usage_report/markup_text.h"
#include "usage_report/svg_chart.h"
#include "usage_report/text_format.h"

namespace usage_report {

namespace {

// On screen and on paper alike: black text on white, figures in tabular
// digits, bars in two colours that stay apart in grey as well. Printing
// keeps the bars' colours, repeats the table's header on every page and
// keeps a chart or a row from being cut by a page break.
constexpr const char kStyle[] = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; color: #111; background: #fff;
       margin: 2em auto; max-width: 60em; padding: 0 1em; }
h1 { font-size: 1.5em; margin: 0 0 .2em; }
p.scope { margin: 0 0 1.5em; color: #333; }
h2 { font-size: 1.1em; margin: 1.5em 0 .5em; }
svg.chart { display: block; width: 100%; height: auto; }
svg.chart text { font-size: 12px; fill: #111; }
svg.chart text.tick, svg.chart text.scale { font-size: 10px; fill: #444; }
svg.chart rect.mono { fill: #4d5b6a; }
svg.chart rect.colour { fill: #f0a030; }
svg.chart line.axis { stroke: #111; }
svg.chart line.grid { stroke: #bbb; stroke-dasharray: 4 3; }
table.usage { border-collapse: collapse; margin-top: 1em; }
table.usage th, table.usage td { padding: .25em .8em; border-bottom: 1px solid #ddd; }
table.usage thead th { border-bottom: 2px solid #111; text-align: right; }
table.usage thead th:first-child, table.usage td.name, table.usage tfoot th { text-align: left; }
table.usage td.n { text-align: right; font-variant-numeric: tabular-nums; }
table.usage tfoot th, table.usage tfoot td { border-top: 2px solid #111; font-weight: bold; }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
@media print {
  body { margin: 0; max-width: none; font-size: 10pt; }
  h2, svg.chart, tr { break-inside: avoid; page-break-inside: avoid; }
  thead { display: table-header-group; }
  tfoot { display: table-row-group; }
}
)";

std::string Row(const ReportTable& table, const ReportRow& row, bool total) {
  std::string html = total ? "<tr class=\"total\"><th>" : "<tr><td class=\"name\">";
  html += EscapeMarkup(row.label);
  html += total ? "</th>" : "</td>";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    html += "<td class=\"n\" data-column=\"" + EscapeMarkup(table.columns[i].name) + "\">" +
            CellText(table.columns[i], row.values[i]) + "</td>";
  }
  return html + "</tr>\n";
}

}  // namespace

std::string FormatHtml(const ReportTable& table) {
  const std::string title = ReportTitle(table);
  const std::string scope = ScopeLine(table.scope);
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                     "<title>" + EscapeMarkup(title + ", " + scope) + "</title>\n<style>" +
                     kStyle + "</style>\n</head>\n<body>\n";
  html += "<h1>" + EscapeMarkup(title) + "</h1>\n<p class=\"scope\">" + EscapeMarkup(scope) +
          "</p>\n";
  const std::string bars = PagesBarChart(table);
  if (!bars.empty()) {
    html += std::string("<h2>Pages per ") + GroupWord(table.by) +
            (table.rows.size() > kChartBars ? ", the " + std::to_string(kChartBars) + " largest"
                                            : std::string()) +
            "</h2>\n" + bars + "\n";
  }
  if (IsOverTime(table.by) && !table.rows.empty()) {
    html += "<h2>Pages over time</h2>\n" + PagesOverTimeChart(table) + "\n";
  }
  html += "<table class=\"usage\">\n<thead><tr><th>" + std::string(GroupWord(table.by)) +
          "</th>";
  for (const ReportColumn& column : table.columns) {
    html += "<th>" + EscapeMarkup(column.name) + "</th>";
  }
  html += "</tr></thead>\n<tbody>\n";
  for (const ReportRow& row : table.rows) html += Row(table, row, false);
  html += "</tbody>\n<tfoot>" + Row(table, table.total, true) + "</tfoot>\n</table>\n";
  return html + "</body>\n</html>\n";
}

}  // namespace usage_report
