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
}

}  // namespace
