// The pieces of quillonctl that need no database: the printer lists as the
// tool edits them, the connection strings it makes and shows, the service's
// directory from its image path, and the journal read while the service
// may write it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection_setting.h"
#include "job_accounting/job_journal.h"
#include "printer_lists.h"
#include "printer_monitor/ini_file.h"
#include "service_control.h"
#include "temp_directory.h"

namespace {

const std::string kHeaderLine = std::string(kListHeader) + "\r\n";

std::string Listed(const std::string& dir) {
  std::string all;
  for (const LISTED_PRINTER& p : ReadPrinterLists(dir)) {
    all += p.name + (p.kind == PrinterKind::Gdi ? " (GDI);" : ";");
  }
  return all;
}

class PrinterListsTest : public ::testing::Test {
 protected:
  CTempDirectory dir;
};

TEST_F(PrinterListsTest, APrinterIsListedOnceInTheListOfItsKind) {
  EXPECT_EQ(Listed(dir.Path()), "") << "no lists: no printers, and none created";
  EXPECT_FALSE(dir.Exists("printers.lst"));
  EXPECT_EQ(ListPrinter(dir.Path(), "Laser 2", PrinterKind::Ordinary), ListChange::Added);
  EXPECT_EQ(ListPrinter(dir.Path(), "Plotter", PrinterKind::Gdi), ListChange::Added);
  EXPECT_EQ(ListPrinter(dir.Path(), "Laser 2", PrinterKind::Ordinary), ListChange::AlreadyListed);
  EXPECT_EQ(dir.Read("printers.lst"), kHeaderLine + "Laser 2\r\n");
  EXPECT_EQ(dir.Read("gdiprinters.lst"), kHeaderLine + "Plotter\r\n");
  // Listed as the other kind, it moves.
  EXPECT_EQ(ListPrinter(dir.Path(), "Laser 2", PrinterKind::Gdi), ListChange::Moved);
  EXPECT_EQ(Listed(dir.Path()), "Plotter (GDI);Laser 2 (GDI);");
  EXPECT_EQ(dir.Read("printers.lst"), kHeaderLine);
}

TEST_F(PrinterListsTest, RemovingTakesEveryEntryOfTheNameAndKeepsTheRest) {
  // A list written by hand: no header, a comment, the name twice, and a
  // last line without its line end.
  dir.Write("printers.lst", "//mine\nA\nB\nA\nC");
  EXPECT_TRUE(UnlistPrinter(dir.Path(), "A"));
  EXPECT_EQ(dir.Read("printers.lst"), "//mine\r\nB\r\nC");
  EXPECT_FALSE(UnlistPrinter(dir.Path(), "A"));
  EXPECT_TRUE(UnlistPrinter(dir.Path(), "C")) << "an unended last line is an entry too";
  EXPECT_EQ(Listed(dir.Path()), "B;");
  EXPECT_FALSE(dir.Exists("copy.bak"));
}

TEST_F(PrinterListsTest, ANameAddedAfterAnUnendedLastLineStaysAnEntryOfItsOwn) {
  dir.Write("printers.lst", kHeaderLine + "A");
  EXPECT_EQ(ListPrinter(dir.Path(), "A", PrinterKind::Ordinary), ListChange::AlreadyListed);
  EXPECT_EQ(ListPrinter(dir.Path(), "B", PrinterKind::Ordinary), ListChange::Added);
  EXPECT_EQ(Listed(dir.Path()), "A;B;");
}

TEST(PrinterNameTest, NamesTheListsCannotHoldAreRefusedWithTheReason) {
  EXPECT_EQ(PrinterNameProblem("Laser 2"), "");
  EXPECT_EQ(PrinterNameProblem(std::string(258, 'x')), "");
  EXPECT_NE(PrinterNameProblem("").find("empty"), std::string::npos);
  EXPECT_NE(PrinterNameProblem("A\nB").find("line break"), std::string::npos);
  EXPECT_NE(PrinterNameProblem("A\r").find("line break"), std::string::npos);
  EXPECT_NE(PrinterNameProblem("//A").find("comment"), std::string::npos);
  EXPECT_NE(PrinterNameProblem(std::string(259, 'x')).find("at most 258"), std::string::npos);
}

TEST(PrinterNameTest, AListOfNamesIsSplitAtSemicolonsWithoutBlanksOrEmptyPieces) {
  EXPECT_EQ(SplitPrinterNames("Laser 2;Laser 3"), (std::vector<std::string>{"Laser 2", "Laser 3"}));
  EXPECT_EQ(SplitPrinterNames(" Front Desk ; ;Laser 3;"),
            (std::vector<std::string>{"Front Desk", "Laser 3"}));
  EXPECT_EQ(SplitPrinterNames("One"), std::vector<std::string>{"One"});
  EXPECT_TRUE(SplitPrinterNames(" ; ").empty());
}

TEST(ConnectionTextTest, PasswordsAreHiddenAndEverythingElseKept) {
  struct {
    const char* dsn;
    const char* shown;
  } cases[] = {
      {"Driver={PostgreSQL Unicode};Server=db;Uid=q;Pwd=secret",
       "Driver={PostgreSQL Unicode};Server=db;Uid=q;Pwd=***"},
      {"PWD={se;c}}ret};Database=x", "PWD=***;Database=x"},
      {"Driver=SQLite3;password=a=b;Timeout=5", "Driver=SQLite3;password=***;Timeout=5"},
      {"Driver=SQLite3;Database=/tmp/pwd.db;", "Driver=SQLite3;Database=/tmp/pwd.db;"},
      {"DSN=quillon", "DSN=quillon"},
  };
  for (const auto& c : cases) EXPECT_EQ(HidePassword(c.dsn), c.shown) << c.dsn;
}

TEST(ConnectionTextTest, TheEmbeddedDefaultNamesTheDriverTheFileAndABusyTimeOut) {
  std::string why;
  EXPECT_EQ(SqliteConnectionString("C:\\ProgramData\\Quillon\\quillon.db", kSqliteDriverName,
                                   &why),
            "Driver={SQLite3 ODBC Driver};Database=C:\\ProgramData\\Quillon\\quillon.db;"
            "Timeout=2000");
  EXPECT_EQ(SqliteConnectionString("a;b.db", "SQLite3", &why), "");
  EXPECT_NE(why.find("';'"), std::string::npos) << why;
}

TEST(ServiceDirectoryTest, TheImagePathNamesTheDirectoryQuotedOrNot) {
  EXPECT_EQ(ImagePathDirectory("\"C:\\Program Files\\Quillon\\quillon.exe\""),
            "C:\\Program Files\\Quillon");
  EXPECT_EQ(ImagePathDirectory("\"C:\\Q\\quillon.exe\" -x"), "C:\\Q");
  EXPECT_EQ(ImagePathDirectory("C:\\Program Files\\Quillon\\quillon.exe -x"),
            "C:\\Program Files\\Quillon");
  EXPECT_EQ(ImagePathDirectory("quillon.exe"), "");
  EXPECT_EQ(ImagePathDirectory(""), "");
}

TEST(JournalCountTest, TheJournalIsCountedWithoutCuttingItsDamagedTail) {
  CTempDirectory dir;
  const std::string path = dir.File("quillon.jnl");
  size_t nJobs = 99;
  EXPECT_TRUE(CountJournalRecords(path, &nJobs));
  EXPECT_EQ(nJobs, 0u) << "no journal: no jobs";
  {
    CJobJournal journal(path, 1 << 20);
    JOURNALED_JOB job;
    job.printer = "P";
    job.user = "U";
    ASSERT_EQ(journal.Keep(job), CJobJournal::Append::Written);
    job.key.clear();   // a second job
    ASSERT_EQ(journal.Keep(job), CJobJournal::Append::Written);
  }
  std::string bytes = dir.Read("quillon.jnl") + "QJR1torn";
  dir.Write("quillon.jnl", bytes);
  // Held open as the service holds it while appending.
  HANDLE hService = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(hService, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CountJournalRecords(path, &nJobs));
  CloseHandle(hService);
  EXPECT_EQ(nJobs, 2u);
  EXPECT_EQ(dir.Read("quillon.jnl"), bytes) << "a look changes nothing";
}

}  // namespace
