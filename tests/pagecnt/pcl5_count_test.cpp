// Counting PCL 5 jobs as laser printer drivers write them.
#include "page_counter_fixture.h"

namespace {

class Pcl5CountTest : public PageCounterTest {};

const std::string kReset = "\x1b" "E";
const std::string kFormFeed = "\f";

// A raster row carrying `bytes` as its data.
std::string RasterRow(const std::string& bytes) {
  return "\x1b*b" + std::to_string(bytes.size()) + "W" + bytes;
}

// Bytes that would eject or reset if they were read as commands.
const std::string kTrap = "\f\f\x1b" "E\x1b&l26A\x1b&l3X\f";

TEST_F(Pcl5CountTest, FormFeedsEjectOnlyPagesWithMarks) {
  // Two pages of text; a form feed on the empty page after each, and the
  // reset at the end, eject nothing.
  std::string job = kReset + "Page one" + kFormFeed + kFormFeed + "\r\n  \r\n" +
                    kFormFeed + "Page two" + kFormFeed + kReset;
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 2u);
  // A page left unfinished is ejected at the end of the job.
  EXPECT_EQ(Count(kReset + "one" + kFormFeed + "two").pages, 2u);
}

TEST_F(Pcl5CountTest, BinaryDataIsSkippedByItsByteCount) {
  // Raster rows (single and by plane, in a combined sequence too), a font
  // header, a character, a pattern and transparent data, each holding
  // bytes that look like form feeds and resets.
  std::string page = "\x1b*r1A" + RasterRow(kTrap) + "\x1b*b" +
                     std::to_string(kTrap.size()) + "v" +
                     std::to_string(kTrap.size()) + "W" + kTrap + kTrap +
                     "\x1b*rB";
  std::string fonts = "\x1b)s" + std::to_string(kTrap.size()) + "W" + kTrap +
                      "\x1b(s" + std::to_string(kTrap.size()) + "W" + kTrap +
                      "\x1b*c" + std::to_string(kTrap.size()) + "W" + kTrap;
  std::string transparent = "\x1b&p" + std::to_string(kTrap.size()) + "X" + kTrap;
  std::string job = kReset + fonts + page + kFormFeed + transparent + kFormFeed +
                    page + kFormFeed + kReset;
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.pages, 3u);
  EXPECT_EQ(outcome.paper, 0) << "a page size inside binary data was read";
}

TEST_F(Pcl5CountTest, PageSizeAndOrientationChangesEjectAMarkedPage) {
  // Set-up commands before the first mark eject nothing; changes after
  // marks end the page. The paper is the first page's.
  std::string job = kReset + "\x1b&l26A\x1b&l0O\x1b&l26A" + RasterRow("\xff") +
                    "\x1b&l2A" + "letter page" + "\x1b&l1O" + "landscape" +
                    "\x1b&l0H" + "after a tray eject" + kReset;
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.pages, 4u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4);

  struct Case {
    int code;
    uint16_t paper;
  };
  for (Case c : {Case{2, DMPAPER_LETTER}, Case{3, DMPAPER_LEGAL}, Case{27, DMPAPER_A3},
                 Case{25, DMPAPER_A5}, Case{1, DMPAPER_EXECUTIVE}, Case{101, 0}}) {
    EXPECT_EQ(Count(kReset + "\x1b&l" + std::to_string(c.code) + "A" + "text" + kFormFeed)
                  .paper,
              c.paper)
        << "page size code " << c.code;
  }
}

TEST_F(Pcl5CountTest, DuplexSideSelectionEjects) {
  std::string job = kReset + "\x1b&l1S" + "front" + "\x1b&a2G" + "back" + kReset;
  EXPECT_EQ(Count(job).pages, 2u);
}

