// Counting PostScript jobs, with and without structuring comments.
#include "page_counter_fixture.h"

namespace {

class PostScriptCountTest : public PageCounterTest {};

const char kProlog[] = "/bd { bind def } bind def\n/F { findfont } bd\n";

std::string Pages(int count, bool with_page_comments) {
  std::string body;
  for (int i = 1; i <= count; ++i) {
    if (with_page_comments) {
      body += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n";
    }
    body += "gsave 72 72 moveto (Page) show grestore showpage\n";
  }
  return body;
}

TEST_F(PostScriptCountTest, PagesCommentInTheHeader) {
  CountOutcome outcome = Count("%!PS-Adobe-3.0\n%%Pages: 3\n%%EndComments\n" +
                               std::string(kProlog) + Pages(3, true) + "%%EOF\n");
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 3u);
}

TEST_F(PostScriptCountTest, PagesAtEndResolvedFromTheTrailer) {
  CountOutcome outcome =
      Count("%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\n" + Pages(5, true) +
            "%%Trailer\n%%Pages: 5\n%%EOF\n");
  EXPECT_EQ(outcome.pages, 5u);
}

TEST_F(PostScriptCountTest, PageCommentsWithoutPagesComment) {
  EXPECT_EQ(Count("%!PS-Adobe-3.0\n%%EndComments\n" + Pages(4, true)).pages, 4u);
}

TEST_F(PostScriptCountTest, EmbeddedDocumentCommentsAreNotTheJobs) {
  std::string embedded =
      "%%BeginDocument: logo.eps\n%!PS-Adobe-3.0 EPSF-3.0\n%%Pages: 9\n"
      "%%Page: 1 1\n%%BoundingBox: 0 0 100 100\n%%EndDocument\n";
  CountOutcome outcome =
      Count("%!PS-Adobe-3.0\n%%EndComments\n%%Page: 1 1\n" + embedded +
            "showpage\n%%Page: 2 2\nshowpage\n");
  EXPECT_EQ(outcome.pages, 2u);
  EXPECT_EQ(outcome.paper, 0);
}

TEST_F(PostScriptCountTest, ShowpageOperatorsWithoutComments) {
  // Neither in comments nor strings nor as a literal name does it print.
  std::string program =
      "%!\n/showpage-like { } def % showpage\n"
      "(a string with showpage \\) and (nested) showpage) pop\n"
      "<73686f7770616765> pop /showpage load pop\n" + Pages(2, false) +
      "{ 1 0 0 setrgbcolor } exec showpage\n";
  CountOutcome outcome = Count(program);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 3u);
}

TEST_F(PostScriptCountTest, ProceduresThatEndAPageCountWhereTheTopLevelUsesThem) {
  // As groff (EP), enscript (S) and others end their pages, without page
  // comments; a procedure that calls one of those, and one taken by load.
  const std::string prolog =
      "%!PS-Adobe-3.0\n/BP{/level0 save def}bind def\n/EP{\nlevel0 restore\nshowpage\n}def\n"
      "/S {\tgsave\n  showpage\n  grestore\n} bind def\n"
      "/LastPage { (end) show EP } def\n/done /showpage load def\n"
      "/NotAPage { (showpage) show /showpage pop } def\n";
  std::string program = prolog;
  for (int i = 0; i < 4; ++i) program += "BP (text) show 0 Cg EP\n";
  for (int i = 0; i < 3; ++i) program += "(more) show S\n";
  program += "NotAPage BP LastPage\ndone\n";
  EXPECT_EQ(Count(program).pages, 9u);

  // A use inside braces is no top-level use: a loop's body runs as often
  // as the loop says, which the scan does not follow.
  EXPECT_EQ(Count(prolog + "1 1 5 { BP EP } for\n S S\n").pages, 2u);
  // Procedures of an embedded document are its own.
  EXPECT_EQ(Count(prolog + "%%BeginDocument: x.eps\nEP EP\n%%EndDocument\nEP\n").pages, 1u);
}

TEST_F(PostScriptCountTest, PageSectionsThatArePresentComeBeforePagesComment) {
  // A document whose header kept "%%Pages: 1" over ten page sections, and
  // one cut short after two of its five.
  EXPECT_EQ(Count("%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n" + Pages(10, true)).pages, 10u);
  EXPECT_EQ(Count("%!PS-Adobe-3.0\n%%Pages: 5\n%%EndComments\n" + Pages(2, true)).pages, 2u);
}

