// The PJL around print data, read as tolerantly as printers read it, and
// the jobs of a file each counted.
#include "page_counter_fixture.h"

namespace {

class PjlTest : public PageCounterTest {};

const std::string kUel = "\x1b%-12345X";

// A job of `pages` pages that names no paper and asks for no copies.
std::string PostScript(int pages) {
  std::string job = "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(pages) + "\n%%EndComments\n";
  for (int i = 1; i <= pages; ++i) {
    job += "%%Page: " + std::to_string(i) + " " + std::to_string(i) + "\n(x) show showpage\n";
  }
  // Lines enough that the job read as text would be many pages.
  for (int i = 0; i < 700; ++i) job += "% line " + std::to_string(i) + "\n";
  return job + "%%EOF\n";
}

TEST_F(PjlTest, EnterLanguageIsReadAsPrintersReadIt) {
  const std::string lines[] = {
      "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n",
      "@pjl enter language = postscript\n",
      "%%@PJL ENTER LANGUAGE = PostScript\n",  // as a widespread filter writes it
      "@PJL ENTER LANGUAGE =POSTSCRIPT \r\n",
  };
  for (const std::string& line : lines) {
    const std::string file = kUel + "@PJL JOB NAME = \"x\"\n" + line + PostScript(10) + kUel +
                             "@PJL EOJ\n" + kUel;
    CountOutcome outcome = Count(file);
    EXPECT_EQ(outcome.pages, 10u) << line;
    EXPECT_EQ(ExamineBytes(file).format, pagecnt::Format::kPostScript) << line;
  }
}

TEST_F(PjlTest, PaperAndCopiesComeFromPjlWhereTheDataStatesNone) {
  struct Case {
    std::string settings;
    uint16_t paper;
    uint32_t copies;
  };
  const Case cases[] = {
      {"@PJL SET PAPER = A4\n@PJL SET COPIES = 3\n", DMPAPER_A4, 3},
      {"@pjl set paper=legal\r\n@PJL SET QTY=2\r\n", DMPAPER_LEGAL, 2},
      // Decipoints: A5 is 148 x 210 mm.
      {"@PJL SET PAPERLENGTH = 5953\n@PJL SET PAPERWIDTH = 4195\n", DMPAPER_A5, 0},
      {"@PJL SET PAPER = CUSTOM\n", 0, 0},
  };
  for (const Case& c : cases) {
    const std::string file =
        kUel + c.settings + "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + PostScript(2) + kUel;
    CountOutcome outcome = Count(file);
    EXPECT_EQ(outcome.pages, 2u) << c.settings;
    EXPECT_EQ(outcome.paper, c.paper) << c.settings;
    EXPECT_EQ(ExamineBytes(file).copies, c.copies) << c.settings;
  }
  // What the data states comes first.
  const std::string letter = kUel + "@PJL SET PAPER = A4\n@PJL ENTER LANGUAGE = POSTSCRIPT\n" +
                             "%!PS\n<< /PageSize [612 792] >> setpagedevice showpage\n" + kUel;
  EXPECT_EQ(Count(letter).paper, DMPAPER_LETTER);
}

TEST_F(PjlTest, EveryJobOfAFileIsCountedAndReported) {
  // A bare document first, then PJL jobs: the document ends at the first
  // Universal Exit.
  const std::string pdf =
      "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
      "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
      "3 0 obj << /Type /Page /Parent 2 0 R >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
  const std::string pcl = "\x1b" "E" "page one\f" "page two\f" "\x1b" "E";
  const std::string file = pdf + kUel + "@PJL ENTER LANGUAGE = POSTSCRIPT\n" + PostScript(3) +
                           kUel + "@PJL ENTER LANGUAGE = PCL\n" + pcl + kUel + "@PJL EOJ\n" +
                           kUel;
  EXPECT_EQ(Count(file).pages, 6u);
  FileDetails details = ExamineBytes(file);
  EXPECT_EQ(details.jobs, 3u);
  EXPECT_EQ(details.format, pagecnt::Format::kPdf);
}

}  // namespace
