#include "hex_lines_run.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pagecnt {

namespace {

#if defined(__SSE2__)
// Of the 16 bytes at `data`, one bit each, lowest first: those that are no
// such byte, and the line ends.
[[gnu::always_inline]] inline void ClassifyBlock(const uint8_t* data, unsigned& other,
                                                 unsigned& line_ends) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  // Ranges by an unsigned compare: b - low <= high - low.
  auto in_range = [](__m128i b, char low, char high) {
    const __m128i moved = _mm_sub_epi8(b, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(moved, _mm_set1_epi8(static_cast<char>(high - low))), moved);
  };
  const __m128i digit = in_range(bytes, '0', '9');
  const __m128i letter = in_range(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 'f');
  const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
  const __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')));
  const __m128i allowed = _mm_or_si128(_mm_or_si128(digit, letter), _mm_or_si128(ends, blank));
  other = ~static_cast<unsigned>(_mm_movemask_epi8(allowed)) & 0xFFFFu;
  line_ends = static_cast<unsigned>(_mm_movemask_epi8(ends));
}
#endif

}  // namespace

size_t HexLinesRun(const uint8_t* data, size_t length) {
  size_t after_line_end = 0;   // the run so far, up to its last line end
  size_t n = 0;
#if defined(__SSE2__)
  for (; n + 16 <= length; n += 16) {
    unsigned other = 0;
    unsigned line_ends = 0;
    ClassifyBlock(data + n, other, line_ends);
    if (other) line_ends &= (1u << __builtin_ctz(other)) - 1;
    if (line_ends) {
      after_line_end = n + 32 - static_cast<size_t>(__builtin_clz(line_ends));
    }
    if (other) return after_line_end;
  }
#endif
  for (; n < length && IsHexLineByte(data[n]); ++n) {
    if (data[n] == '\n' || data[n] == '\r') after_line_end = n + 1;
  }
  return after_line_end;
}

}  // namespace pagecnt
