// `quillonctl report`'s command line: each option lands in the report's
// options, and each bad value is refused with a message naming the option.
#include <gtest/gtest.h>

#include <stdint.h>

#include <cstring>

#include <string>
#include <vector>

#include "report_arguments.h"
#include "usage_report/money.h"

using namespace usage_report;

namespace {

TEST(ReportArguments, EveryOptionFillsItsField) {
  CReportCommand cmd;
  ASSERT_EQ(ParseReportCommand({L"report", L"--by", L"month", L"--from", L"2024-02-29",
                                L"--to=2025-01-31", L"--user", L"Zo\u00eb", L"--printer",
                                L"Laser 2", L"--computer", L"WS,1", L"--top", L"3",
                                L"--price-mono", L"0.035", L"--price-colour", L".5", L"--format",
                                L"html", L"--output", L"r.html", L"--dsn", L"Driver=X"},
                               cmd),
            "");
  const ReportOptions& o = cmd.options;
  EXPECT_EQ(o.by, GroupBy::Month);
  EXPECT_TRUE(o.from && *o.from == (CalendarDate{2024, 2, 29}));
  EXPECT_TRUE(o.to && *o.to == (CalendarDate{2025, 1, 31}));
  EXPECT_EQ(o.user.value_or(L""), L"Zo\u00eb");
  EXPECT_EQ(o.printer.value_or(L""), L"Laser 2");
  EXPECT_EQ(o.computer.value_or(L""), L"WS,1");
  EXPECT_EQ(o.top, 3u);
  EXPECT_EQ(o.prices.mono.value_or(-1), 350);
  EXPECT_EQ(o.prices.colour.value_or(-1), 5000);
  EXPECT_EQ(o.format, ReportFormat::Html);
  EXPECT_EQ(cmd.output.value_or(L""), L"r.html");
  EXPECT_EQ(cmd.dsn.value_or(L""), L"Driver=X");

  // Without options: by user, as text, this month, every row, no cost.
  ASSERT_EQ(ParseReportCommand({L"report"}, cmd), "");
  EXPECT_EQ(cmd.options.by, GroupBy::User);
  EXPECT_EQ(cmd.options.format, ReportFormat::Text);
  EXPECT_FALSE(cmd.options.from || cmd.options.to || cmd.options.prices.Given() || cmd.dsn);
  EXPECT_EQ(cmd.options.top, 0u);
}

TEST(ReportArguments, BadValuesAreRefusedByName) {
  const struct {
    std::vector<std::wstring> args;
    const char* error;
  } cases[] = {
      {{L"report", L"--by", L"week"}, "--by takes user, printer, computer, day or month"},
      {{L"report", L"--from", L"2025-02-29"}, "--from takes a day as YYYY-MM-DD"},
      {{L"report", L"--from", L"2025-03-02", L"--to", L"2025-03-01"}, "--to is before --from"},
      {{L"report", L"--top", L"0"}, "--top takes a number of rows from 1"},
      {{L"report", L"--price-mono", L"0.00001"}, "--price-mono takes a price per page"},
      {{L"report", L"--price-colour", L"-1"}, "--price-colour takes a price per page"},
      {{L"report", L"--format", L"pdf"}, "--format takes text, csv or html"},
  };
  for (const auto& c : cases) {
    CReportCommand cmd;
    const std::string error = ParseReportCommand(c.args, cmd);
    EXPECT_EQ(error.compare(0, std::strlen(c.error), c.error), 0) << error;
  }
}

TEST(ReportMoney, PricesAreExactAndCostsRoundHalfUpOnce) {
  int64_t price = 0;
  ASSERT_TRUE(ParsePrice("0.035", price));
  int64_t cost = 0;
  ASSERT_TRUE(PriceOfPages(3, price, cost));
  EXPECT_EQ(FormatCents(RoundToCents(cost)), "0.11");   // 0.105
  ASSERT_TRUE(PriceOfPages(1, price, cost));
  EXPECT_EQ(FormatCents(RoundToCents(cost)), "0.04");   // 0.035
  EXPECT_FALSE(PriceOfPages(INT64_MAX / 2, kMaxPrice, cost));
  EXPECT_FALSE(ParsePrice("10000.0001", price));
  EXPECT_TRUE(ParsePrice("10000", price));
}

}  // namespace
