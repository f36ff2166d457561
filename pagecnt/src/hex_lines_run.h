// How far whole lines of hexadecimal digits and blanks run, at memory
// speed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagecnt {

// True for the bytes of such lines: '0'-'9', 'a'-'f', 'A'-'F', space, tab,
// CR and LF.
inline bool IsHexLineByte(uint8_t c) {
  return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') || c == ' ' ||
         c == '\t' || c == '\r' || c == '\n';
}

// The length from `data` on of the longest run of such bytes that ends
// with a line end (CR or LF), or 0 when the first line of `data` holds
// another byte or does not end within `length`.
size_t HexLinesRun(const uint8_t* data, size_t length);

}  // namespace pagecnt
