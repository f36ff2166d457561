#include "file_view.h"

#include <algorithm>
#include <cstring>

namespace pagecnt {

FileView::FileView(const void* data, uint64_t size)
    : memory_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}

FileView::~FileView() { Close(); }

size_t FileView::Read(uint64_t offset, void* buffer, size_t length) const {
  if (offset >= size_) return 0;
  length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  if (memory_) {
    std::memcpy(buffer, memory_ + offset, length);
    return length;
  }
  if (handle_ == kNoHandle) return 0;
  return ReadFile(offset, buffer, length);
}

}  // namespace pagecnt
