// The report on a database filled with known jobs, on SQLite and on
// PostgreSQL: every --by, read back from its CSV, against figures that the
// test sums up itself from the jobs it wrote. The jobs cover several users,
// printers and computers, colour and duplex, the first and last second of
// the period and the seconds just outside it, a job whose day only the
// zone's summer time gives, and names with commas, quotes, markup and
// characters beyond ASCII. And the index that makes reports fast reaches a
// database made before it through setup's plan.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "central_europe.h"
#include "database/odbc_statement.h"
#include "database/record_transfer.h"
#include "database/schema_setup.h"
#include "database/wide_text.h"
#include "db_test_support.h"
#include "usage_report/usage_report.h"

using namespace usage_report;

namespace {

const std::vector<std::wstring> kUsers = {L"ann", L"Bob, Jr.", L"Zo\u00eb \"Z\" \u00d8deg\u00e5rd",
                                          L"\u0414\u043c\u0438\u0442\u0440\u0438\u0439",
                                          L"\u674e\u96f7", L"<b>x</b>"};
const std::vector<std::wstring> kPrinters = {L"Laser 2", L"Farbe, 3. OG", L"\"Quoted\" HP"};
const std::vector<std::wstring> kComputers = {L"WS-01", L"B\u00fcro-PC", L"LAB,7"};

struct Job {
  size_t user, printer, computer;
  int64_t submitted;   // UTC seconds
  int64_t pages, color, duplex, bytes;
};

struct Expected {
  int64_t jobs = 0, pages = 0, colour = 0, sheets = 0, bytes = 0;
};

// 2025-03-01 00:00 in Central Europe is 2025-02-28 23:00 UTC; 2025-04-01
// 00:00 (summer time) is 2025-03-31 22:00 UTC.
constexpr int64_t kMarchBegins = 1740783600;
constexpr int64_t kAprilBegins = 1743458400;

std::vector<Job> KnownJobs() {
  std::vector<Job> jobs = {
      {0, 0, 0, kMarchBegins - 1, 11, 1, 1, 1100},       // just before: February
      {1, 1, 1, kMarchBegins, 7, 2, 2, 700},             // the first second
      {2, 2, 2, kAprilBegins - 1, 9, 1, 3, 900},         // the last second
      {3, 0, 1, kAprilBegins, 13, 2, 1, 1300},           // just after: April
      // 2025-03-30 22:30 UTC is 00:30 on the 31st in summer time, but
      // 23:30 on the 30th at the winter offset.
      {4, 1, 0, 1743373800, 5, 2, 2, 500},
  };
  // The rest spread over the month and a few days either side, with every
  // combination of colour and duplex; odd pages make the halving round up.
  uint32_t seed = 19;
  for (int i = 0; i < 90; ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t r = seed >> 8;
    jobs.push_back({r % kUsers.size(), (r / 7) % kPrinters.size(), (r / 31) % kComputers.size(),
                    kMarchBegins - 3 * 86400 + static_cast<int64_t>(r % (37 * 86400)),
                    1 + static_cast<int64_t>(r % 41), 1 + (r / 13) % 2, 1 + (r / 17) % 3,
                    1000 + static_cast<int64_t>(r % 50000)});
  }
  return jobs;
}

// The job's day in the zone, by the conversion the other way round from
// the one the report uses.
SYSTEMTIME LocalTimeOf(int64_t t) {
  const TIME_ZONE_INFORMATION tz = CentralEurope();
  const ULONGLONG ticks = static_cast<ULONGLONG>(t) * 10000000ULL + 116444736000000000ULL;
  FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc = {}, local = {};
  EXPECT_TRUE(FileTimeToSystemTime(&ft, &utc));
  EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(&tz, &utc, &local));
  return local;
}

std::string Label(const SYSTEMTIME& st, bool day) {
  char text[16];
  if (day) {
    snprintf(text, sizeof(text), "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
  } else {
    snprintf(text, sizeof(text), "%04u-%02u", st.wYear, st.wMonth);
  }
  return text;
}

// An RFC 4180 reader: CRLF after every record, fields quoted when they
// hold a comma, a quote or a line break, quotes doubled inside.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1);
  std::string field;
  bool quoted = false, wasQuoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      EXPECT_TRUE(field.empty() && !wasQuoted) << "a quote inside an unquoted field at " << i;
      quoted = wasQuoted = true;
    } else if (c == ',') {
      records.back().push_back(field);
      field.clear();
      wasQuoted = false;
    } else if (c == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "CR without LF at " << i;
      records.back().push_back(field);
      field.clear();
      wasQuoted = false;
      records.emplace_back();
      ++i;
    } else {
      EXPECT_NE(c, '\n') << "LF without CR at " << i;
      field += c;
    }
  }
  EXPECT_TRUE(field.empty() && records.back().empty()) << "the last record has no CRLF";
  records.pop_back();
  return records;
}

