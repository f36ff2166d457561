#include "zip_writer.h"

#include <zlib.h>

#include <cstdint>

namespace {

void Put(std::string& out, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string RawDeflate(const std::string& data) {
  z_stream stream = {};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

std::string ZipArchiveOf(const std::vector<ZipItem>& items) {
  std::string out;
  std::string directory;
  for (const ZipItem& item : items) {
    std::string stored = item.deflate ? RawDeflate(item.data) : item.data;
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(item.data.data()),
              static_cast<uInt>(item.data.size())));
    uint64_t offset = out.size();
    int method = item.deflate ? 8 : 0;
    Put(out, 0x04034b50, 4);
    Put(out, 20, 2);
    Put(out, 0, 2);
    Put(out, method, 2);
    Put(out, 0, 4);  // time and date
    Put(out, crc, 4);
    Put(out, stored.size(), 4);
    Put(out, item.data.size(), 4);
    Put(out, item.name.size(), 2);
    Put(out, 0, 2);
    out += item.name;
    out += stored;

    Put(directory, 0x02014b50, 4);
    Put(directory, 20, 2);
    Put(directory, 20, 2);
    Put(directory, 0, 2);
    Put(directory, method, 2);
    Put(directory, 0, 4);
    Put(directory, crc, 4);
    Put(directory, stored.size(), 4);
    Put(directory, item.data.size(), 4);
    Put(directory, item.name.size(), 2);
    Put(directory, 0, 2);  // extra
    Put(directory, 0, 2);  // comment
    Put(directory, 0, 2);  // disk
    Put(directory, 0, 2);
    Put(directory, 0, 4);
    Put(directory, offset, 4);
    directory += item.name;
  }
  uint64_t directory_offset = out.size();
  out += directory;
  Put(out, 0x06054b50, 4);
  Put(out, 0, 4);
  Put(out, items.size(), 2);
  Put(out, items.size(), 2);
  Put(out, directory.size(), 4);
  Put(out, directory_offset, 4);
  Put(out, 0, 2);
  return out;
}
