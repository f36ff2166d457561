// Inflating FlateDecode (zlib) data with a bound on its output.
#pragma once

#include <cstddef>
#include <string>

namespace pagecnt {

// Inflates the zlib data `in` into `out`, stopping once `max_output` bytes
// have come out, so that a small stream cannot claim unbounded memory.
// Damaged or truncated data gives what inflated before the damage. False
// when nothing came out.
bool Inflate(const std::string& in, size_t max_output, std::string& out);

}  // namespace pagecnt
