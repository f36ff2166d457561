#include "pdf_xref.h"

#include <algorithm>
#include <string>

#include "pdf_parser.h"
#include "pdf_stream.h"

namespace pagecnt {

namespace {

// A section lists each object once; more entries than objects can exist
// is a hostile file.
constexpr size_t kMaxSectionEntries = XrefTable::kMaxObjectNumber + 1;

// Adds the entry for object `first` + `index` (both not negative); entries
// for numbers beyond the table's are dropped.
bool AddToSection(XrefSection& section, int64_t first, int64_t index,
                  const XrefEntry& entry) {
  if (section.size() >= kMaxSectionEntries) return false;
  if (first <= XrefTable::kMaxObjectNumber &&
      index <= XrefTable::kMaxObjectNumber - first) {
    section.emplace_back(static_cast<uint32_t>(first + index), entry);
  }
  return true;
}

bool IsLive(const XrefEntry& entry) {
  return entry.type == XrefEntry::Type::kInFile ||
         entry.type == XrefEntry::Type::kCompressed;
}

bool ReadXrefTable(PdfLexer& lexer, uint64_t limit, XrefSection& section,
                   PdfObject& trailer, uint64_t& end) {
  for (;;) {
    PdfToken token = lexer.Next();
    if (token.IsKeyword("trailer")) {
      PdfParser parser(lexer.source(), lexer.position(), limit);
      bool ok = parser.ParseObject(trailer) && trailer.IsDictionary();
      end = parser.lexer().position();
      return ok;
    }
    PdfToken count = lexer.Next();
    if (token.type != PdfToken::Type::kInteger || token.integer < 0 ||
        count.type != PdfToken::Type::kInteger || count.integer < 0) {
      return false;
    }
    // Each entry takes its tokens from the file, so a huge count ends at the
    // first token that is not an entry.
    for (int64_t i = 0; i < count.integer; ++i) {
      PdfToken offset = lexer.Next();
      PdfToken generation = lexer.Next();
      PdfToken kind = lexer.Next();
      if (offset.type != PdfToken::Type::kInteger || offset.integer < 0 ||
          generation.type != PdfToken::Type::kInteger ||
          (!kind.IsKeyword("n") && !kind.IsKeyword("f"))) {
        return false;
      }
      XrefEntry entry;
      entry.type = kind.IsKeyword("n") ? XrefEntry::Type::kInFile
                                       : XrefEntry::Type::kFree;
      entry.location = static_cast<uint64_t>(offset.integer);
      if (!AddToSection(section, token.integer, i, entry)) return false;
    }
  }
}

uint64_t ReadField(const std::string& data, size_t at, int64_t width) {
  uint64_t value = 0;
  for (int64_t i = 0; i < width; ++i) {
    value = (value << 8) | static_cast<uint8_t>(data[at + i]);
  }
  return value;
}

bool ReadXrefStream(ByteSource& source, uint64_t position, uint64_t limit,
                    XrefSection& section, PdfObject& trailer, uint64_t& end) {
  PdfParser parser(source, position, limit);
  IndirectObject object;
  if (!parser.ParseIndirectObject(object) || !object.has_stream) return false;
  const PdfObject& dictionary = object.value;
  const PdfObject& widths = dictionary.Get("W");
  if (!widths.IsArray() || widths.array.size() != 3) return false;
  int64_t width[3];
  int64_t row = 0;
  for (int i = 0; i < 3; ++i) {
    if (!widths.array[i].IsInteger()) return false;
    width[i] = widths.array[i].integer;
    if (width[i] < 0 || width[i] > 8) return false;
    row += width[i];
  }
  if (row == 0) return false;
  const PdfObject& length = dictionary.Get("Length");
  uint64_t data_length = FindStreamLength(
      source, object.stream_start, length.IsInteger() ? length.integer : -1);
  end = object.stream_start + data_length;
  std::string data;
  if (!DecodeStream(source, dictionary, object.stream_start, data_length, data)) {
    return false;
  }
  // Without /Index the stream covers objects 0 to /Size - 1.
  std::vector<int64_t> ranges;
  const PdfObject& index = dictionary.Get("Index");
  if (index.IsArray()) {
    for (const PdfObject& value : index.array) {
      if (!value.IsInteger()) return false;
      ranges.push_back(value.integer);
    }
  } else {
    const PdfObject& size = dictionary.Get("Size");
    if (!size.IsInteger()) return false;
    ranges = {0, size.integer};
  }
  size_t at = 0;
  for (size_t r = 0; r + 1 < ranges.size(); r += 2) {
    int64_t first = ranges[r];
    int64_t count = ranges[r + 1];
    if (first < 0 || count < 0) return false;
    for (int64_t i = 0; i < count && at + row <= data.size(); ++i, at += row) {
      uint64_t type = width[0] ? ReadField(data, at, width[0]) : 1;
      uint64_t field2 = ReadField(data, at + width[0], width[1]);
      uint64_t field3 = ReadField(data, at + width[0] + width[1], width[2]);
      XrefEntry entry;
      if (type == 0) {
        entry.type = XrefEntry::Type::kFree;
      } else if (type == 1) {
        entry.type = XrefEntry::Type::kInFile;
        entry.location = field2;
      } else if (type == 2 && field2 <= XrefTable::kMaxObjectNumber &&
                 field3 <= UINT32_MAX) {
        entry.type = XrefEntry::Type::kCompressed;
        entry.location = field2;
        entry.index = static_cast<uint32_t>(field3);
      } else {
        continue;  // types still to be defined count as null objects
      }
      if (!AddToSection(section, first, i, entry)) return false;
    }
  }
  trailer = dictionary;
  return true;
}

}  // namespace

void XrefTable::AddIfAbsent(uint32_t number, const XrefEntry& entry) {
  if (number < entries_.size() &&
      entries_[number].type != XrefEntry::Type::kUnset) {
    return;
  }
  Set(number, entry);
}

void XrefTable::Set(uint32_t number, const XrefEntry& entry) {
  if (number > kMaxObjectNumber || entry.type == XrefEntry::Type::kUnset) {
    return;
  }
  if (number >= entries_.size()) entries_.resize(number + 1);
  if (IsLive(entries_[number])) --live_objects_;
  entries_[number] = entry;
  if (IsLive(entry)) ++live_objects_;
}

void XrefTable::Merge(const XrefSection& older) {
  for (const auto& entry : older) AddIfAbsent(entry.first, entry.second);
}

const XrefEntry& XrefTable::Find(uint32_t number) const {
  static const XrefEntry kUnset;
  return number < entries_.size() ? entries_[number] : kUnset;
}

void XrefTable::Clear() {
  entries_.clear();
  live_objects_ = 0;
}

bool ReadXrefSection(ByteSource& source, uint64_t position, uint64_t limit,
                     XrefSection& section, PdfObject& trailer, uint64_t& end) {
  end = position;
  PdfLexer lexer(source, position, limit);
  bool ok = lexer.Next().IsKeyword("xref")
                ? ReadXrefTable(lexer, limit, section, trailer, end)
                : ReadXrefStream(source, position, limit, section, trailer, end);
  end = std::max(end, lexer.position());
  return ok;
}

}  // namespace pagecnt
