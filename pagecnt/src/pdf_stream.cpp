#include "pdf_stream.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "flate.h"
#include "pdf_lexer.h"

namespace pagecnt {

namespace {

bool EndsAtKeyword(ByteSource& source, uint64_t position) {
  for (int skipped = 0; skipped < 64 && IsPdfWhitespace(source.At(position));
       ++skipped) {
    ++position;
  }
  return source.Matches(position, "endstream");
}

int64_t IntegerParameter(const PdfObject& parameters, const char* key,
                         int64_t fallback) {
  const PdfObject& value = parameters.Get(key);
  return value.IsInteger() ? value.integer : fallback;
}

int Paeth(int left, int up, int up_left) {
  int estimate = left + up - up_left;
  int to_left = std::abs(estimate - left);
  int to_up = std::abs(estimate - up);
  int to_up_left = std::abs(estimate - up_left);
  if (to_left <= to_up && to_left <= to_up_left) return left;
  return to_up <= to_up_left ? up : up_left;
}

// Undoes the PNG row filters that producers apply before deflating
// cross-reference streams.
bool UndoPngPredictor(const PdfObject& parameters, std::string& data) {
  int64_t colors = IntegerParameter(parameters, "Colors", 1);
  int64_t bits = IntegerParameter(parameters, "BitsPerComponent", 8);
  int64_t columns = IntegerParameter(parameters, "Columns", 1);
  if (colors < 1 || colors > 32 || columns < 1 || columns > (1 << 20) ||
      (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)) {
    return false;
  }
  size_t pixel_bytes = static_cast<size_t>(std::max<int64_t>(1, colors * bits / 8));
  size_t row_bytes = static_cast<size_t>((colors * bits * columns + 7) / 8);
  std::vector<uint8_t> previous(row_bytes, 0);
  std::string out;
  out.reserve(data.size());
  for (size_t at = 0; at + 1 + row_bytes <= data.size(); at += 1 + row_bytes) {
    int filter = static_cast<uint8_t>(data[at]);
    std::vector<uint8_t> row(data.begin() + at + 1,
                             data.begin() + at + 1 + row_bytes);
    for (size_t i = 0; i < row_bytes; ++i) {
      int left = i >= pixel_bytes ? row[i - pixel_bytes] : 0;
      int up = previous[i];
      int up_left = i >= pixel_bytes ? previous[i - pixel_bytes] : 0;
      switch (filter) {
        case 0: break;
        case 1: row[i] = static_cast<uint8_t>(row[i] + left); break;
        case 2: row[i] = static_cast<uint8_t>(row[i] + up); break;
        case 3: row[i] = static_cast<uint8_t>(row[i] + (left + up) / 2); break;
        case 4: row[i] = static_cast<uint8_t>(row[i] + Paeth(left, up, up_left)); break;
        default: return false;
      }
    }
    out.append(row.begin(), row.end());
    previous.swap(row);
  }
  data.swap(out);
  return true;
}

}  // namespace

uint64_t FindStreamLength(ByteSource& source, uint64_t start,
                          int64_t declared_length) {
  uint64_t end = source.end();
  if (start >= end) return 0;
  bool declared_fits = declared_length >= 0 &&
                       static_cast<uint64_t>(declared_length) <= end - start;
  if (declared_fits && EndsAtKeyword(source, start + declared_length)) {
    return static_cast<uint64_t>(declared_length);
  }
  uint64_t limit = std::min(end, start + kMaxRawStreamSize + 16);
  for (uint64_t position = start; position < limit; ++position) {
    if (source.At(position) == 'e' && source.Matches(position, "endstream")) {
      uint64_t length = position - start;
      // The end of line before the keyword belongs to the keyword.
      if (length > 0 && source.At(start + length - 1) == '\n') --length;
      if (length > 0 && source.At(start + length - 1) == '\r') --length;
      return length;
    }
  }
  if (declared_fits) return static_cast<uint64_t>(declared_length);
  return limit - start;
}

bool DecodeStream(ByteSource& source, const PdfObject& dictionary,
                  uint64_t start, uint64_t length, std::string& out) {
  out.clear();
  if (length > kMaxRawStreamSize) return false;
  std::string raw;
  source.CopyTo(start, length, raw);
  return DecodeStreamData(dictionary, std::move(raw), out);
}

bool DecodeStreamData(const PdfObject& dictionary, std::string raw, std::string& out) {
  out.clear();
  if (raw.size() > kMaxRawStreamSize) return false;
  static const PdfObject kNone;
  const PdfObject* filter = &dictionary.Get("Filter");
  const PdfObject* parameters = &dictionary.Get("DecodeParms");
  // A one-element filter array is the same as the bare filter.
  if (filter->IsArray()) {
    if (filter->array.size() > 1) return false;
    filter = filter->array.empty() ? &kNone : &filter->array[0];
  }
  if (parameters->IsArray()) {
    parameters = parameters->array.empty() ? &kNone : &parameters->array[0];
  }
  if (filter->IsNull()) {
    if (raw.size() > kMaxDecodedStreamSize) return false;
    out.swap(raw);
    return !out.empty();
  }
  if (!filter->IsName("FlateDecode") && !filter->IsName("Fl")) return false;
  if (!Inflate(raw, kMaxDecodedStreamSize, out)) return false;
  int64_t predictor = IntegerParameter(*parameters, "Predictor", 1);
  if (predictor >= 10) return UndoPngPredictor(*parameters, out) && !out.empty();
  return predictor == 1;  // 2 (TIFF) is never used for these streams
}

}  // namespace pagecnt
