// How far a stretch of plain text runs without a byte that needs a look of
// its own, and what it holds, at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagecnt {

struct TextRun {
  size_t length = 0;              // bytes passed, a multiple of 16
  uint64_t line_feeds = 0;        // '\n' among them
  bool marked = false;            // a printable byte among them
  uint64_t line_feeds_after = 0;  // '\n' after the last printable byte
};

// Passes 16 bytes at a time from `data` on, up to the first block of 16
// that holds a form feed, an ESC or another control byte that is no text
// (all but tab, line ends, backspace and ^Z), or to the last whole block of
// `length`. Printable means above the blank and not DEL, as for the text
// counter; every other byte but the line feed changes nothing.
TextRun PlainTextRun(const uint8_t* data, size_t length);

}  // namespace pagecnt
