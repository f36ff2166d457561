// A report as one self-contained HTML page: a heading with the period and
// the filters, the charts (inline SVG) and the table; its style sheet is
// inline too, with rules for print. It loads nothing and runs no script.
#pragma once

#include <string>

#include "usage_report/report_table.h"

namespace usage_report {

std::string FormatHtml(const ReportTable& table);

}  // namespace usage_report
