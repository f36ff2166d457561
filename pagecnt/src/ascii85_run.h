// How far a stretch of ASCII85 data runs, at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagecnt {

// True for the bytes that ASCII85 data is written in: the digits '!'
// through 'u', 'z' (four zero bytes) and the line ends. Encoders write no
// other white space, and the end marker "~>" is not among them.
inline bool IsAscii85DataByte(uint8_t c) {
  return (c >= '!' && c <= 'u') || c == 'z' || c == '\n' || c == '\r';
}

// The length of the run of data bytes from `data` on, up to the first byte
// that is not one or that is a '%' starting a line: after CR or LF, or at
// `data` itself when `line_start`. The PostScript scanner stops there for
// the end marker, a comment line, or text that is no data after all.
size_t Ascii85DataRun(const uint8_t* data, size_t length, bool line_start);

}  // namespace pagecnt
