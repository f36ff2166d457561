// The run of plain text, passed 16 bytes at a time, against the rule it
// implements, taken byte by byte.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text_run.h"

namespace {

// Control bytes that stop the run: all but tab, line ends, backspace, ^Z.
bool Stops(char c) {
  const uint8_t byte = static_cast<uint8_t>(c);
  return byte < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\b' && c != 0x1A;
}

pagecnt::TextRun ByteByByte(const std::string& bytes) {
  pagecnt::TextRun run;
  size_t end = 0;
  while (end + 16 <= bytes.size()) {
    const std::string block = bytes.substr(end, 16);
    bool stop = false;
    for (char c : block) stop = stop || Stops(c);
    if (stop) break;
    end += 16;
  }
  run.length = end;
  for (size_t n = 0; n < end; ++n) {
    const uint8_t c = static_cast<uint8_t>(bytes[n]);
    if (c == '\n') {
      ++run.line_feeds;
      ++run.line_feeds_after;
    } else if (c > 0x20 && c != 0x7F) {
      run.marked = true;
      run.line_feeds_after = 0;
    }
  }
  if (!run.marked) run.line_feeds_after = 0;
  return run;
}

TEST(TextRunTest, CountsAndStopsAsTheByteByByteRuleDoes) {
  // Lines of words and blanks, with the bytes that matter on either side
  // of each class boundary now and then, and runs long enough for the
  // per-lane counts to wrap.
  const std::string rare =
      std::string("\n\n\n\r\t \f\x1b\x1f\x20\x21\x7e\x7f\x80\xff\b\x1a\x01", 19) + '\0';
  std::mt19937 random(20261209);
  for (int i = 0; i < 3000; ++i) {
    const size_t size = i % 50 == 0 ? 20000 + random() % 5000 : random() % 300;
    const int blank_share = static_cast<int>(random() % 4);   // some texts mostly blank
    std::string bytes(size, ' ');
    for (char& c : bytes) {
      const unsigned roll = random() % 100;
      if (roll < 2) {
        c = rare[random() % rare.size()];
      } else if (roll < 5) {
        c = '\n';
      } else if (static_cast<int>(roll % 4) >= blank_share) {
        c = static_cast<char>('a' + random() % 26);
      }
    }
    // A long text without a byte that stops the run, so that it passes
    // it all.
    if (size > 10000) {
      for (char& c : bytes) {
        if (Stops(c)) c = 'x';
      }
    }
    const pagecnt::TextRun expected = ByteByByte(bytes);
    const pagecnt::TextRun got =
        pagecnt::PlainTextRun(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ASSERT_EQ(got.length, expected.length) << "case " << i;
    ASSERT_EQ(got.line_feeds, expected.line_feeds) << "case " << i << ", length " << got.length;
    ASSERT_EQ(got.marked, expected.marked) << "case " << i;
    ASSERT_EQ(got.line_feeds_after, expected.line_feeds_after) << "case " << i;
  }
}

TEST(TextRunTest, EveryByteALineFeedFillsEachLaneToItsLimit) {
  // 255 line feeds a lane is the most a lane holds before it is summed.
  for (size_t size : {size_t(255 * 16), size_t(256 * 16), size_t(1000 * 16 + 7)}) {
    std::string bytes(size, '\n');
    bytes[size - 1] = 'x';
    const pagecnt::TextRun expected = ByteByByte(bytes);
    const pagecnt::TextRun got =
        pagecnt::PlainTextRun(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(got.line_feeds, expected.line_feeds) << "size " << size;
    EXPECT_EQ(got.marked, expected.marked) << "size " << size;
    EXPECT_EQ(got.line_feeds_after, expected.line_feeds_after) << "size " << size;
  }
}

}  // namespace
