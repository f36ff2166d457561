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

// A file of a corpus: rendered by Ghostscript from a program of known pages
// and paper (tests/pagecnt/corpus/make_corpus.sh), or written by a real
// producer (make_real_corpus.sh); both run by ctest before the test.
struct CorpusFile {
  std::string name;
  std::string language;  // PDF, PostScript, PCL5, PCLXL, XPS, HPGL2, text; none
  uint32_t pages = 0;
  int paper = -1;   // DMPAPER code; -1: not checked
  int copies = -1;  // -1: not checked
  std::string producer;  // real producers only
  std::string truth;     // how the pages were checked
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

  // A corpus directory as a Windows path, and its manifest; empty when the
  // variable (PAGECNT_CORPUS: Ghostscript's, PAGECNT_REAL_CORPUS: real
  // producers') is not set.
  static std::string CorpusDirectory(const char* variable = "PAGECNT_CORPUS");
  static std::vector<CorpusFile> Corpus(const char* variable = "PAGECNT_CORPUS");
  static std::string ReadCorpusFile(const std::string& name,
                                    const char* variable = "PAGECNT_CORPUS");

  static PFN_GET_PAGE_COUNT get_page_count_;

 private:
  static HMODULE module_;
  std::string directory_;
};
