#include "usage_report/csv_format.h"

namespace usage_report {

std::string CsvField(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string field = "\"";
  for (char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

namespace {

void AppendLine(const ReportTable& table, const ReportRow& row, std::string& out) {
  out += CsvField(row.label);
  for (size_t i = 0; i < table.columns.size(); ++i) {
    out += ',';
    out += CellText(table.columns[i], row.values[i]);
  }
  out += "\r\n";
}

}  // namespace

std::string FormatCsv(const ReportTable& table) {
  std::string out = GroupWord(table.by);
  for (const ReportColumn& column : table.columns) out += "," + CsvField(column.name);
  out += "\r\n";
  for (const ReportRow& row : table.rows) AppendLine(table, row, out);
  AppendLine(table, table.total, out);
  return out;
}

}  // namespace usage_report
