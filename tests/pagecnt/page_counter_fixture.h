// A fixture that calls pagecnt.dll as the service does, on files it writes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "page_count.h"
#include "pagecnt.h"

struct CountOutcome {
  int returned = 0;
  uint32_t pages = 0;
  uint16_t paper = 0;
};

namespace pagecnt {
// Failure messages name the language.
inline void PrintTo(Format format, std::ostream* out) { *out << FormatName(format); }
}  // namespace pagecnt

// What the counters find beyond the DLL's result block: the language of
// the first job and the copies the file asks for, as pagecount.exe shows.
struct FileDetails {
  pagecnt::Format format = pagecnt::Format::kUnknown;
  uint32_t copies = 0;
  uint32_t jobs = 0;
};

// A file that Ghostscript rendered from a program of known pages and paper
// (tests/pagecnt/corpus/make_corpus.sh, run by ctest before the test).
struct CorpusFile {
  std::string name;
  std::string language;  // PDF, PostScript, PCL5, PCLXL, XPS
  uint32_t pages = 0;
  uint16_t paper = 0;
  int copies = -1;  // -1: not checked
};

class PageCounterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Writes `bytes` to a file in this test's directory; returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes);
  // Writes `bytes` to a file and counts it.
  CountOutcome Count(const std::string& bytes);
  CountOutcome CountFile(const std::string& path);
  // The counters themselves, linked into the test, on a file.
  FileDetails Examine(const std::string& path);
  FileDetails ExamineBytes(const std::string& bytes);

  // The corpus directory as a Windows path, and its manifest; empty when
  // PAGECNT_CORPUS is not set.
  static std::string CorpusDirectory();
  static std::vector<CorpusFile> Corpus();
  static std::string ReadCorpusFile(const std::string& name);

  static PFN_GET_PAGE_COUNT get_page_count_;

 private:
  static HMODULE module_;
  std::string directory_;
};
