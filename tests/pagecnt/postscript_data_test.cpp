// Counting PostScript jobs whose program reads ASCII85 data from its own
// file, as image data is mostly sent.
#include <string>

#include "byte_source.h"
#include "page_counter_fixture.h"

namespace {

class PostScriptDataTest : public PageCounterTest {};

// Lines of ASCII85 digits, none of them a delimiter, so that whatever a
// test adds to the data is all there is of them.
std::string Digits(int lines) {
  const std::string quiet =
      "!\"#$&'*+,-.0123456789:;=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ\\^_`abcdefghijklmnopqrstu";
  std::string text;
  unsigned state = 12345;
  for (int line = 0; line < lines; ++line) {
    for (int i = 0; i < 75; ++i) {
      state = state * 1103515245u + 12345u;
      text += quiet[(state >> 16) % quiet.size()];
    }
    text += '\n';
  }
  return text;
}

// Data that, read as program text, opens a string that never closes.
const std::string kOpensString = Digits(3) + "GhP((q7" + Digits(1) + Digits(3);

// The three ways a program has of reading ASCII85 data from its file.
struct Idiom {
  const char* name;
  std::string before;  // up to the data
  std::string after;   // from the end marker on
};

const Idiom kIdioms[] = {
    {"filter",
     "8 8 8 [1 0 0 1 0 0] currentfile /ASCII85Decode filter /LZWDecode filter\nimage\n",
     "~>\n"},
    {"inline image", "BI\n/CS/G\n/W 8\n/H 8\n/BPC 8\n/F[/A85\n/LZW]\nID\n", "~>\nEI Q\n"},
    {"stream", "5 0 obj\n<</Length 900/Filter[/ASCII85Decode/LZWDecode]>>stream\n",
     "~>\nendstream\nendobj\n"},
};

TEST_F(PostScriptDataTest, AStringOpenedInDataHidesNoPageAfterIt) {
  for (const Idiom& idiom : kIdioms) {
    CountOutcome outcome = Count("%!PS\n" + idiom.before + kOpensString + idiom.after +
                                 "showpage\nshowpage\n");
    EXPECT_EQ(outcome.returned, 1) << idiom.name;
    EXPECT_EQ(outcome.pages, 2u) << idiom.name;
  }
}

TEST_F(PostScriptDataTest, SettingsSpelledInDataAreNotTheJobs) {
  // Digits that spell a page size and a copy count, one per line.
  std::string data = Digits(2) + "/PageSize[842\n1191]\n/NumCopies\n3\n" + Digits(2);
  for (const Idiom& idiom : kIdioms) {
    std::string job = "%!PS\n" + idiom.before + data + idiom.after +
                      "<< /PageSize [595 842] >> setpagedevice\nshowpage\n";
    EXPECT_EQ(Count(job).paper, DMPAPER_A4) << idiom.name;
    EXPECT_EQ(ExamineBytes(job).copies, 0u) << idiom.name;
  }
}

TEST_F(PostScriptDataTest, CommentLinesDoNotEndTheData) {
  // A line of data may begin with '%', or with "%%" and not be a comment
  // that ends the data; what follows is still data.
  std::string data = Digits(2) + "%AB12\n%%XY34\n" + kOpensString;
  CountOutcome outcome =
      Count("%!PS\n" + kIdioms[0].before + data + kIdioms[0].after + "showpage\n");
  EXPECT_EQ(outcome.pages, 1u);
}

TEST_F(PostScriptDataTest, DataWithoutItsEndMarkerLosesNoPage) {
  // The program goes on after data that has no end marker, on a line of
  // its own or on the line the data ends in.
  const char* const endings[] = {"showpage\nshowpage\n", "AB12 showpage\nshowpage\n",
                                 "\x04\nshowpage\nshowpage\n"};
  for (const Idiom& idiom : kIdioms) {
    for (const char* ending : endings) {
      CountOutcome outcome = Count("%!PS\n" + idiom.before + kOpensString + ending);
      EXPECT_EQ(outcome.pages, 2u) << idiom.name << " then " << ending;
    }
  }
}

TEST_F(PostScriptDataTest, APageCommentEndsDataWithoutEndMarker) {
  // A page size set over two lines of digits, after data that runs on.
  std::string job = "%!PS-Adobe-3.0\n%%Page: 1 1\n" + kIdioms[0].before + Digits(3) +
                    "%%Page: 2 2\n<</PageSize[595\n842]>>setpagedevice\nshowpage\n";
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.pages, 2u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4);
}

