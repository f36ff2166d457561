// Print files from real producers (corpus/make_real_corpus.sh): drivers run
// as CUPS filters, PDF and PostScript writers, encrypted PDF, PJL jobs as
// filters write them, HP-GL/2, a file of several jobs. Each file's pages
// were checked apart from the counters; a file in a language without a
// counter must not be counted at all.
#include <cstdio>
#include <map>

#include "page_counter_fixture.h"

namespace {

constexpr char kRealCorpus[] = "PAGECNT_REAL_CORPUS";

class RealCorpusTest : public PageCounterTest {};

std::string FormatOf(const std::string& language) {
  if (language == "PCL5") return "PCL 5";
  if (language == "PCLXL") return "PCL XL";
  if (language == "HPGL2") return "HP-GL/2";
  if (language == "none") return "unknown";
  return language;
}

TEST_F(RealCorpusTest, EveryFileCountsAsItsProducerAndSecondReaderSay) {
  const std::vector<CorpusFile> corpus = Corpus(kRealCorpus);
  ASSERT_GE(corpus.size(), 30u) << "no corpus in " << CorpusDirectory(kRealCorpus);
  std::map<std::string, std::pair<int, int>> tallies;  // producer: files, right
  for (const CorpusFile& file : corpus) {
    const std::string path = CorpusDirectory(kRealCorpus) + "\\" + file.name;
    const CountOutcome outcome = CountFile(path);
    const FileDetails details = Examine(path);
    bool right = outcome.pages == file.pages && (file.pages > 0) == (outcome.returned != 0) &&
                 pagecnt::FormatName(details.format) == FormatOf(file.language);
    EXPECT_EQ(outcome.pages, file.pages) << file.name << " (" << file.producer << ")";
    EXPECT_EQ(outcome.returned != 0, file.pages > 0) << file.name;
    EXPECT_EQ(pagecnt::FormatName(details.format), FormatOf(file.language)) << file.name;
    if (file.paper >= 0) {
      EXPECT_EQ(outcome.paper, file.paper) << file.name;
      right = right && outcome.paper == file.paper;
    }
    if (file.copies >= 0) {
      EXPECT_EQ(details.copies, static_cast<uint32_t>(file.copies)) << file.name;
      right = right && details.copies == static_cast<uint32_t>(file.copies);
    }
    auto& tally = tallies[file.producer];
    ++tally.first;
    tally.second += right;
  }
  std::printf("%-28s %6s %6s\n", "producer", "files", "right");
  for (const auto& [producer, tally] : tallies) {
    std::printf("%-28s %6d %6d\n", producer.c_str(), tally.first, tally.second);
  }
}

TEST_F(RealCorpusTest, EachJobOfAJoinedFileIsReported) {
  // A PJL PostScript job, a JetReady job and a PCL 3 job, joined.
  const FileDetails details =
      Examine(CorpusDirectory(kRealCorpus) + "\\three-jobs.prn");
  EXPECT_EQ(details.jobs, 3u);
}

}  // namespace
