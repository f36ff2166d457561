// FileView on POSIX calls, for the native build of the sanitizers and the
// fuzz targets.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_view.h"

namespace pagecnt {

void FileView::Close() {
  if (handle_ != kNoHandle) close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

bool FileView::Open(const char* file_name) {
  if (handle_ != kNoHandle || memory_) return false;
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  int descriptor = open(file_name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return false;
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return false;
  }
  handle_ = descriptor;
  size_ = static_cast<uint64_t>(status.st_size);
  return true;
}

size_t FileView::ReadFile(uint64_t offset, void* buffer, size_t length) const {
  size_t total = 0;
  while (total < length) {
    ssize_t got = pread(static_cast<int>(handle_), static_cast<char*>(buffer) + total,
                        length - total, static_cast<off_t>(offset + total));
    if (got <= 0) break;
    total += static_cast<size_t>(got);
  }
  return total;
}

}  // namespace pagecnt