TEST_F(PostScriptDataTest, JobEndsInDataAndAfterIt) {
  const std::string next_job =
      "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!PS\nshowpage\nshowpage\n";
  struct Case {
    const char* name;
    std::string data_end;  // how the data of the first job (1 page) ends
    std::string next;      // what follows
  };
  const Case cases[] = {
      {"exit in the data", Digits(1) + "AB12", next_job},
      {"exit at a line start in the data", "", next_job},
      {"exit after the end marker", "~>", next_job},
      {"^D and a new job in the data", "AB12", "\x04%!PS\nshowpage\nshowpage\n"},
  };
  for (const Case& c : cases) {
    std::string file = "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!PS\nshowpage\n" +
                       kIdioms[1].before + kOpensString + c.data_end + c.next;
    EXPECT_EQ(Count(file).pages, 3u) << c.name;
    EXPECT_EQ(ExamineBytes(file).jobs, 2u) << c.name;
  }
}

TEST_F(PostScriptDataTest, WordsThatOnlyLookLikeADataStart) {
  const char* const programs[] = {
      // Defined, not run: the data comes with each use.
      "/img { currentfile /ASCII85Decode filter image } def\nshowpage\n",
      // Lines that are all digits after a misread start, then a page.
      "currentfile /ASCII85Decode filter pop\n2\npop\nshowpage\n",
      // Not from the file.
      "(87cURD]i,\"Ebo80~>) /ASCII85Decode filter pop\n(\nshowpage)\n pop showpage\n",
      "BI /W 8 /H 8 ID\n(\nshowpage)\n pop showpage\n",
  };
  for (const char* program : programs) {
    EXPECT_EQ(Count(std::string("%!PS\n") + program).pages, 1u) << program;
  }
}

TEST_F(PostScriptDataTest, DataAcrossTheEndOfABlock) {
  constexpr size_t kBlock = pagecnt::ByteSource::kStreamingBlock;
  std::string head = "%!PS\n" + kIdioms[0].before;
  // Enough digits to reach near the end of the first block.
  std::string data;
  while (head.size() + data.size() + 76 < kBlock - 100) data += Digits(1);
  data += "GhP((q7\n";
  data.resize(kBlock - head.size() - 20, 'A');
  data += '\n';

  // The end marker split between the blocks, on a line that opens a string
  // if it is read as program text.
  std::string split_marker = head + data + "(";
  split_marker.resize(kBlock - 1, 'B');
  split_marker += "~>\nshowpage\nshowpage\n";
  EXPECT_EQ(Count(split_marker).pages, 2u) << "end marker across the blocks";

  // A line of program text that begins in the first block: read again
  // from its start, in the block before.
  std::string split_line = head + data;
  split_line.resize(kBlock - 3, 'C');
  split_line += "\nshowpage\nshowpage\n";
  EXPECT_EQ(Count(split_line).pages, 2u) << "program line across the blocks";
}

}  // namespace

// Image data read with readhexstring, and rows of numbers, are whole lines
// of hexadecimal digits and blanks; the scan passes them at once, but not
// where a page size or a copy count waits for its numbers.
class PostScriptHexLinesTest : public PageCounterTest {};

std::string HexLines(int lines) {
  std::string text;
  unsigned state = 777;
  for (int line = 0; line < lines; ++line) {
    for (int i = 0; i < 80; ++i) {
      state = state * 1103515245u + 12345u;
      text += "0123456789abcdefABCDEF"[(state >> 16) % 22];
    }
    text += line % 3 ? "\n" : "\r\n";
  }
  return text;
}

TEST_F(PostScriptHexLinesTest, PagesAfterHexImageDataAreCounted) {
  const std::string page =
      "8 8 8 [8 0 0 -8 0 8] {currentfile picstr readhexstring pop} image\n" + HexLines(40) +
      "grestore showpage\n";
  CountOutcome outcome = Count("%!PS\n/picstr 8 string def\n" + page + page + page);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 3u);
}

TEST_F(PostScriptHexLinesTest, NumbersOnTheLineAfterPageSizeOrCopiesAreStillRead) {
  const std::string job =
      "%!PS\n<< /PageSize [\n842 1191\n] >> setpagedevice\n/#copies\n3\ndef\n" + HexLines(2) +
      "showpage\n";
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.pages, 1u);
  EXPECT_EQ(outcome.paper, DMPAPER_A3) << "the size on its own line was passed over";
  EXPECT_EQ(ExamineBytes(job).copies, 3u) << "the copy count on its own line was passed over";
}

TEST_F(PostScriptHexLinesTest, AUniversalExitRightAfterHexLinesEndsTheJob) {
  const std::string job = "%!PS\n" + HexLines(5) + "showpage\n" + HexLines(5) +
                          "\x1b%-12345X@PJL EOJ\r\n" + "%!PS\nshowpage\nshowpage\n";
  FileDetails details = ExamineBytes(job);
  EXPECT_EQ(details.jobs, 2u);
  EXPECT_EQ(Count(job).pages, 3u);
}
