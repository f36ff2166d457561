#include "byte_source.h"

#include <algorithm>
#include <cstring>

namespace pagecnt {

ByteSource::ByteSource(const FileView& file, uint64_t begin, uint64_t end,
                       size_t block_size)
    : file_(&file),
      begin_(begin),
      end_(std::min(end, file.size())),
      block_size_(block_size) {
  if (begin_ > end_) begin_ = end_;
}

ByteSource::ByteSource(std::shared_ptr<const std::string> data)
    : memory_(std::move(data)) {
  block_ = reinterpret_cast<const uint8_t*>(memory_->data());
  block_length_ = memory_->size();
  end_ = block_length_;
}

int ByteSource::Load(uint64_t position) {
  if (!file_ || position < begin_ || position >= end_) return -1;
  // Aligned blocks keep short backward steps within the block just read.
  uint64_t start = std::max(begin_, position - position % block_size_);
  uint64_t length = std::min(block_size_, end_ - start);
  // Grown to what is read, not to the block size: a small file costs no
  // megabyte of zeroes.
  if (buffer_.size() < length) buffer_.resize(static_cast<size_t>(length));
  size_t got = file_->Read(start, buffer_.data(), static_cast<size_t>(length));
  block_ = buffer_.data();
  block_start_ = start;
  block_length_ = got;
  if (position - start >= got) return -1;
  return block_[position - start];
}

bool ByteSource::Matches(uint64_t position, const char* text) {
  uint64_t offset = position - block_start_;
  if (block_length_ > 0 && offset <= block_length_) {
    for (; *text && offset < block_length_; ++text, ++offset) {
      if (block_[offset] != static_cast<unsigned char>(*text)) return false;
    }
    if (*text == 0) return true;
    // Past the end of the block: the rest is read aside, so that the bytes
    // of the block stay where a caller scanning them has them.
    uint64_t next = block_start_ + block_length_;
    size_t wanted = std::strlen(text);
    char rest[32];
    if (wanted <= sizeof rest) {
      return file_ && wanted <= end_ - next && file_->Read(next, rest, wanted) == wanted &&
             std::memcmp(rest, text, wanted) == 0;
    }
    position = next;
  }
  for (; *text; ++text, ++position) {
    if (At(position) != static_cast<unsigned char>(*text)) return false;
  }
  return true;
}

void ByteSource::CopyTo(uint64_t position, uint64_t length, std::string& out) {
  if (position >= end_) return;
  length = std::min(length, end_ - position);
  for (uint64_t i = 0; i < length; ++i) {
    int c = At(position + i);
    if (c < 0) break;
    out.push_back(static_cast<char>(c));
  }
}

}  // namespace pagecnt