std::vector<std::string> Line(const std::string& label, const Expected& e) {
  return {label, std::to_string(e.jobs), std::to_string(e.pages), std::to_string(e.colour),
          std::to_string(e.sheets), std::to_string(e.bytes)};
}

class UsageReportTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (!db) return;
    InsertNames(L"USERS", L"UserName", kUsers);
    InsertNames(L"PRINTERS", L"PrnName", kPrinters);
    InsertNames(L"COMPUTERS", L"CompName", kComputers);
    jobs = KnownJobs();
    for (const Job& j : jobs) {
      // Ids follow the order of insertion into the fresh tables.
      db->Exec("INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages, JobSize, "
               "Submitted, PaperSize, PaperLength, PaperWidth, Color, Duplex) VALUES (" +
               std::to_string(j.printer + 1) + ", " + std::to_string(j.user + 1) + ", " +
               std::to_string(j.computer + 1) + ", 'doc', " + std::to_string(j.pages) + ", " +
               std::to_string(j.bytes) + ", " + std::to_string(j.submitted) + ", 9, 0, 0, " +
               std::to_string(j.color) + ", " + std::to_string(j.duplex) + ")");
    }
  }

  void InsertNames(const std::wstring& table, const std::wstring& column,
                   const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
      COdbcStatement stmt(conn->Handle());
      stmt.Prepare(L"INSERT INTO " + table + L" (" + column + L") VALUES (?)");
      std::vector<CParameterValue> values{CParameterValue::Wide(name)};
      BindParameters(stmt, values);
      stmt.Execute();
    }
    ASSERT_EQ(db->Count(WideToAnsi(table)), static_cast<int64_t>(names.size()));
  }

  std::vector<std::vector<std::string>> Csv(ReportOptions options) {
    options.format = ReportFormat::Csv;
    const TIME_ZONE_INFORMATION tz = CentralEurope();
    // "today" only matters without --from and --to.
    return ParseCsv(ProduceReport(options, conn, CLocalDays(&tz), {2025, 3, 20}));
  }

  // Sums the jobs of the period that pass `keep`, per key.
  template <typename Key, typename Keep>
  std::map<std::string, Expected> Sums(const std::string& from, const std::string& to, Key key,
                                       Keep keep) const {
    std::map<std::string, Expected> sums;
    for (const Job& j : jobs) {
      const std::string day = Label(LocalTimeOf(j.submitted), true);
      if (day < from || day > to || !keep(j)) continue;
      Expected& e = sums[key(j)];
      ++e.jobs;
      e.pages += j.pages;
      e.colour += j.color == 2 ? j.pages : 0;
      e.sheets += j.duplex == 1 ? j.pages : (j.pages + 1) / 2;
      e.bytes += j.bytes;
    }
    return sums;
  }

  std::vector<Job> jobs;
};

Expected Total(const std::vector<std::pair<std::string, Expected>>& rows) {
  Expected t;
  for (const auto& r : rows) {
    t.jobs += r.second.jobs;
    t.pages += r.second.pages;
    t.colour += r.second.colour;
    t.sheets += r.second.sheets;
    t.bytes += r.second.bytes;
  }
  return t;
}

// Rows by pages, largest first; equal pages by name.
std::vector<std::pair<std::string, Expected>> ByPages(const std::map<std::string, Expected>& m) {
  std::vector<std::pair<std::string, Expected>> rows(m.begin(), m.end());
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return a.second.pages > b.second.pages;
  });
  return rows;
}

void ExpectReport(const std::vector<std::vector<std::string>>& csv, const std::string& word,
                  const std::vector<std::pair<std::string, Expected>>& rows) {
  ASSERT_EQ(csv.size(), rows.size() + 2);
  EXPECT_EQ(csv[0], (std::vector<std::string>{word, "jobs", "pages", "colour_pages", "sheets",
                                              "bytes"}));
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(csv[i + 1], Line(rows[i].first, rows[i].second)) << "row " << i + 1;
  }
  EXPECT_EQ(csv.back(), Line("total", Total(rows)));
}

