// The run of ASCII85 data bytes, found many bytes at a time, against the
// rule it implements, taken byte by byte.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ascii85_run.h"

namespace {

size_t ByteByByte(const std::string& bytes, bool line_start) {
  for (size_t n = 0; n < bytes.size(); ++n) {
    uint8_t c = static_cast<uint8_t>(bytes[n]);
    bool after_line_end = n == 0 ? line_start : bytes[n - 1] == '\n' || bytes[n - 1] == '\r';
    if (!pagecnt::IsAscii85DataByte(c) || (c == '%' && after_line_end)) return n;
  }
  return bytes.size();
}

TEST(Ascii85RunTest, StopsWhereTheByteByByteRuleDoes) {
  // Mostly digits, with the bytes that matter on either side of each
  // class boundary now and then.
  const std::string rare = std::string("\n\r%%~z !uv{\x1b\x04\x7f\x80\xff\t", 17) + '\0';
  std::mt19937 random(20261209);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes(random() % 150, 'A');
    for (char& c : bytes) {
      c = random() % 40 ? static_cast<char>('!' + random() % 85) : rare[random() % rare.size()];
    }
    bool line_start = random() % 2;
    size_t expected = ByteByByte(bytes, line_start);
    ASSERT_EQ(pagecnt::Ascii85DataRun(reinterpret_cast<const uint8_t*>(bytes.data()),
                                      bytes.size(), line_start),
              expected)
        << "case " << i << ", stop byte "
        << (expected < bytes.size() ? static_cast<int>(static_cast<uint8_t>(bytes[expected]))
                                    : -1);
  }
}

}  // namespace
