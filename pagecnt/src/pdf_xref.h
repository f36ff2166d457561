// The cross-reference table of a PDF file: where each object is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "byte_source.h"
#include "pdf_object.h"

namespace pagecnt {

struct XrefEntry {
  enum class Type : uint8_t { kUnset, kFree, kInFile, kCompressed };
  Type type = Type::kUnset;
  uint32_t index = 0;     // kCompressed: place within the object stream
  uint64_t location = 0;  // kInFile: offset; kCompressed: object stream number
};

// The entries of one cross-reference section, in the order it lists them.
using XrefSection = std::vector<std::pair<uint32_t, XrefEntry>>;

class XrefTable {
 public:
  // Far above any print job's object count; bounds the table at 32 MiB.
  static constexpr uint32_t kMaxObjectNumber = (1u << 21) - 1;

  // Records an entry unless the object has one: sections are read newest
  // first, and the newest word on an object counts.
  void AddIfAbsent(uint32_t number, const XrefEntry& entry);
  // Records an entry over any earlier one.
  void Set(uint32_t number, const XrefEntry& entry);
  // Adds the entries of an older section that this table lacks.
  void Merge(const XrefSection& older);

  const XrefEntry& Find(uint32_t number) const;
  // One past the highest object number with an entry.
  uint32_t end_number() const { return static_cast<uint32_t>(entries_.size()); }
  // Objects that are in the file or in object streams.
  size_t live_objects() const { return live_objects_; }
  void Clear();

 private:
  std::vector<XrefEntry> entries_;
  size_t live_objects_ = 0;
};

// Reads the cross-reference section at `position`, a classic table or a
// cross-reference stream, into `section` (at most one entry per possible
// object number), and its trailer dictionary (for a
// stream, the stream's dictionary) into `trailer`. Offsets are stored as
// the file gives them. Tokens are read no further than `limit`; `end` is
// set to where reading stopped. False when there is no readable section.
bool ReadXrefSection(ByteSource& source, uint64_t position, uint64_t limit,
                     XrefSection& section, PdfObject& trailer, uint64_t& end);

}  // namespace pagecnt