TEST_P(UsageReportTest, EachGroupingMatchesTheJobsOfThePeriod) {
  ReportOptions options;
  options.from = CalendarDate{2025, 3, 1};
  options.to = CalendarDate{2025, 3, 31};
  auto all = [](const Job&) { return true; };
  const struct {
    GroupBy by;
    const char* word;
    std::string (*key)(const Job&);
  } names[] = {
      {GroupBy::User, "user", [](const Job& j) { return WideToUtf8(kUsers[j.user]); }},
      {GroupBy::Printer, "printer", [](const Job& j) { return WideToUtf8(kPrinters[j.printer]); }},
      {GroupBy::Computer, "computer",
       [](const Job& j) { return WideToUtf8(kComputers[j.computer]); }},
  };
  for (const auto& n : names) {
    SCOPED_TRACE(n.word);
    options.by = n.by;
    const auto sums = Sums("2025-03-01", "2025-03-31", n.key, all);
    ASSERT_EQ(sums.size(), n.by == GroupBy::User ? kUsers.size() : 3u);
    ExpectReport(Csv(options), n.word, ByPages(sums));
  }

  // Every day of March in order, the days without jobs at zero.
  options.by = GroupBy::Day;
  const auto days = Sums("2025-03-01", "2025-03-31",
                         [](const Job& j) { return Label(LocalTimeOf(j.submitted), true); }, all);
  std::vector<std::pair<std::string, Expected>> dayRows;
  for (int d = 1; d <= 31; ++d) {
    char label[16];
    snprintf(label, sizeof(label), "2025-03-%02d", d);
    auto it = days.find(label);
    dayRows.push_back({label, it == days.end() ? Expected() : it->second});
  }
  ASSERT_EQ(days.count("2025-03-31"), 1u);
  ASSERT_LT(days.size(), 31u) << "the fixture should leave some day empty";
  ExpectReport(Csv(options), "day", dayRows);

  // Months cut to a period that begins and ends inside one.
  options.by = GroupBy::Month;
  options.from = CalendarDate{2025, 2, 27};
  options.to = CalendarDate{2025, 4, 1};
  const auto months = Sums("2025-02-27", "2025-04-01",
                           [](const Job& j) { return Label(LocalTimeOf(j.submitted), false); },
                           all);
  ExpectReport(Csv(options), "month",
               {{"2025-02", months.at("2025-02")},
                {"2025-03", months.at("2025-03")},
                {"2025-04", months.at("2025-04")}});
}

TEST_P(UsageReportTest, FiltersCombineAndTopRowsArePricedAndTotalled) {
  ReportOptions options;
  options.by = GroupBy::Printer;
  options.from = CalendarDate{2025, 3, 1};
  options.to = CalendarDate{2025, 3, 31};
  options.computer = kComputers[1];
  options.top = 2;
  options.prices.mono = 500;      // 0.05
  options.prices.colour = 2500;   // 0.25
  const auto sums = Sums(
      "2025-03-01", "2025-03-31", [](const Job& j) { return WideToUtf8(kPrinters[j.printer]); },
      [](const Job& j) { return j.computer == 1; });
  std::vector<std::pair<std::string, Expected>> rows = ByPages(sums);
  ASSERT_EQ(rows.size(), 3u) << "the fixture should give the computer three printers";
  rows.resize(2);

  const auto csv = Csv(options);
  ASSERT_EQ(csv.size(), 4u);
  EXPECT_EQ(csv[0].back(), "cost");
  int64_t totalCents = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const Expected& e = rows[i].second;
    const int64_t cents = (e.pages - e.colour) * 5 + e.colour * 25;
    totalCents += cents;
    std::vector<std::string> line = Line(rows[i].first, e);
    line.push_back(std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") +
                   std::to_string(cents % 100));
    EXPECT_EQ(csv[i + 1], line);
  }
  std::vector<std::string> total = Line("total", Total(rows));
  total.push_back(std::to_string(totalCents / 100) + "." + (totalCents % 100 < 10 ? "0" : "") +
                  std::to_string(totalCents % 100));
  EXPECT_EQ(csv[3], total);

  // A user beyond ASCII as a filter, with the printer: only their jobs there.
  options = ReportOptions();
  options.from = CalendarDate{2025, 3, 1};
  options.to = CalendarDate{2025, 3, 31};
  options.user = kUsers[3];
  options.printer = kPrinters[1];
  const auto one = Sums(
      "2025-03-01", "2025-03-31", [](const Job& j) { return WideToUtf8(kUsers[j.user]); },
      [](const Job& j) { return j.user == 3 && j.printer == 1; });
  ASSERT_EQ(one.size(), 1u);
  ExpectReport(Csv(options), "user", ByPages(one));

  // A name that no job has gives an empty report, not an error.
  options.user = L"nobody";
  ExpectReport(Csv(options), "user", {});
}

TEST_P(UsageReportTest, ThePeriodDefaultsToTheMonthToDate) {
  // "today" is 2025-03-20: the report covers March 1 to 20.
  const auto sums = Sums(
      "2025-03-01", "2025-03-20", [](const Job& j) { return WideToUtf8(kUsers[j.user]); },
      [](const Job&) { return true; });
  ExpectReport(Csv(ReportOptions()), "user", ByPages(sums));
}

TEST_P(UsageReportTest, SetupAddsTheReportIndexToADatabaseMadeBeforeIt) {
  db->Exec("DROP INDEX IX_PRNDATA_Submitted");
  const SCHEMA_PLAN plan = PlanSchema(conn);
  ASSERT_EQ(plan.missing.size(), 1u);
  EXPECT_EQ(plan.missing[0].name, "IX_PRNDATA_Submitted");
  CreateSchemaObjects(conn, plan.missing);
  EXPECT_TRUE(PlanSchema(conn).missing.empty());
}

INSTANTIATE_FOR_BOTH_DATABASES(UsageReportTest);

}  // namespace
