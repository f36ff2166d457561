// The charts of the HTML report, as inline SVG: plain shapes, no script.
// Each bar is a group carrying its figures as data attributes, with its mono
// pages and its colour pages as two stacked rectangles, so that a reader
// (or a test) finds both the picture and the numbers behind it.
#pragma once

#include <stddef.h>

#include <string>

#include "usage_report/report_table.h"

namespace usage_report {

// How many rows the bar chart shows at most.
constexpr size_t kChartBars = 20;

// A horizontal bar of pages per row, for the rows with the most pages (at
// most kChartBars), largest first; empty when the table has no pages column.
std::string PagesBarChart(const ReportTable& table);

// For reports over time: a column of pages per day or month, every row in
// time order, with the empty ones at zero height.
std::string PagesOverTimeChart(const ReportTable& table);

}  // namespace usage_report
