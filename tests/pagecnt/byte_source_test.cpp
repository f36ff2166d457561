// Reading a file through ByteSource a block at a time.
#include <string>

#include "byte_source.h"
#include "file_view.h"
#include "page_counter_fixture.h"

namespace {

class ByteSourceTest : public PageCounterTest {};

constexpr size_t kBlock = pagecnt::ByteSource::kStreamingBlock;

TEST_F(ByteSourceTest, LookingPastTheBlockLeavesItsBytesInPlace) {
  // Two full blocks that differ where the first one ends.
  std::string bytes(2 * kBlock, 'a');
  bytes.replace(kBlock - 4, 4, "tail");
  bytes.replace(kBlock, 4, "next");
  bytes.replace(2 * kBlock - 4, 4, "zzzz");
  pagecnt::FileView file;
  ASSERT_TRUE(file.Open(WriteFile("blocks.bin", bytes).c_str()));
  pagecnt::ByteSource source(file, 0, file.size(), kBlock);

  const uint8_t* data = nullptr;
  size_t length = 0;
  ASSERT_TRUE(source.Window(kBlock - 4, data, length));
  ASSERT_EQ(length, 4u);
  EXPECT_TRUE(source.Matches(kBlock - 2, "ilne"));
  EXPECT_FALSE(source.Matches(kBlock - 2, "ilnx"));
  EXPECT_TRUE(source.Matches(kBlock, "next"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 4), "tail");

  // Nothing matches past the end of the source.
  ASSERT_TRUE(source.Window(2 * kBlock - 4, data, length));
  EXPECT_TRUE(source.Matches(2 * kBlock - 2, "zz"));
  EXPECT_FALSE(source.Matches(2 * kBlock - 2, "zzz"));
  EXPECT_FALSE(source.Matches(2 * kBlock, "z"));
}

}  // namespace