TEST_F(Pcl5CountTest, CopiesAreReadAndNotMultipliedIn) {
  std::string job = kReset + "\x1b&l26a3X" + "one" + kFormFeed + "two" + kFormFeed + kReset;
  EXPECT_EQ(Count(job).pages, 2u);
  EXPECT_EQ(ExamineBytes(job).copies, 3u);
  EXPECT_EQ(ExamineBytes(job).format, pagecnt::Format::kPcl5);
  // Without the command the file asks for none; a PJL default fills in.
  EXPECT_EQ(ExamineBytes(kReset + "one" + kFormFeed).copies, 0u);
  std::string pjl = "\x1b%-12345X@PJL SET COPIES = 5\r\n@PJL ENTER LANGUAGE=PCL\r\n";
  EXPECT_EQ(ExamineBytes(pjl + kReset + "one" + kFormFeed).copies, 5u);
  EXPECT_EQ(ExamineBytes(pjl + job).copies, 3u) << "the PCL command comes first";
}

TEST_F(Pcl5CountTest, MacrosEjectWhenRunNotWhenDefined) {
  std::string define = "\x1b&f7y0X" "macro page" + kFormFeed + "\x1b&f1X";
  std::string call = "\x1b&f7y3X";
  EXPECT_EQ(Count(kReset + define + "own page" + kReset).pages, 1u);
  EXPECT_EQ(Count(kReset + define + call + call + call + kReset).pages, 3u);
  // A macro without a form feed marks the page that runs it.
  std::string logo = "\x1b&f8y0X" + RasterRow("\x0f\xf0") + "\x1b&f1X";
  EXPECT_EQ(Count(kReset + logo + kFormFeed + "\x1b&f8y2X" + kFormFeed + kReset).pages, 1u);
}

TEST_F(Pcl5CountTest, HpGl2DrawingMarksThePage) {
  std::string draw = "\x1b%0BIN;SP1;PU100,100;PD200,200,300,100;\x1b%0A";
  std::string setup_only = "\x1b%0BIN;SP1;PU100,100;PA300,300;\x1b%0A";
  std::string label = "\x1b%1BIN;LBtext with PD and \f\x03;\x1b%1A";
  EXPECT_EQ(Count(kReset + draw + kFormFeed + setup_only + kFormFeed + label +
                  kFormFeed + kReset)
                .pages,
            2u);
}

TEST_F(Pcl5CountTest, PgEndsAPageWhereAPlotterReadsIt) {
  // Three plots of vectors and raster, each ended by PG, as large-format
  // printers take them: behind PJL, bare HP-GL/2, in stand-alone plotter
  // mode. On a LaserJet PG does nothing: one page.
  const std::string raster = "\x1b%0A\x1b*r1A\x1b*b3W\xff\x01\xff\x1b*rC\x1b%0B";
  std::string plots;
  for (int i = 0; i < 3; ++i) plots += "SP1;PU0,0;PD100,100;" + raster + "PG;";
  const std::string uel = "\x1b%-12345X";
  struct Case {
    std::string file;
    uint32_t pages;
    pagecnt::Format format;
  } cases[] = {
      {uel + "@PJL ENTER LANGUAGE=HPGL2\r\n" + kReset + "\x1b%1BBP;IN;" + plots + uel, 3,
       pagecnt::Format::kHpGl2},
      {"IN;" + plots, 3, pagecnt::Format::kHpGl2},
      {"BP;IN;" + plots + "PG;", 3, pagecnt::Format::kHpGl2},
      {kReset + "\x1b%-1BIN;" + plots + kReset, 3, pagecnt::Format::kPcl5},
      {kReset + "\x1b%0BIN;" + plots + "\x1b%0A" + kReset, 1, pagecnt::Format::kPcl5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Count(c.file).pages, c.pages) << c.file.substr(0, 40);
    EXPECT_EQ(ExamineBytes(c.file).format, c.format) << c.file.substr(0, 40);
  }
}

TEST_F(Pcl5CountTest, DataRunningPastTheEndEndsTheJob) {
  // A count larger than the file: what came before still counts.
  std::string job = kReset + "page one" + kFormFeed + "\x1b*b4000000000W" + kTrap;
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 2u);
}

}  // namespace
