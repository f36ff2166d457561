// Read-only access to a print file: the one place where the platform is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagecnt {

// An open print file. Reads are positioned and on demand, so the file is
// never loaded whole and may be larger than memory. One counter uses it at
// a time: the reads share the handle's file pointer.
//
// file_view_win32.cpp serves it with the Win32 file API (the product);
// file_view_posix.cpp with POSIX calls, for the native build that runs the
// sanitizers and fuzz targets. A view of bytes in memory is the same on
// every platform.
class FileView {
 public:
  FileView() = default;
  // A view of `size` bytes at `data`, which must outlive it.
  FileView(const void* data, uint64_t size);
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  // Opens a disk file by its ANSI name. False when it is missing or
  // unreadable, and for devices and pipes, whose reads could block.
  bool Open(const char* file_name);

  uint64_t size() const { return size_; }

  // Reads up to `length` bytes at `offset` and returns how many it read;
  // fewer only at the end of the file or on a read error.
  size_t Read(uint64_t offset, void* buffer, size_t length) const;

 private:
  void Close();
  // Reads [offset, offset + length), all inside the file, from the handle.
  size_t ReadFile(uint64_t offset, void* buffer, size_t length) const;

  static constexpr intptr_t kNoHandle = -1;  // INVALID_HANDLE_VALUE, or no descriptor
  intptr_t handle_ = kNoHandle;
  const uint8_t* memory_ = nullptr;
  uint64_t size_ = 0;
  // Where the file pointer stands: it is moved only when a read does not
  // follow the last one. A read at an offset of its own (OVERLAPPED) costs
  // a round trip more under some systems, a third of the time of reading a
  // file in blocks of a megabyte.
  mutable uint64_t position_ = 0;
};

}  // namespace pagecnt
