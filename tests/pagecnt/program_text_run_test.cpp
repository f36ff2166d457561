// The run of PostScript program text between the bytes the scan looks at
// once page comments count, 32 bytes at a time, against the rule it
// implements, taken byte by byte.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "program_text_run.h"

namespace {

size_t ByteByByte(const std::string& bytes, bool line_start) {
  for (size_t n = 0; n < bytes.size(); ++n) {
    const char c = bytes[n];
    const bool after_line_end = n == 0 ? line_start : bytes[n - 1] == '\n' || bytes[n - 1] == '\r';
    const bool value_name =
        c == '/' && (n + 1 == bytes.size() || bytes[n + 1] == 'P' || bytes[n + 1] == '#' ||
                     bytes[n + 1] == 'N');
    if (value_name || c == '\x1b' || c == '\x04' || (c == '%' && after_line_end)) return n;
  }
  return bytes.size();
}

TEST(ProgramTextRunTest, StopsWhereTheByteByByteRuleDoes) {
  const std::string text = "(Paragraph) 12.5 F .608 G showpage\\) PN#";
  const std::string rare = std::string("/%\x1b\x04\r\n\n\n\n\x80\xff", 11) + '\0';
  std::mt19937 random(20261210);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes(random() % 300, ' ');
    for (char& c : bytes) {
      const unsigned roll = random() % 100;
      c = roll < 3 ? rare[random() % rare.size()] : text[random() % text.size()];
    }
    const bool line_start = random() % 2 == 0;
    ASSERT_EQ(pagecnt::ProgramTextRun(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                      line_start),
              ByteByByte(bytes, line_start))
        << "case " << i << ", length " << bytes.size();
  }
}

}  // namespace
