// Files rendered by Ghostscript from programs of known page count and paper
// size, and print files made from them as spoolers and drivers combine
// jobs: with PJL, several in one file, with copies, cut short.
#include <cstdio>
#include <map>
#include <random>

#include "page_counter_fixture.h"

namespace {

class CorpusTest : public PageCounterTest {
 protected:
  void SetUp() override {
    PageCounterTest::SetUp();
    corpus_ = Corpus();
    ASSERT_GE(corpus_.size(), 60u) << "no corpus in " << CorpusDirectory();
  }

  // The bytes of a rendered file.
  std::string Rendered(const std::string& name) {
    std::string bytes = ReadCorpusFile(name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
  }

  std::vector<CorpusFile> corpus_;
};

// The name the counters give the language of a manifest line.
std::string FormatOf(const std::string& language) {
  if (language == "PCL5") return "PCL 5";
  if (language == "PCLXL") return "PCL XL";
  return language;
}

std::string Pjl(const std::string& language, const std::string& data,
                const std::string& settings = "") {
  const std::string uel = "\x1b%-12345X";
  return uel + "@PJL JOB NAME=\"corpus\"\r\n" + settings + "@PJL ENTER LANGUAGE=" + language +
         "\r\n" + data + uel + "@PJL EOJ\r\n" + uel;
}

TEST_F(CorpusTest, EveryRenderedFileCountsItsPagesAndPaper) {
  struct Tally {
    int files = 0;
    int pages_right = 0;
    int paper_right = 0;
    int format_right = 0;
  };
  std::map<std::string, Tally> tallies;
  for (const CorpusFile& file : corpus_) {
    std::string path = CorpusDirectory() + "\\" + file.name;
    CountOutcome outcome = CountFile(path);
    FileDetails details = Examine(path);
    Tally& tally = tallies[file.language];
    ++tally.files;
    tally.pages_right += outcome.pages == file.pages;
    tally.paper_right += outcome.paper == file.paper;  // every rendered file names its paper
    std::string expected_format = FormatOf(file.language);
    tally.format_right += expected_format == pagecnt::FormatName(details.format);
    EXPECT_EQ(outcome.pages, file.pages) << file.name;
    EXPECT_EQ(outcome.paper, file.paper) << file.name;
    EXPECT_EQ(pagecnt::FormatName(details.format), expected_format) << file.name;
    if (file.copies >= 0) {
      EXPECT_EQ(details.copies, static_cast<uint32_t>(file.copies)) << file.name;
    }
  }
  std::printf("%-11s %6s %14s %14s %14s\n", "language", "files", "pages right",
              "paper right", "format right");
  for (const auto& [language, tally] : tallies) {
    std::printf("%-11s %6d %8d (%3d%%) %8d (%3d%%) %8d (%3d%%)\n", language.c_str(),
                tally.files, tally.pages_right, 100 * tally.pages_right / tally.files,
                tally.paper_right, 100 * tally.paper_right / tally.files,
                tally.format_right, 100 * tally.format_right / tally.files);
  }
}

TEST_F(CorpusTest, JobsOfSeveralLanguagesInOneFileAddUp) {
  // PCL 5 wrapped here, PCL XL with the driver's own PJL, PostScript and
  // PDF wrapped, and PCL 5 with its driver's PJL: 5 + 3 + 2 + 4 + 1 pages.
  std::string file = Pjl("PCL", Rendered("a4-5.ljet4")) + Rendered("letter3.pxlmono") +
                     Pjl("POSTSCRIPT", Rendered("a3-2.ps2write")) +
                     Pjl("PDF", Rendered("a5-4.pdfwrite")) + Rendered("legal1.ljet4pjl");
  CountOutcome outcome = Count(file);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 15u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4) << "the first job's paper";
  FileDetails details = ExamineBytes(file);
  EXPECT_EQ(details.jobs, 5u);
  EXPECT_EQ(details.format, pagecnt::Format::kPcl5);

  // The same language twice: each job counts, not just the first.
  EXPECT_EQ(Count(Pjl("POSTSCRIPT", Rendered("a4-5.ps2write")) +
                  Pjl("POSTSCRIPT", Rendered("a3-2.ps2write")))
                .pages,
            7u);
}

TEST_F(CorpusTest, CopiesTheFileAsksForAreReadAndNotMultiplied) {
  std::string postscript = Rendered("a4-5.ps2write");
  size_t first_line = postscript.find('\n') + 1;
  struct Case {
    std::string file;
    uint32_t copies;
  };
  const Case cases[] = {
      {std::string(postscript).insert(first_line, "/#copies 3 def\n"), 3},
      {std::string(postscript).insert(first_line, "<< /NumCopies 2 >> setpagedevice\n"), 2},
      {Pjl("POSTSCRIPT", postscript, "@PJL SET COPIES=4\r\n"), 4},
      {Pjl("POSTSCRIPT", postscript, "@PJL SET QTY = 6\r\n"), 6},
      {postscript, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Count(c.file).pages, 5u) << "asked for " << c.copies;
    EXPECT_EQ(ExamineBytes(c.file).copies, c.copies);
  }
}

TEST_F(CorpusTest, TruncatedFilesCountNoMoreThanTheWhole) {
  for (const char* name : {"a4-5.ljet4", "a4-5.cljet5", "a4-5.pxlmono", "a4-5.pxlcolor",
                           "a4-5.ps2write", "a4-5.pdfwrite", "a4-5.xpswrite"}) {
    std::string whole = Rendered(name);
    for (size_t eighths = 1; eighths < 8; ++eighths) {
      CountOutcome outcome = Count(whole.substr(0, whole.size() * eighths / 8));
      EXPECT_LE(outcome.pages, 5u) << name << " cut at " << eighths << "/8";
      EXPECT_EQ(outcome.returned != 0, outcome.pages != 0) << name;
    }
  }
  // A PCL XL job cut inside its third page: two whole pages.
  std::string pxl = Rendered("a4-5.pxlmono");
  size_t third = 0;
  for (int i = 0; i < 3; ++i) third = pxl.find("\xf8\x31\x44", third + 1);
  ASSERT_NE(third, std::string::npos);
  EXPECT_EQ(Count(pxl.substr(0, third)).pages, 2u);
}

TEST_F(CorpusTest, EmptyAndRandomFilesGiveZero) {
  EXPECT_EQ(Count("").returned, 0);
  std::mt19937 random(7);
  for (int i = 0; i < 5; ++i) {
    std::string bytes(65536, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    CountOutcome outcome = Count(bytes);
    EXPECT_EQ(outcome.returned, 0) << "random file " << i << ": " << outcome.pages;
  }
}

}  // namespace
