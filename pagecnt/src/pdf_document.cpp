#include "pdf_document.h"

#include <algorithm>
#include <set>

#include "pdf_stream.h"
#include "pdf_xref_scan.h"

namespace pagecnt {

namespace {

// Budgets for one file. A real print job needs a small part of each; a
// hostile file spends them and is given up on.
constexpr uint64_t kMaxLoads = 1 << 21;
constexpr uint64_t kMaxParsedBytes = 256ull << 20;
constexpr uint64_t kMaxDecodedBytes = 256ull << 20;
// One object's bytes: far more than any page tree node or trailer needs.
constexpr uint64_t kMaxObjectSize = 16 << 20;
constexpr int kMaxNesting = 4;
constexpr int kMaxXrefSections = 256;
constexpr size_t kMaxCachedStreams = 16;
constexpr size_t kMaxCachedBytes = 64 << 20;
// startxref lies near the end, though PJL lines or junk may follow %%EOF.
constexpr uint64_t kTailSize = 64 * 1024;
constexpr int kMaxReferenceChain = 8;

}  // namespace

PdfDocument::PdfDocument(const FileView& file, uint64_t header, uint64_t end)
    : source_(file, 0, end),
      header_(header),
      loads_left_(kMaxLoads),
      parsed_bytes_left_(kMaxParsedBytes),
      decoded_bytes_left_(kMaxDecodedBytes) {}

bool PdfDocument::Spend(uint64_t& budget, uint64_t amount) {
  if (budget < amount) {
    budget = 0;
    return false;
  }
  budget -= amount;
  return true;
}

bool PdfDocument::ReadXref() {
  uint64_t end = source_.end();
  uint64_t tail = end > header_ + kTailSize ? end - kTailSize : header_;
  uint64_t keyword = end;
  for (uint64_t position = end; position > tail; --position) {
    if (source_.At(position - 1) == 's' &&
        source_.Matches(position - 1, "startxref")) {
      keyword = position - 1;
      break;
    }
  }
  if (keyword == end) return false;
  PdfLexer lexer(source_, keyword + 9, end);
  PdfToken offset = lexer.Next();
  if (offset.type != PdfToken::Type::kInteger || offset.integer < 0) {
    return false;
  }

  std::set<uint64_t> visited;
  int64_t next = offset.integer;
  for (int sections = 0; sections < kMaxXrefSections && next >= 0 &&
                         visited.insert(static_cast<uint64_t>(next)).second;
       ++sections) {
    XrefSection section;
    PdfObject section_trailer;
    if (!ReadXrefSectionAt(static_cast<uint64_t>(next), section,
                           section_trailer)) {
      if (sections == 0) return false;
      break;  // older sections lost: the newer ones may still be enough
    }
    // A hybrid file's table leaves its compressed objects to the stream at
    // /XRefStm, which is read first so that the table's free entries for
    // those objects do not hide them.
    const PdfObject& hidden = section_trailer.Get("XRefStm");
    if (hidden.IsInteger() && hidden.integer >= 0) {
      XrefSection stream_section;
      PdfObject stream_trailer;
      if (ReadXrefSectionAt(static_cast<uint64_t>(hidden.integer),
                            stream_section, stream_trailer)) {
        xref_.Merge(stream_section);
      }
    }
    xref_.Merge(section);
    if (trailer_.IsNull()) {
      trailer_ = section_trailer;
    } else if (trailer_.Get("Root").IsNull() &&
               !section_trailer.Get("Root").IsNull()) {
      trailer_.dictionary.emplace_back("Root", section_trailer.Get("Root"));
    }
    const PdfObject& previous = section_trailer.Get("Prev");
    next = previous.IsInteger() ? previous.integer : -1;
  }
  return !trailer_.Get("Root").IsNull();
}

bool PdfDocument::ReadXrefSectionAt(uint64_t offset, XrefSection& section,
                                    PdfObject& trailer) {
  if (offset >= source_.end()) return false;
  // Offsets count from the header; a file with bytes before its header may
  // also count them from the start of the file.
  for (uint64_t position : {header_ + offset, offset}) {
    if (position >= source_.end() || !loads_left_) continue;
    uint64_t limit = position + std::min(parsed_bytes_left_, source_.end());
    uint64_t end = position;
    bool ok = ReadXrefSection(source_, position, limit, section, trailer, end);
    Spend(loads_left_, 1);
    Spend(parsed_bytes_left_, end - position);
    if (ok) return true;
    section.clear();
    trailer = PdfObject();
    if (header_ == 0) break;
  }
  return false;
}

void PdfDocument::RebuildXref() {
  rebuilt_ = true;
  xref_.Clear();
  object_streams_.clear();
  cached_bytes_ = 0;
  trailer_ = PdfObject();
  ScanForObjects(source_, header_, xref_, trailer_);
  RegisterCompressedObjects();
}

// After a scan: objects in object streams join the table, and a file whose
// trailer is lost gets one from a cross-reference stream or the catalogue.
void PdfDocument::RegisterCompressedObjects() {
  uint64_t xref_stream_offset = 0;
  uint64_t catalog_offset = 0;
  PdfObject xref_stream_trailer;
  uint32_t catalog = 0;
  uint32_t end_number = xref_.end_number();
  for (uint32_t number = 1; number < end_number; ++number) {
    XrefEntry entry = xref_.Find(number);
    if (entry.type != XrefEntry::Type::kInFile) continue;
    if (!Spend(loads_left_, 1)) break;
    IndirectObject object;
    if (!ParseInFile(number, entry.location, object)) continue;
    const PdfObject& type = object.value.Get("Type");
    if (type.IsName("ObjStm")) {
      std::shared_ptr<const ObjectStream> stream = GetObjectStream(number);
      if (!stream) continue;
      for (size_t index = 0; index < stream->members.size(); ++index) {
        XrefEntry member;
        member.type = XrefEntry::Type::kCompressed;
        member.location = number;
        member.index = static_cast<uint32_t>(index);
        xref_.AddIfAbsent(stream->members[index].first, member);
      }
    } else if (type.IsName("XRef") && !object.value.Get("Root").IsNull() &&
               entry.location >= xref_stream_offset) {
      xref_stream_offset = entry.location;
      xref_stream_trailer = object.value;
    } else if (type.IsName("Catalog") && entry.location >= catalog_offset) {
      catalog_offset = entry.location;
      catalog = number;
    }
  }
  if (!trailer_.Get("Root").IsNull()) return;
  if (!xref_stream_trailer.IsNull()) {
    trailer_ = xref_stream_trailer;
  } else if (catalog) {
    PdfObject root;
    root.kind = PdfObject::Kind::kReference;
    root.integer = catalog;
    trailer_.kind = PdfObject::Kind::kDictionary;
    trailer_.dictionary.emplace_back("Root", root);
  }
}

bool PdfDocument::OpenSecurity() {
  const PdfObject& reference = trailer_.Get("Encrypt");
  if (reference.IsNull()) return true;
  encrypted_ = true;
  PdfObject encrypt = Resolve(reference);
  const PdfObject& ids = trailer_.Get("ID");
  std::string first_id;
  if (ids.IsArray() && !ids.array.empty() && ids.array[0].kind == PdfObject::Kind::kString) {
    first_id = ids.array[0].name;
  }
  return encrypt.IsDictionary() && security_.Open(encrypt, first_id);
}

PdfObject PdfDocument::Load(uint32_t number) {
  const XrefEntry& entry = xref_.Find(number);
  if (nesting_ >= kMaxNesting || !Spend(loads_left_, 1)) return PdfObject();
  if (entry.type == XrefEntry::Type::kInFile) {
    IndirectObject object;
    if (ParseInFile(number, entry.location, object)) return object.value;
  } else if (entry.type == XrefEntry::Type::kCompressed) {
    return LoadCompressed(number, entry);
  }
  return PdfObject();
}

PdfObject PdfDocument::Resolve(const PdfObject& object) {
  PdfObject value = object;
  for (int step = 0; value.IsReference() && step < kMaxReferenceChain; ++step) {
    value = Load(static_cast<uint32_t>(value.integer));
  }
  return value.IsReference() ? PdfObject() : value;
}

bool PdfDocument::ParseInFile(uint32_t number, uint64_t offset,
                              IndirectObject& out) {
  if (offset >= source_.end()) return false;
  if (ParseAt(header_ + offset, number, out)) return true;
  return header_ != 0 && ParseAt(offset, number, out);
}

bool PdfDocument::ParseAt(uint64_t position, uint32_t number,
                          IndirectObject& out) {
  if (position >= source_.end() || !parsed_bytes_left_) return false;
  uint64_t limit = position + std::min(kMaxObjectSize, parsed_bytes_left_);
  PdfParser parser(source_, position, limit);
  out = IndirectObject();
  bool ok = parser.ParseIndirectObject(out);
  Spend(parsed_bytes_left_, parser.lexer().position() - position);
  // A header with another number means the offset is wrong.
  return ok && out.number == number;
}

PdfObject PdfDocument::LoadCompressed(uint32_t number, const XrefEntry& entry) {
  std::shared_ptr<const ObjectStream> stream =
      GetObjectStream(static_cast<uint32_t>(entry.location));
  if (!stream) return PdfObject();
  const auto& members = stream->members;
  size_t index = entry.index;
  if (index >= members.size() || members[index].first != number) {
    index = members.size();
    for (size_t i = 0; i < members.size(); ++i) {
      if (members[i].first == number) {
        index = i;
        break;
      }
    }
    if (index == members.size()) return PdfObject();
  }
  ByteSource data(stream->data);
  uint64_t position = stream->first + members[index].second;
  PdfParser parser(data, position, data.end());
  PdfObject value;
  bool ok = parser.ParseObject(value);
  Spend(parsed_bytes_left_, parser.lexer().position() - position);
  return ok ? value : PdfObject();
}

std::shared_ptr<const PdfDocument::ObjectStream> PdfDocument::GetObjectStream(
    uint32_t number) {
  auto cached = object_streams_.find(number);
  if (cached != object_streams_.end()) return cached->second;
  // Object streams lie in the file itself, never inside one another.
  const XrefEntry& entry = xref_.Find(number);
  if (entry.type != XrefEntry::Type::kInFile || nesting_ >= kMaxNesting) {
    return nullptr;
  }
  ++nesting_;
  auto stream = std::make_shared<ObjectStream>();
  IndirectObject object;
  bool ok = ParseInFile(number, entry.location, object) &&
            ReadObjectStream(object, *stream);
  --nesting_;
  if (!ok) return nullptr;
  size_t size = stream->data->size();
  if (object_streams_.size() >= kMaxCachedStreams ||
      cached_bytes_ + size > kMaxCachedBytes) {
    object_streams_.clear();
    cached_bytes_ = 0;
  }
  object_streams_[number] = stream;
  cached_bytes_ += size;
  return stream;
}

bool PdfDocument::ReadObjectStream(const IndirectObject& object,
                                   ObjectStream& out) {
  if (!object.has_stream) return false;
  const PdfObject& dictionary = object.value;
  PdfObject length = Resolve(dictionary.Get("Length"));
  uint64_t data_length =
      FindStreamLength(source_, object.stream_start,
                       length.IsInteger() ? length.integer : -1);
  auto data = std::make_shared<std::string>();
  if (data_length > kMaxRawStreamSize) return false;
  std::string raw;
  source_.CopyTo(object.stream_start, data_length, raw);
  if (encrypted_) raw = security_.DecryptStream(object.number, object.generation, raw);
  if (!DecodeStreamData(dictionary, std::move(raw), *data) ||
      !Spend(decoded_bytes_left_, data->size())) {
    return false;
  }
  const PdfObject& count = dictionary.Get("N");
  const PdfObject& first = dictionary.Get("First");
  // Each member needs at least "n o " in the number pairs.
  if (!count.IsInteger() || count.integer < 0 ||
      static_cast<uint64_t>(count.integer) > data->size() / 4 ||
      !first.IsInteger() || first.integer < 0 ||
      static_cast<uint64_t>(first.integer) > data->size()) {
    return false;
  }
  out.first = static_cast<uint64_t>(first.integer);
  out.data = data;
  ByteSource pairs(out.data);
  PdfLexer lexer(pairs, 0, out.first);
  for (int64_t i = 0; i < count.integer; ++i) {
    PdfToken number = lexer.Next();
    PdfToken offset = lexer.Next();
    if (number.type != PdfToken::Type::kInteger || number.integer < 0 ||
        number.integer > XrefTable::kMaxObjectNumber ||
        offset.type != PdfToken::Type::kInteger || offset.integer < 0) {
      break;
    }
    out.members.emplace_back(static_cast<uint32_t>(number.integer),
                             static_cast<uint64_t>(offset.integer));
  }
  return true;
}

}  // namespace pagecnt
