#include "page_counter_fixture.h"

#include <fstream>
#include <sstream>

#include "file_view.h"
#include "format_dispatch.h"

HMODULE PageCounterTest::module_ = nullptr;
PFN_GET_PAGE_COUNT PageCounterTest::get_page_count_ = nullptr;

void PageCounterTest::SetUpTestSuite() {
  if (module_) return;
  module_ = LoadLibraryA("pagecnt");
  if (module_) {
    get_page_count_ = reinterpret_cast<PFN_GET_PAGE_COUNT>(
        reinterpret_cast<void*>(GetProcAddress(module_, "GetPageCount")));
  }
}

void PageCounterTest::SetUp() {
  ASSERT_NE(module_, nullptr) << "pagecnt.dll not found beside the test";
  ASSERT_NE(get_page_count_, nullptr) << "GetPageCount not exported";
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
  const ::testing::TestInfo* test =
      ::testing::UnitTest::GetInstance()->current_test_info();
  directory_ = std::string(temp) + "pagecnt-" +
               std::to_string(GetCurrentProcessId()) + "-" + test->name();
  for (char& c : directory_) {
    if (c == '/') c = '_';
  }
  CreateDirectoryA(directory_.c_str(), nullptr);
}

void PageCounterTest::TearDown() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory_ + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA((directory_ + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(directory_.c_str());
}

std::string PageCounterTest::WriteFile(const std::string& name,
                                       const std::string& bytes) {
  std::string path = directory_ + "\\" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

CountOutcome PageCounterTest::Count(const std::string& bytes) {
  return CountFile(WriteFile("job.spl", bytes));
}

CountOutcome PageCounterTest::CountFile(const std::string& path) {
  PAGE_COUNT_RESULT result = {};
  CountOutcome outcome;
  outcome.returned = get_page_count_(path.c_str(), "Test Printer", &result);
  outcome.pages = result.dwPages;
  outcome.paper = result.wPaperSize;
  return outcome;
}

FileDetails PageCounterTest::Examine(const std::string& path) {
  FileDetails details;
  pagecnt::FileView file;
  if (!file.Open(path.c_str())) return details;
  pagecnt::PageCount count;
  pagecnt::CountPrintFile(file, count);
  details.format = count.format;
  details.copies = count.copies;
  details.jobs = count.jobs;
  return details;
}

FileDetails PageCounterTest::ExamineBytes(const std::string& bytes) {
  return Examine(WriteFile("examined.spl", bytes));
}

std::string PageCounterTest::CorpusDirectory(const char* variable) {
  char value[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA(variable, value, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  // A Linux path, which Wine shows on drive Z:.
  std::string path = std::string("Z:") + value;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::vector<CorpusFile> PageCounterTest::Corpus(const char* variable) {
  std::vector<CorpusFile> files;
  std::ifstream manifest(CorpusDirectory(variable) + "\\manifest.txt");
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    CorpusFile file;
    std::string paper;
    std::string copies;
    if (!(fields >> file.name >> file.language >> file.pages >> paper >> copies)) continue;
    fields >> file.producer >> file.truth;
    file.paper = paper == "-" ? -1 : std::stoi(paper);
    file.copies = copies == "-" ? -1 : std::stoi(copies);
    files.push_back(file);
  }
  return files;
}

std::string PageCounterTest::ReadCorpusFile(const std::string& name, const char* variable) {
  std::ifstream in(CorpusDirectory(variable) + "\\" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}
