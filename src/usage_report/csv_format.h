// A report as CSV (RFC 4180): one header line, the `--by` word then the
// columns' names; one line per row, then the total; lines end in CRLF;
// UTF-8 without a byte-order mark.
#pragma once

#include <string>

#include "usage_report/report_table.h"

namespace usage_report {

std::string FormatCsv(const ReportTable& table);

// A field as RFC 4180 writes it: quoted, with quotes doubled, when it holds
// a comma, a quote, a line break or a leading or trailing blank.
std::string CsvField(const std::string& text);

}  // namespace usage_report
