#include "flate.h"

#include <zlib.h>

#include <algorithm>

namespace pagecnt {

bool Inflate(const std::string& in, size_t max_output, std::string& out) {
  out.clear();
  z_stream stream = {};
  if (inflateInit(&stream) != Z_OK) return false;
  constexpr size_t kChunk = 64 * 1024;
  const Bytef* input = reinterpret_cast<const Bytef*>(in.data());
  size_t input_left = in.size();
  int status = Z_OK;
  while (status == Z_OK && out.size() < max_output) {
    if (stream.avail_in == 0) {
      if (input_left == 0) break;
      uInt take = static_cast<uInt>(std::min<size_t>(input_left, 1u << 30));
      stream.next_in = const_cast<Bytef*>(input);
      stream.avail_in = take;
      input += take;
      input_left -= take;
    }
    size_t room = std::min(kChunk, max_output - out.size());
    size_t used = out.size();
    out.resize(used + room);
    stream.next_out = reinterpret_cast<Bytef*>(&out[used]);
    stream.avail_out = static_cast<uInt>(room);
    status = inflate(&stream, Z_NO_FLUSH);
    out.resize(used + room - stream.avail_out);
    // Z_BUF_ERROR with input left means no progress was possible.
    if (status == Z_BUF_ERROR && stream.avail_in == 0 && input_left > 0) {
      status = Z_OK;
    }
  }
  inflateEnd(&stream);
  return !out.empty();
}

}  // namespace pagecnt
