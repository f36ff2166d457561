// The exported entry point: arguments and files it cannot count.
#include <thread>
#include <vector>

#include "page_counter_fixture.h"
#include "pdf_writer.h"

namespace {

class EntryPointTest : public PageCounterTest {};

TEST_F(EntryPointTest, NullArgumentsGiveZero) {
  std::string path = WriteFile("job.pdf", SimplePdf(2));
  PAGE_COUNT_RESULT result = {};
  EXPECT_EQ(get_page_count_(nullptr, "Test Printer", &result), 0);
  EXPECT_EQ(get_page_count_(path.c_str(), nullptr, &result), 0);
  EXPECT_EQ(get_page_count_(path.c_str(), "Test Printer", nullptr), 0);
  EXPECT_EQ(result.dwPages, 0u);
  EXPECT_EQ(get_page_count_(path.c_str(), "Test Printer", &result), 1);
  EXPECT_EQ(result.dwPages, 2u);
}

TEST_F(EntryPointTest, FilesThatCannotBeCountedGiveZero) {
  EXPECT_EQ(CountFile(WriteFile("empty.spl", "")).returned, 0);
  std::string present = WriteFile("present.ps", "%!PS\nshowpage\n");
  EXPECT_EQ(CountFile(present).returned, 1);
  EXPECT_EQ(CountFile(present + ".missing").returned, 0);
  EXPECT_EQ(Count(std::string(4096, '\0')).returned, 0);
  // A PDF header with nothing behind it, and PostScript without a page.
  EXPECT_EQ(Count("%PDF-1.4\n").returned, 0);
  EXPECT_EQ(Count("%!PS-Adobe-3.0\n%%EndComments\n%%EOF\n").returned, 0);
}

TEST_F(EntryPointTest, DirectoriesAndDevicesAreNotRead) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  EXPECT_EQ(CountFile(temp).returned, 0);
  // Reading a device could block the service: only disk files are read.
  EXPECT_EQ(CountFile("NUL").returned, 0);
}

TEST_F(EntryPointTest, ConcurrentCallsCountIndependently) {
  // The service counts jobs of several printers at once.
  const std::string pdf = WriteFile("a.pdf", SimplePdf(3, "/MediaBox [0 0 595 842]"));
  const std::string ps = WriteFile("b.ps", "%!PS\nshowpage showpage\n");
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        bool use_pdf = (t + i) % 2 == 0;
        PAGE_COUNT_RESULT result = {};
        int returned = get_page_count_((use_pdf ? pdf : ps).c_str(), "P", &result);
        if (returned != 1 || result.dwPages != (use_pdf ? 3u : 2u) ||
            result.wPaperSize != (use_pdf ? DMPAPER_A4 : 0)) {
          ++wrong[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
