// The printer list files, on real files in a temporary directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printer_monitor/ini_file.h"
#include "service_core/exc.h"
#include "temp_directory.h"

namespace {

const std::string kHeaderLine = std::string(kListHeader) + "\r\n";

std::vector<std::string> Entries(CIniFile& list) {
  std::vector<std::string> entries;
  char szEntry[kListLineBuffer];
  while (list.GetNextLine(szEntry, sizeof(szEntry))) entries.push_back(szEntry);
  return entries;
}

class IniFileTest : public ::testing::Test {
 protected:
  CTempDirectory dir;
};

TEST_F(IniFileTest, MissingFileIsCreatedWithItsHeaderOnly) {
  CIniFile list("printers.lst", "a+");
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_TRUE(Entries(list).empty());
  EXPECT_EQ(dir.Read("printers.lst"), kHeaderLine);
}

TEST_F(IniFileTest, EveryLineButACommentIsAnEntryWithEitherLineEnd) {
  for (const std::string eol : {"\n", "\r\n"}) {
    SCOPED_TRACE(eol == "\n" ? "LF" : "CR LF");
    const std::string content = "//comment" + eol + " //not a comment" + eol + eol +
                                "  padded  " + eol + "//" + eol + "last without end";
    dir.Write("printers.lst", content);
    CIniFile list("printers.lst", "a+");
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(Entries(list), (std::vector<std::string>{" //not a comment", "", "  padded  ",
                                                       "last without end"}));
    // A file without the header is read as it is and left unchanged.
    EXPECT_EQ(dir.Read("printers.lst"), content);
  }
}

TEST_F(IniFileTest, LongLineIsReadAsPiecesOf259Characters) {
  const std::string line = std::string(259, 'a') + std::string(41, 'b');
  dir.Write("printers.lst", line + "\r\nnext\r\n");
  CIniFile list("printers.lst", "a+");
  EXPECT_EQ(Entries(list),
            (std::vector<std::string>{std::string(259, 'a'), std::string(41, 'b'), "next"}));
}

TEST_F(IniFileTest, ReadingStartsAgainAfterTheEnd) {
  dir.Write("printers.lst", "A\nB\n");
  CIniFile list("printers.lst", "a+");
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"A", "B"}));
  char szSmall[kListLineBuffer - 1];
  EXPECT_EQ(list.GetNextLine(szSmall, sizeof(szSmall)), 0);
  EXPECT_EQ(list.GetNextLine(nullptr, kListLineBuffer), 0);
}

TEST_F(IniFileTest, DeleteLineRemovesTheFirstOccurrenceOnly) {
  dir.Write("printers.lst", kHeaderLine + "A\n//A\nB\nA\nC");
  CIniFile list("printers.lst", "a+");
  EXPECT_EQ(list.DeleteLine("A"), 1);
  EXPECT_EQ(dir.Read("printers.lst"), kHeaderLine + "//A\r\nB\r\nA\r\nC");
  EXPECT_FALSE(dir.Exists(kListTempFile));
  // The object reads the rewritten list from its start.
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"B", "A", "C"}));

  EXPECT_EQ(list.DeleteLine("missing"), 0);
  EXPECT_EQ(list.DeleteLine("//A"), 0) << "a comment is no entry";
  EXPECT_EQ(list.DeleteLine("B\nC"), 0);
  EXPECT_EQ(list.DeleteLine(nullptr), 0);
  EXPECT_EQ(dir.Read("printers.lst"), kHeaderLine + "//A\r\nB\r\nA\r\nC");
}

TEST_F(IniFileTest, DeleteLineThatCannotReplaceTheListKeepsItWhole) {
  const std::string content = "A\r\nB\r\n";
  dir.Write("printers.lst", content);
  CIniFile list("printers.lst", "a+");
  // Another process holds the list open without letting it be replaced.
  HANDLE hHolder = CreateFileA(dir.File("printers.lst").c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
  ASSERT_NE(hHolder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(list.DeleteLine("A"), 0);
  CloseHandle(hHolder);
  EXPECT_EQ(dir.Read("printers.lst"), content);
  EXPECT_FALSE(dir.Exists(kListTempFile));
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"A", "B"}));
}

TEST_F(IniFileTest, AddLineAppendsAndChecksUniquenessFromThePosition) {
  dir.Write("printers.lst", "A\r\n");
  CIniFile list("printers.lst", "a+");
  EXPECT_EQ(list.AddLine("A", true), -1);
  EXPECT_EQ(list.AddLine("B", true), 1);
  // Once reading has reached the end, the search from there finds nothing.
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(list.AddLine("A", true), 1);
  EXPECT_EQ(list.AddLine("two\nlines", false), 0);
  EXPECT_EQ(dir.Read("printers.lst"), "A\r\nB\r\nA\r\n");
}

TEST_F(IniFileTest, UnopenablePathThrowsBadIniFile) {
  EXPECT_THROW(CIniFile(dir.File("no-such-dir\\printers.lst").c_str(), "a+"), BadIniFile);
  EXPECT_THROW(CIniFile(std::string(300, 'x').c_str(), "a+"), BadIniFile);
}

}  // namespace
