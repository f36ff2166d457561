// Byte-wise random access to a stretch of a print file or to bytes in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_view.h"

namespace pagecnt {

// The parsers read through this one interface whether the bytes lie in the
// file or in a decompressed stream. File bytes are read a block at a time,
// so byte-wise scanning costs one system call per block.
class ByteSource {
 public:
  // Blocks for reading here and there, as PDF objects are read, and for
  // reading a file from start to end: a system call costs more under some
  // systems than copying a megabyte.
  static constexpr size_t kRandomAccessBlock = 64 * 1024;
  static constexpr size_t kStreamingBlock = 1024 * 1024;

  // The bytes [begin, end) of `file`, which must outlive this source, read
  // `block_size` bytes at a time.
  ByteSource(const FileView& file, uint64_t begin, uint64_t end,
             size_t block_size = kRandomAccessBlock);
  explicit ByteSource(std::shared_ptr<const std::string> data);

  uint64_t begin() const { return begin_; }
  uint64_t end() const { return end_; }

  // The byte at `position`, or -1 outside [begin, end) and where the file
  // cannot be read.
  int At(uint64_t position) {
    uint64_t offset = position - block_start_;
    if (offset < block_length_) return block_[offset];
    return Load(position);
  }

  // The bytes from `position` to the end of the block that holds it, for
  // loops that scan without a call per byte. False at the end.
  bool Window(uint64_t position, const uint8_t*& data, size_t& length) {
    if (At(position) < 0) return false;
    uint64_t offset = position - block_start_;
    data = block_ + offset;
    length = static_cast<size_t>(block_length_ - offset);
    return true;
  }

  // True when the bytes at `position` are `text`. Looking past the end of
  // the block that holds `position` leaves that block in place.
  bool Matches(uint64_t position, const char* text);

  // Appends the bytes [position, position + length), clipped to the end.
  void CopyTo(uint64_t position, uint64_t length, std::string& out);

 private:
  int Load(uint64_t position);

  const FileView* file_ = nullptr;
  std::shared_ptr<const std::string> memory_;
  std::vector<uint8_t> buffer_;
  const uint8_t* block_ = nullptr;
  uint64_t block_start_ = 0;
  uint64_t block_length_ = 0;
  uint64_t begin_ = 0;
  uint64_t end_ = 0;
  uint64_t block_size_ = kRandomAccessBlock;
};

}  // namespace pagecnt
