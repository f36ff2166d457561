// Reading the parts of a ZIP archive, as XPS packages are stored.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "byte_source.h"
#include "file_view.h"

namespace pagecnt {

// The central directory of a ZIP archive that starts at `start` and ends at
// the end of the file, read once; parts are then read by name, stored or
// deflated, through a consumer that sees their bytes a chunk at a time.
// Package part names are matched without regard to case and to a leading
// "/", and a part stored as interleaved pieces ("name/[0].piece", ...,
// "name/[n].last.piece") is read as the pieces in order.
//
// Memory is bounded: the directory keeps a hash and four numbers per item
// for at most kMaxItems items, and reading keeps one chunk.
class ZipArchive {
 public:
  static constexpr size_t kMaxItems = 1 << 20;

  ZipArchive(const FileView& file, uint64_t start);

  // Reads the central directory; false when there is none that reads.
  bool Open();

  // Passes the bytes of part `name` to `consume` until it returns false,
  // the part ends, or `max_bytes` have come out. All parts together give
  // at most kMaxBytesRead, so that a package naming one highly compressed
  // part many times is read for a bounded time. False when the part is
  // missing or cannot be read from its start.
  static constexpr uint64_t kMaxBytesRead = 1ull << 30;
  using Consumer = std::function<bool(const char* data, size_t length)>;
  bool ReadPart(const std::string& name, uint64_t max_bytes,
                const Consumer& consume);

 private:
  struct Item {
    uint64_t hash;
    uint64_t local_header;  // offset from the archive's start
    uint64_t compressed_size;
    uint16_t method;
  };

  static uint64_t HashName(const std::string& name);
  const Item* Find(const std::string& name) const;
  bool ReadItem(const Item& item, const std::string& name, uint64_t& budget,
                const Consumer& consume, bool& stopped);
  uint64_t Number(uint64_t position, int size);

  const FileView& file_;
  ByteSource source_;
  uint64_t start_;
  std::vector<Item> items_;  // sorted by hash
  uint64_t bytes_left_ = kMaxBytesRead;
};

// The part name that `reference` (a URI in part `base`) names: absolute
// references start at the package root, others at the folder of `base`;
// "." and ".." segments are resolved, a fragment or query is dropped.
std::string ResolvePartName(const std::string& base, const std::string& reference);

}  // namespace pagecnt
