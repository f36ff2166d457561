// `quillonctl report`'s options: each value lands in the report's options,
// each bad value is refused with a message naming the option, and the
// command is registered with the others.
#include <gtest/gtest.h>

#include <stdint.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_codes.h"
#include "report_arguments.h"
#include "tool_context.h"
#include "usage_report/money.h"

using namespace usage_report;

namespace {

TEST(ReportArguments, EveryOptionFillsItsField) {
  CReportCommand cmd;
  ASSERT_EQ(ReportCommandFrom({{"--by", "month"},
                               {"--from", "2024-02-29"},
                               {"--to", "2025-01-31"},
                               {"--user", "Zo\xC3\xAB"},
                               {"--printer", "Laser 2"},
                               {"--computer", "WS,1"},
                               {"--top", "3"},
                               {"--price-mono", "0.035"},
                               {"--price-colour", ".5"},
                               {"--format", "html"},
                               {"--output", "r.html"},
                               {"--dsn", "Driver=X"}},
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
  EXPECT_TRUE(cmd.bDsnGiven);
  EXPECT_EQ(cmd.dsn, "Driver=X");

  // Without options: by user, as text, this month, every row, no cost.
  ASSERT_EQ(ReportCommandFrom({}, cmd), "");
  EXPECT_EQ(cmd.options.by, GroupBy::User);
  EXPECT_EQ(cmd.options.format, ReportFormat::Text);
  EXPECT_FALSE(cmd.options.from || cmd.options.to || cmd.options.prices.Given() || cmd.bDsnGiven);
  EXPECT_EQ(cmd.options.top, 0u);
}

TEST(ReportArguments, BadValuesAreRefusedByName) {
  const struct {
    std::map<std::string, std::string> given;
    const char* error;
  } cases[] = {
      {{{"--by", "week"}}, "--by takes user, printer, computer, day or month"},
      {{{"--from", "2025-02-29"}}, "--from takes a day as YYYY-MM-DD"},
      {{{"--from", "2025-03-02"}, {"--to", "2025-03-01"}}, "--to is before --from"},
      {{{"--top", "0"}}, "--top takes a number of rows from 1"},
      {{{"--price-mono", "0.00001"}}, "--price-mono takes a price per page"},
      {{{"--price-colour", "-1"}}, "--price-colour takes a price per page"},
      {{{"--format", "pdf"}}, "--format takes text, csv or html"},
      {{{"--user", ""}}, "--user must not be empty"},
  };
  for (const auto& c : cases) {
    CReportCommand cmd;
    const std::string error = ReportCommandFrom(c.given, cmd);
    EXPECT_EQ(error.compare(0, std::strlen(c.error), c.error), 0) << error;
  }
}

TEST(ReportArguments, TheCommandLineKnowsTheReportAndItsHelp) {
  std::ostringstream out, err;
  CToolStreams io{out, err};
  EXPECT_EQ(RunCommandLine({L"report", L"--by", L"week"}, CJobDefaults(), io),
            kExitBadArguments);
  EXPECT_NE(err.str().find("--by takes user, printer"), std::string::npos) << err.str();
  EXPECT_EQ(RunCommandLine({L"report", L"--help"}, CJobDefaults(), io), kExitSent);
  EXPECT_NE(out.str().find("--price-colour"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Exit codes:"), std::string::npos) << out.str();
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
