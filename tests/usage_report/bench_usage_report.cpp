// The report's own time on an open connection: the query, reading the
// groups and writing the text, best of several runs. Run by scripts/bench
// beside the same statement run bare in sqlite3 and psql; not a test.
//
//   bench_usage_report DSN BY FROM TO SQLFILE [label]
// Writes the statement to SQLFILE (host path, for the bare run) and prints
// one line: the report's best time in milliseconds and its row count.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "database/com_errors.h"
#include "database/wide_text.h"
#include "usage_report/usage_report.h"

using namespace usage_report;

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s DSN BY FROM TO SQLFILE [label]\n", argv[0]);
    return 2;
  }
  ReportOptions options;
  const std::string by = argv[2];
  options.by = by == "day" ? GroupBy::Day : by == "month" ? GroupBy::Month
             : by == "printer" ? GroupBy::Printer : by == "computer" ? GroupBy::Computer
             : GroupBy::User;
  CalendarDate from, to;
  if (!ParseDate(argv[3], from) || !ParseDate(argv[4], to)) return 2;
  options.from = from;
  options.to = to;
  options.format = ReportFormat::Text;
  const CLocalDays days;
  try {
    std::ofstream(std::string("Z:") + argv[5]) << WideToUtf8(UsageSql(QueryFor(options, days, to)))
                                               << ";\n";
    ConnectionPtr conn;
    conn.CreateInstance();
    conn->Open(argv[1]);
    double best = 1e9;
    size_t lines = 0;
    for (int run = 0; run < 5; ++run) {
      const auto start = std::chrono::steady_clock::now();
      const std::string report = ProduceReport(options, conn, days, to);
      const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count());
      lines = static_cast<size_t>(std::count(report.begin(), report.end(), '\n'));
    }
    std::printf("%s report by %s %s to %s: %.1f ms (%zu lines)\n", argc > 6 ? argv[6] : "",
                by.c_str(), argv[3], argv[4], best, lines);
    conn->Close();
  } catch (const _com_error& e) {
    std::fprintf(stderr, "database: %s\n", ComErrorDescription(e).c_str());
    return 1;
  }
  return 0;
}
