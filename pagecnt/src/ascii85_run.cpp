#include "ascii85_run.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pagecnt {

namespace {

bool IsLineEnd(uint8_t c) { return c == '\n' || c == '\r'; }

bool Stops(const uint8_t* data, size_t n) {
  return !IsAscii85DataByte(data[n]) || (data[n] == '%' && IsLineEnd(data[n - 1]));
}

#if defined(__SSE2__)
// The bytes of the 16 at `data` that end the run, one bit each, lowest
// first; data[-1] must be readable.
// Inlined: a call per block would cost more than the block.
[[gnu::always_inline]] inline int StopMask(const uint8_t* data) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data - 1));
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  // Outside '!'..'u': moved to start at -128, the digits end at -44.
  __m128i outside = _mm_cmpgt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(0x80 - '!')),
                                   _mm_set1_epi8(static_cast<char>(0x80 + 'u' - '!' - 256)));
  __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)),
                                 _mm_cmpeq_epi8(bytes, _mm_set1_epi8('z')));
  __m128i after_line_end =
      _mm_or_si128(_mm_cmpeq_epi8(before, lf), _mm_cmpeq_epi8(before, cr));
  __m128i comment =
      _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('%')), after_line_end);
  return _mm_movemask_epi8(_mm_or_si128(_mm_andnot_si128(allowed, outside), comment));
}
#endif

}  // namespace

size_t Ascii85DataRun(const uint8_t* data, size_t length, bool line_start) {
  if (length == 0 || !IsAscii85DataByte(data[0]) || (line_start && data[0] == '%')) {
    return 0;
  }
  size_t n = 1;
#if defined(__SSE2__)
  // Two blocks a round: the data runs for hundreds of kilobytes between
  // stops, so the loop is what counts.
  while (n + 32 <= length) {
    int first = StopMask(data + n);
    int second = StopMask(data + n + 16);
    if ((first | second) != 0) {
      unsigned both = static_cast<unsigned>(first) | (static_cast<unsigned>(second) << 16);
      return n + static_cast<size_t>(__builtin_ctz(both));
    }
    n += 32;
  }
#endif
  while (n < length && !Stops(data, n)) ++n;
  return n;
}

}  // namespace pagecnt
