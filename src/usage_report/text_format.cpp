#include "usage_report/text_format.h"

#include <algorithm>
#include <vector>

namespace usage_report {

size_t Utf8Length(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string ReportTitle(const ReportTable& table) {
  return std::string("Printing by ") + GroupWord(table.by);
}

std::string ScopeLine(const ReportScope& scope) {
  std::string line = scope.period;
  for (const auto& condition : scope.conditions) {
    line += "; " + condition.first + ": " + condition.second;
  }
  return line;
}

namespace {

std::string Pad(const std::string& text, size_t width, bool left) {
  const size_t length = Utf8Length(text);
  const std::string fill(width > length ? width - length : 0, ' ');
  return left ? text + fill : fill + text;
}

std::vector<std::string> Cells(const ReportTable& table, const ReportRow& row) {
  std::vector<std::string> cells{row.label};
  for (size_t i = 0; i < table.columns.size(); ++i) {
    cells.push_back(CellText(table.columns[i], row.values[i]));
  }
  return cells;
}

std::string Line(const std::vector<std::string>& cells, const std::vector<size_t>& widths) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) line += "  ";
    line += Pad(cells[i], widths[i], i == 0);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n";
}

}  // namespace

std::string FormatText(const ReportTable& table) {
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> header{GroupWord(table.by)};
  for (const ReportColumn& column : table.columns) header.push_back(column.name);
  lines.push_back(header);
  for (const ReportRow& row : table.rows) lines.push_back(Cells(table, row));
  lines.push_back(Cells(table, table.total));

  std::vector<size_t> widths(header.size(), 0);
  for (const auto& cells : lines) {
    for (size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], Utf8Length(cells[i]));
    }
  }
  size_t ruleWidth = 2 * (widths.size() - 1);
  for (size_t w : widths) ruleWidth += w;

  std::string out = ReportTitle(table) + ", " + ScopeLine(table.scope) + "\n\n";
  for (size_t k = 0; k < lines.size(); ++k) {
    if (k == lines.size() - 1) out += std::string(ruleWidth, '-') + "\n";
    out += Line(lines[k], widths);
    if (k == 0) out += std::string(ruleWidth, '-') + "\n";
  }
  return out;
}

}  // namespace usage_report
