#include "pdf_xref_scan.h"

#include "pdf_lexer.h"
#include "pdf_parser.h"

namespace pagecnt {

namespace {

constexpr uint64_t kMaxTrailerSize = 1 << 20;
// Each trailer that fails to parse may cost kMaxTrailerSize bytes of reading.
constexpr int kMaxBrokenTrailers = 64;

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Steps back over the digits that end before `position`; false when there
// are none or too many for an object or generation number.
bool StepBackOverDigits(ByteSource& source, uint64_t base, uint64_t& position,
                        int max_digits) {
  int digits = 0;
  while (position > base && IsDigit(source.At(position - 1))) {
    if (++digits > max_digits) return false;
    --position;
  }
  return digits > 0;
}

bool StepBackOverWhitespace(ByteSource& source, uint64_t base,
                            uint64_t& position) {
  uint64_t start = position;
  while (position > base && start - position < 32 &&
         IsPdfWhitespace(source.At(position - 1))) {
    --position;
  }
  return position < start;
}

// The offset of the object number of an "n g obj" header whose keyword is
// at `keyword`, or 0 with false when the keyword ends no header.
bool FindObjectHeader(ByteSource& source, uint64_t base, uint64_t keyword,
                      uint64_t& header, uint32_t& number) {
  int after = source.At(keyword + 3);
  if (after >= 0 && !IsPdfWhitespace(after) && !IsPdfDelimiter(after)) {
    return false;
  }
  uint64_t position = keyword;
  StepBackOverWhitespace(source, base, position);
  if (!StepBackOverDigits(source, base, position, 5) ||
      !StepBackOverWhitespace(source, base, position)) {
    return false;
  }
  uint64_t number_end = position;
  if (!StepBackOverDigits(source, base, position, 7)) return false;
  if (position > base) {
    int before = source.At(position - 1);
    if (!IsPdfWhitespace(before) && !IsPdfDelimiter(before)) return false;
  }
  uint64_t value = 0;
  for (uint64_t at = position; at < number_end; ++at) {
    value = value * 10 + static_cast<uint64_t>(source.At(at) - '0');
  }
  if (value > XrefTable::kMaxObjectNumber) return false;
  header = position;
  number = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

void ScanForObjects(ByteSource& source, uint64_t base, XrefTable& table,
                    PdfObject& trailer) {
  int broken_trailers = 0;
  for (uint64_t position = base; position < source.end(); ++position) {
    int c = source.At(position);
    if (c == 'o' && source.Matches(position, "obj")) {
      uint64_t header = 0;
      uint32_t number = 0;
      if (FindObjectHeader(source, base, position, header, number)) {
        XrefEntry entry;
        entry.type = XrefEntry::Type::kInFile;
        entry.location = header - base;
        table.Set(number, entry);
      }
    } else if (c == 't' && broken_trailers < kMaxBrokenTrailers &&
               source.Matches(position, "trailer")) {
      PdfParser parser(source, position + 7, position + 7 + kMaxTrailerSize);
      PdfObject candidate;
      if (!parser.ParseObject(candidate)) {
        ++broken_trailers;
        continue;
      }
      if (!candidate.Get("Root").IsNull()) trailer = std::move(candidate);
      // Read bytes are not read again, which keeps the scan linear.
      position = parser.lexer().position() - 1;
    }
  }
}

}  // namespace pagecnt
