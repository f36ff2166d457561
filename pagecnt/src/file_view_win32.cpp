// FileView on the Win32 file API.
#include <windows.h>

#include <algorithm>

#include "file_view.h"

namespace pagecnt {

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

void FileView::Close() {
  if (handle_ != kNoHandle) CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
}

bool FileView::Open(const char* file_name) {
  if (handle_ != kNoHandle || memory_) return false;
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
  handle_ = reinterpret_cast<intptr_t>(handle);
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

size_t FileView::ReadFile(uint64_t offset, void* buffer, size_t length) const {
  if (offset != position_) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN)) {
      position_ = UINT64_MAX;
      return 0;
    }
    position_ = offset;
  }
  size_t total = 0;
  while (total < length) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(length - total, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), static_cast<char*>(buffer) + total, chunk, &got,
                    nullptr) ||
        got == 0) {
      break;
    }
    total += got;
  }
  position_ += total;
  return total;
}

}  // namespace pagecnt
