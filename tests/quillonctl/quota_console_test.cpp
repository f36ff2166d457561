// quillonctl quota and the report's quota columns, as an administrator runs
// them (quillonctl.exe), on both databases.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "calendar/local_days.h"
#include "db_test_support.h"
#include "installed_service.h"

namespace {

class QuotaConsoleTest : public DatabaseTest {
 protected:
  DWORD Run(const std::string& args, std::string* pOutput) {
    return RunProgramOutput(FullPath(QUILLONCTL_EXE),
                            args + " --dsn \"" + db->ConnectionString() + "\"", pOutput);
  }
  void Record(const char* user, int pages, int64_t submitted, int color = 1) {
    db->Exec("INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages, JobSize, "
             "Submitted, PaperSize, PaperLength, PaperWidth, Color, Duplex) SELECT 1, idUser, 1, "
             "'d', " + std::to_string(pages) + ", 1, " + std::to_string(submitted) + ", 9, 0, 0, " +
             std::to_string(color) + ", 1 FROM USERS WHERE UserName = '" + user + "'");
  }
};

TEST_P(QuotaConsoleTest, WhatCannotBeAQuotaIsNamedAndNothingIsStored) {
  const struct {
    const char* args;
    const char* named;
  } kBad[] = {
      {"quota set --user ann --printer any --pages 5 --period 2026-09-31..2026-10-01 --action pause",
       "--period takes"},
      {"quota set --user ann --printer any --pages 5 --period fortnight --action pause", "--period"},
      {"quota set --user ann --printer any --pages 5 --period month --action resume",
       "--action takes pause, cancel or delete"},
      {"quota set --user ann --printer any --pages -1 --period month --action pause", "--pages"},
      {"quota reset --user any", "--user names one user"},
  };
  for (const auto& bad : kBad) {
    std::string out;
    EXPECT_EQ(Run(bad.args, &out), 1u) << bad.args;
    EXPECT_NE(out.find(bad.named), std::string::npos) << bad.args << ": " << out;
  }
  EXPECT_EQ(db->Count("QUOTAS"), 0);
  EXPECT_EQ(db->Count("QUOTARESETS"), 0);
  EXPECT_EQ(db->Count("USERS"), 0) << "no name is registered for a refused command";
}

TEST_P(QuotaConsoleTest, ShowListRemoveAndTheReportTellWhatIsUsedAndLeft) {
  std::string out;
  ASSERT_EQ(Run("quota set --user ann --printer any --pages 10 --period month --action pause", &out),
            0u) << out;
  ASSERT_EQ(Run("quota set --user any --printer any --pages 100 --period none --action delete",
                &out),
            0u) << out;
  db->Exec("INSERT INTO USERS (UserName) VALUES ('bob')");
  const int64_t tNow = static_cast<int64_t>(std::time(nullptr));
  Record("ann", 4, tNow - 60);
  Record("bob", 30, tNow - 60);
  const calendar::CLocalDays days;
  calendar::CalendarDate last = days.DateOf(tNow);
  last.day = calendar::DaysInMonth(last.year, last.month);

  ASSERT_EQ(Run("quota show --user ann", &out), 0u) << out;
  EXPECT_NE(out.find("printer any: 10 pages a month, then pause\n  used 4, left 6; the period "
                     "ends after " + calendar::FormatDate(last)),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("printer any (every user's): 100 pages in all, until reset, then delete\n"
                     "  used 4, left 96; no period end"),
            std::string::npos)
      << out;

  // The report: ann's own quota, bob's the one for everyone.
  ASSERT_EQ(Run("report --by user --format csv", &out), 0u) << out;
  EXPECT_NE(out.find("user,jobs,pages,colour_pages,sheets,bytes,quota,left\r\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("bob,1,30,0,30,1,100,70\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ann,1,4,0,4,1,10,6\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("total,2,34,0,34,2,,\r\n"), std::string::npos) << out;

  db->Exec("INSERT INTO QUOTAS (idUser, idPrinter, Pages, ColourOnly, Period, Action) "
           "VALUES (-1, 1, 5, 0, 'fortnight', 1)");
  ASSERT_EQ(Run("quota list", &out), 0u) << out;
  EXPECT_NE(out.find("user ann, printer any: 10 pages a month, then pause\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("period 'fortnight' is not one the service reads"), std::string::npos) << out;

  EXPECT_EQ(Run("quota remove --user ann --printer any --period week", &out), 1u) << out;
  EXPECT_EQ(Run("quota remove --user ann --printer any", &out), 0u) << out;
  EXPECT_EQ(Run("quota remove --user ann --printer any", &out), 1u) << out;
  EXPECT_EQ(db->Count("QUOTAS"), 2);
}

INSTANTIATE_FOR_BOTH_DATABASES(QuotaConsoleTest);

}  // namespace
