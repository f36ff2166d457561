#include "file_view.h"

#include <algorithm>

namespace pagecnt {

FileView::~FileView() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool FileView::Open(const char* file_name) {
  if (handle_ != INVALID_HANDLE_VALUE) return false;
  // Others may still hold the spool file open for writing or deletion.
  HANDLE handle = CreateFileA(
      file_name, GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size) ||
      size.QuadPart < 0) {
    CloseHandle(handle);
    return false;
  }
  handle_ = handle;
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

size_t FileView::Read(uint64_t offset, void* buffer, size_t length) const {
  if (handle_ == INVALID_HANDLE_VALUE || offset >= size_) return 0;
  length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  if (offset != position_) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN)) {
      position_ = UINT64_MAX;
      return 0;
    }
    position_ = offset;
  }
  size_t total = 0;
  while (total < length) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(length - total, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle_, static_cast<char*>(buffer) + total, chunk, &got, nullptr) || got == 0) {
      break;
    }
    total += got;
  }
  position_ += total;
  return total;
}

}  // namespace pagecnt
