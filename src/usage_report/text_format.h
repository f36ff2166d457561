// A report for a console: a heading line (what, when, which filters), then
// the table in aligned columns, names to the left and figures to the
// right, a rule above the total. UTF-8; widths count characters, not bytes.
#pragma once

#include <string>

#include "usage_report/report_table.h"

namespace usage_report {

std::string FormatText(const ReportTable& table);

// "Printing by user, 2025-03-01 to 2025-03-31; printer: Laser 2": the
// heading that the text and HTML reports share.
std::string ReportTitle(const ReportTable& table);
std::string ScopeLine(const ReportScope& scope);

// Characters (code points) in a UTF-8 text.
size_t Utf8Length(const std::string& text);

}  // namespace usage_report
