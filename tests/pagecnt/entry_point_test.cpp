// The exported entry point: arguments and files it cannot count.
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
  EXPECT_EQ(Count("Plain text is no page-description language.\n").returned, 0);
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

}  // namespace
