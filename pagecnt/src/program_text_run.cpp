#include "program_text_run.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pagecnt {

namespace {

bool IsLineEnd(uint8_t c) { return c == '\n' || c == '\r'; }

bool StopsHere(const uint8_t* data, size_t n, size_t length) {
  const uint8_t c = data[n];
  if (c == 0x1B || c == 0x04) return true;
  if (c != '/') return false;
  if (n + 1 == length) return true;  // what follows is not known here
  const uint8_t next = data[n + 1];
  return next == 'P' || next == '#' || next == 'N';
}

#if defined(__SSE2__)
// The bytes of the 16 at `data` that end the run, one bit each, lowest
// first; data[-1] and data[16] must be readable. Inlined: a call per block
// would cost more than the block.
[[gnu::always_inline]] inline int StopMask(const uint8_t* data) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data - 1));
  const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 1));
  // A name that starts as /PageSize, /#copies or /NumCopies do: ASCII85
  // data has a '/' every 85 bytes, such a pair every few kilobytes.
  const __m128i value_name =
      _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('/')),
                    _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(after, _mm_set1_epi8('P')),
                                              _mm_cmpeq_epi8(after, _mm_set1_epi8('#'))),
                                 _mm_cmpeq_epi8(after, _mm_set1_epi8('N'))));
  const __m128i stops =
      _mm_or_si128(_mm_or_si128(value_name, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x1B))),
                   _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x04)));
  const __m128i after_line_end = _mm_or_si128(_mm_cmpeq_epi8(before, _mm_set1_epi8('\n')),
                                              _mm_cmpeq_epi8(before, _mm_set1_epi8('\r')));
  const __m128i comment =
      _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('%')), after_line_end);
  return _mm_movemask_epi8(_mm_or_si128(stops, comment));
}
#endif

}  // namespace

size_t ProgramTextRun(const uint8_t* data, size_t length, bool line_start) {
  if (length == 0 || StopsHere(data, 0, length) || (line_start && data[0] == '%')) return 0;
  size_t n = 1;
#if defined(__SSE2__)
  while (n + 33 <= length) {
    const int first = StopMask(data + n);
    const int second = StopMask(data + n + 16);
    if ((first | second) != 0) {
      const unsigned both = static_cast<unsigned>(first) | (static_cast<unsigned>(second) << 16);
      return n + static_cast<size_t>(__builtin_ctz(both));
    }
    n += 32;
  }
#endif
  while (n < length && !StopsHere(data, n, length) &&
         !(data[n] == '%' && IsLineEnd(data[n - 1]))) {
    ++n;
  }
  return n;
}

}  // namespace pagecnt