TEST_F(PostScriptCountTest, AfterThePageCommentsPageSizeCopiesAndTheJobsEndStillCount) {
  // Past the first %%Page: the program text is passed, not read word by
  // word; a page size and a copy count on a page are still taken, their
  // numbers on lines of their own, and a Universal Exit still ends the job.
  const std::string job =
      "%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\n%%Page: 1 1\n"
      "/F0 10/Times-Roman SF (a /PageSize [1 1] in a string) show\n"
      "<< /PageSize [\n595 842\n] /NumCopies\n3 >> setpagedevice\n(x) show showpage\n"
      "%%Page: 2 2\nshowpage showpage\n%%Trailer\n%%Pages: 2\n\x1b%-12345X%%Page: 3 3\n";
  const CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.pages, 2u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4);
  EXPECT_EQ(ExamineBytes(job).copies, 3u);
}

TEST_F(PostScriptCountTest, PjlWrappedJobWithControlD) {
  std::string job =
      "\x1b%-12345X@PJL JOB NAME=\"memo\"\r\n@PJL SET COPIES=1\r\n"
      "@pjl enter language = postscript\r\n\x04%!PS-Adobe-3.0\n"
      "%%Pages: 2\n%%EndComments\n" + Pages(2, true) + "%%EOF\n\x04"
      "\x1b%-12345X@PJL EOJ\r\n"
      // Whatever follows the end of the PostScript data is not counted.
      "%%Page: 3 3\nshowpage\n";
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 2u);

  EXPECT_EQ(Count("\x04%!PS\n" + Pages(3, false) + "\x04").pages, 3u);
}

TEST_F(PostScriptCountTest, AnnouncedDataIsPassedOverByItsCount) {
  // Binary data with bytes of a Universal Exit, a comment line and
  // showpage, which are data and not program.
  std::string data = "\x1b%-12345X\n%%Page: 9 9\nshowpage\n(";
  std::string job = "%!PS-Adobe-3.0\n%%EndComments\n%%Page: 1 1\n"
                    "%%BeginBinary: " + std::to_string(data.size()) + "\r\n" + data +
                    "\n%%EndBinary\nshowpage\n%%Page: 2 2\n"
                    "%%BeginData: 2 Hex Lines\n%%Page: 8 8\n(\n%%EndData\nshowpage\n";
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.pages, 2u);
  // Unannounced, the same bytes end the job at the Universal Exit.
  EXPECT_EQ(Count("%!PS-Adobe-3.0\n%%Page: 1 1\n" + data + "\n%%Page: 2 2\n").pages, 1u);
}

TEST_F(PostScriptCountTest, PaperSizeWhenTheJobStatesIt) {
  struct Case {
    std::string header;
    std::string setup;
    uint16_t paper;
  };
  const Case cases[] = {
      {"%%DocumentMedia: A4 595 842 80 white ()\n", "", DMPAPER_A4},
      {"%%DocumentMedia: (US Letter) 612 792 75 () ()\n", "", DMPAPER_LETTER},
      {"", "<< /PageSize [842 595] >> setpagedevice\n", DMPAPER_A4},
      {"", "<</PageSize[612 1008]/ImagingBBox null>>setpagedevice\n", DMPAPER_LEGAL},
      {"%%BoundingBox: 0 0 612 792\n", "", DMPAPER_LETTER},
      {"%%BoundingBox: (atend)\n", "", DMPAPER_A5},
      // The sheet named by the media comes before where the marks are.
      {"%%DocumentMedia: Plain 842 1191 0 () ()\n%%BoundingBox: 0 0 612 792\n",
       "", DMPAPER_A3},
      {"%%BoundingBox: 36 36 400 500\n", "", 0},
  };
  for (const Case& c : cases) {
    CountOutcome outcome =
        Count("%!PS-Adobe-3.0\n" + c.header + "%%EndComments\n" + c.setup +
              Pages(1, true) + "%%Trailer\n%%BoundingBox: 0 0 420 595\n");
    EXPECT_EQ(outcome.pages, 1u) << c.header << c.setup;
    EXPECT_EQ(outcome.paper, c.paper) << c.header << c.setup;
  }
}

}  // namespace
