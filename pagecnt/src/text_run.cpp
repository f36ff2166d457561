#include "text_run.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pagecnt {

#if defined(__SSE2__)

namespace {

uint64_t Sum(__m128i counts) {
  const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
  return static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
         static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}

unsigned LineFeedMask(const uint8_t* data) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
}

}  // namespace

TextRun PlainTextRun(const uint8_t* data, size_t length) {
  TextRun run;
  // The line feeds are summed per byte lane, which holds 255 at most; the
  // block of the last printable byte is noted, and only the few blocks
  // after it are looked at again at the end.
  __m128i counts = _mm_setzero_si128();
  int blocks_counted = 0;
  size_t last_block = 0;
  unsigned last_printable = 0;
  size_t n = 0;
  for (; n + 16 <= length; n += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + n));
    // Control bytes other than tab, line ends, backspace and ^Z: the form
    // feed, ESC, and those that are no text at all.
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(0x1F)), bytes);
    const __m128i text_control =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')),
                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
                     _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')),
                                               _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\b'))),
                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x1A))));
    if (_mm_movemask_epi8(_mm_andnot_si128(text_control, control))) break;
    counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')));
    const __m128i not_printable =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(0x20)), bytes),
                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F)));
    const unsigned printable = ~static_cast<unsigned>(_mm_movemask_epi8(not_printable)) & 0xFFFFu;
    if (printable) {
      last_block = n;
      last_printable = printable;
    }
    if (++blocks_counted == 255) {
      run.line_feeds += Sum(counts);
      counts = _mm_setzero_si128();
      blocks_counted = 0;
    }
  }
  run.line_feeds += Sum(counts);
  run.length = n;
  if (last_printable) {
    run.marked = true;
    const unsigned last_bit = 31u - static_cast<unsigned>(__builtin_clz(last_printable));
    const unsigned above = ~((2u << last_bit) - 1);
    run.line_feeds_after =
        static_cast<unsigned>(__builtin_popcount(LineFeedMask(data + last_block) & above));
    for (size_t block = last_block + 16; block < n; block += 16) {
      run.line_feeds_after += static_cast<unsigned>(__builtin_popcount(LineFeedMask(data + block)));
    }
  }
  return run;
}

#else

TextRun PlainTextRun(const uint8_t*, size_t) { return TextRun(); }

#endif

}  // namespace pagecnt
