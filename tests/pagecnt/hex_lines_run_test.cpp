// The run of whole lines of hexadecimal digits and blanks, found 16 bytes
// at a time, against the rule it implements, taken byte by byte.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "hex_lines_run.h"

namespace {

size_t ByteByByte(const std::string& bytes) {
  size_t after_line_end = 0;
  for (size_t n = 0; n < bytes.size(); ++n) {
    const uint8_t c = static_cast<uint8_t>(bytes[n]);
    if (!pagecnt::IsHexLineByte(c)) break;
    if (c == '\n' || c == '\r') after_line_end = n + 1;
  }
  return after_line_end;
}

TEST(HexLinesRunTest, StopsWhereTheByteByByteRuleDoes) {
  // Mostly hex digits and line ends, with the bytes on either side of each
  // class boundary now and then.
  const std::string hex = "0123456789abcdefABCDEF";
  const std::string rare = std::string("/:@`gG \t\r\n\f%\x1b\x04\x80\xe6\xc6", 17) + '\0';
  std::mt19937 random(20261209);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes(random() % 200, '0');
    for (char& c : bytes) {
      const unsigned roll = random() % 100;
      c = roll < 2 ? rare[random() % rare.size()] : roll < 5 ? '\n' : hex[random() % hex.size()];
    }
    const size_t expected = ByteByByte(bytes);
    ASSERT_EQ(pagecnt::HexLinesRun(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
              expected)
        << "case " << i << ", length " << bytes.size();
  }
}

}  // namespace
