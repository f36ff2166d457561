// Counting plain text: by form feeds, or by lines when there are none.
#include "page_counter_fixture.h"

namespace {

class TextCountTest : public PageCounterTest {};

std::string Lines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "Line " + std::to_string(i) + "\r\n";
  return text;
}

TEST_F(TextCountTest, FormFeedsSeparatePagesAndBlankPagesDoNotCount) {
  std::string text = "first page\f" + Lines(80) + "\f\f \r\n\t\f" + "last page\f";
  CountOutcome outcome = Count(text);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 3u) << "80 lines between form feeds are one page";
  EXPECT_EQ(outcome.paper, 0);
  EXPECT_EQ(ExamineBytes(text).format, pagecnt::Format::kText);
}

TEST_F(TextCountTest, WithoutFormFeedsEverySixtyLinesArePage) {
  EXPECT_EQ(Count("Plain text without a page break.\n").pages, 1u);
  EXPECT_EQ(Count(Lines(60)).pages, 1u);
  EXPECT_EQ(Count(Lines(61)).pages, 2u);
  EXPECT_EQ(Count(Lines(120) + std::string(50, '\n')).pages, 2u)
      << "blank lines at the end print nothing";
  // ANSI and UTF-8 characters are text too.
  EXPECT_EQ(Count("Gr\xfc\xdf" "e, \xc3\xa9t\xc3\xa9\r\n").pages, 1u);
}

TEST_F(TextCountTest, BinaryDataIsNotText) {
  EXPECT_EQ(Count("looks like text\x01\x02 but is not").returned, 0);
  EXPECT_EQ(Count(" \r\n\t\f\r\n").returned, 0) << "nothing printable";
  // Past the first kilobytes too: no count rather than a guess.
  EXPECT_EQ(Count(Lines(2000) + "\x1b*b10W0123456789" + Lines(10)).returned, 0);
  EXPECT_EQ(Count(Lines(2000) + std::string("\0\0\x01", 3)).returned, 0);
}

TEST_F(TextCountTest, ALanguageOrPjlIsNeverCountedAsText) {
  // PostScript behind lines of text or a PJL line that is not read as a
  // header; PDF; PJL written into the data: each would be hundreds of
  // "pages" of text, and is none.
  const std::string postscript = "%!PS-Adobe-3.0\n" + Lines(700) + "showpage\n";
  for (const std::string& file :
       {"% a comment line\n" + postscript, "%%@pjl comment = x\n" + Lines(700),
        "@PJL\n" + Lines(700), "title\r\n%PDF-1.4\n" + Lines(700),
        Lines(700) + "\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X"}) {
    CountOutcome outcome = Count(file);
    EXPECT_EQ(outcome.returned, 0) << file.substr(0, 20) << ": " << outcome.pages;
  }
}

}  // namespace
