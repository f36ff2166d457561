#include "text_counter.h"

#include <algorithm>
#include <cstring>

#include "text_run.h"

namespace pagecnt {

namespace {

// Enough bytes to tell text from binary data, and to find the signature of
// a language near the start; control bytes further on still make the
// counter give up.
constexpr uint64_t kSniffLength = 4096;

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr uint64_t kEightBlanks = 0x2020202020202020ull;

// The high bit of each byte of `word` below `limit` (at most 128) is set,
// counting from the lowest byte, which comes first in memory on the
// little-endian machines Windows runs on; above the first such byte, other
// bits may be set too.
uint64_t BytesBelow(uint64_t word, uint8_t limit) {
  return (word - kOnes * limit) & ~word & kHighBits;
}

bool IsTextControl(int c) {
  return c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\b' ||
         c == 0x1A;  // the end-of-file mark of old editors
}

}  // namespace

// A line that begins as a language or PJL does: PostScript's "%!", PDF's
// "%PDF-", "@PJL" (also behind "%%"), in any case.
bool IsSignatureLine(ByteSource& source, uint64_t position) {
  if (source.Matches(position, "%!") || source.Matches(position, "%PDF-")) return true;
  if (source.Matches(position, "%%")) position += 2;
  static const char kPjl[] = "@PJL";
  for (int i = 0; i < 4; ++i) {
    int c = source.At(position + i);
    if (c < 0 || (c & ~0x20) != (kPjl[i] & ~0x20)) return false;
  }
  return true;
}

bool LooksLikeText(ByteSource& source, uint64_t start) {
  bool printable = false;
  bool line_start = true;
  for (uint64_t position = start; position < start + kSniffLength; ++position) {
    int c = source.At(position);
    if (c < 0) break;
    if (line_start && (c == '%' || c == '@') && IsSignatureLine(source, position)) return false;
    if (c > 0x20 && c != 0x7F) {
      printable = true;
    } else if (c != ' ' && !IsTextControl(c)) {
      return false;
    }
    line_start = c == '\n' || c == '\r';
  }
  return printable;
}

bool CountTextPages(const FileView& file, uint64_t start, JobCount& result) {
  ByteSource source(file, start, file.size(), ByteSource::kStreamingBlock);
  // Both ways are counted in one pass; the form feeds decide at the end.
  uint64_t form_feeds = 0;
  uint64_t by_form_feed = 0;   // pages with a printable character
  bool page_marked = false;
  uint64_t lines = 0;          // line ends before the current position
  uint64_t last_marked_line = 0;
  bool any_mark = false;
  auto mark = [&] {
    page_marked = true;
    any_mark = true;
    last_marked_line = lines;
  };
  uint64_t position = start;
  const uint8_t* data = nullptr;
  size_t length = 0;
  while (source.Window(position, data, length)) {
    size_t i = 0;
    while (i < length) {
      // Whole stretches without a form feed or ESC at once.
      const TextRun run = PlainTextRun(data + i, length - i);
      if (run.marked) {
        page_marked = true;
        any_mark = true;
        last_marked_line = lines + run.line_feeds - run.line_feeds_after;
      }
      lines += run.line_feeds;
      i += run.length;
      // Eight bytes at a time while none is a control byte or DEL: then
      // only whether one of them is more than a blank matters.
      while (i + 8 <= length) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        uint64_t special = BytesBelow(word, 0x20) | BytesBelow(word ^ (kOnes * 0x7F), 1);
        if (special == 0) {
          if (word != kEightBlanks) mark();
          i += 8;
          continue;
        }
        // The lowest flagged byte is the first special one (flags above it
        // may be false); the bytes before it are blanks or printable.
        int before = __builtin_ctzll(special) / 8;
        uint64_t below = before == 0 ? 0 : ~0ull >> (64 - 8 * before);
        if ((word ^ kEightBlanks) & below) mark();
        i += before;
        break;
      }
      if (i >= length) break;
      int c = data[i];
      if (c < 0x20 && c != '\f' && !IsTextControl(c)) {
        // ESC (PJL or a printer language) or binary data: no text, and no
        // guess at its pages.
        result.end = position + i;
        result.pages = 0;
        return false;
      }
      if (c == '\n') {
        ++lines;
      } else if (c == '\f') {
        ++form_feeds;
        if (page_marked) ++by_form_feed;
        page_marked = false;
      } else if (c > 0x20 && c != 0x7F) {
        mark();
      }
      ++i;
    }
    position += i;
  }
  if (page_marked) ++by_form_feed;
  result.end = position;
  result.pages = form_feeds > 0 ? by_form_feed
                 : any_mark     ? last_marked_line / kTextLinesPerPage + 1
                                : 0;
  return result.pages > 0;
}

}  // namespace pagecnt
