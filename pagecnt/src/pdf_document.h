// A PDF file opened for reading objects by number.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "byte_source.h"
#include "file_view.h"
#include "pdf_object.h"
#include "pdf_parser.h"
#include "pdf_security.h"
#include "pdf_xref.h"

namespace pagecnt {

// Finds objects through the cross-reference sections, or through a scan of
// the file when those are damaged, and reads them from the file or from
// object streams. All work on one file is bounded by a budget, so that no
// file, however built, holds the caller for long.
class PdfDocument {
 public:
  // `header` is the offset of "%PDF-"; offsets in the file count from there.
  // The document ends at `end`, where a PJL job may go on with other data.
  PdfDocument(const FileView& file, uint64_t header, uint64_t end);

  // Reads the cross-reference sections, newest first. False when they are
  // missing or unreadable, or name no catalogue.
  bool ReadXref();
  // Replaces the table with one rebuilt by scanning the file.
  void RebuildXref();
  // Reads the trailer's /Encrypt, when there is one, so that object streams
  // are decrypted (pdf_security.h). False when the document is encrypted
  // and cannot be opened with the empty password.
  bool OpenSecurity();
  bool rebuilt() const { return rebuilt_; }

  const XrefTable& xref() const { return xref_; }
  const PdfObject& trailer() const { return trailer_; }

  // Object `number`; null when it is missing or damaged, or the budget is
  // spent.
  PdfObject Load(uint32_t number);
  // `object`, or what it refers to when it is a reference.
  PdfObject Resolve(const PdfObject& object);

 private:
  struct ObjectStream {
    std::shared_ptr<const std::string> data;
    uint64_t first = 0;  // where the objects start, after the number pairs
    std::vector<std::pair<uint32_t, uint64_t>> members;  // number, offset
  };

  bool ReadXrefSectionAt(uint64_t offset, XrefSection& section,
                         PdfObject& trailer);
  bool ParseInFile(uint32_t number, uint64_t offset, IndirectObject& out);
  bool ParseAt(uint64_t position, uint32_t number, IndirectObject& out);
  PdfObject LoadCompressed(uint32_t number, const XrefEntry& entry);
  std::shared_ptr<const ObjectStream> GetObjectStream(uint32_t number);
  bool ReadObjectStream(const IndirectObject& object, ObjectStream& out);
  void RegisterCompressedObjects();
  bool Spend(uint64_t& budget, uint64_t amount);

  ByteSource source_;
  uint64_t header_;
  XrefTable xref_;
  PdfObject trailer_;
  bool rebuilt_ = false;
  bool encrypted_ = false;
  PdfSecurity security_;
  int nesting_ = 0;  // loads within loads: stream lengths, object streams

  std::map<uint32_t, std::shared_ptr<const ObjectStream>> object_streams_;
  size_t cached_bytes_ = 0;

  uint64_t loads_left_;
  uint64_t parsed_bytes_left_;
  uint64_t decoded_bytes_left_;
};

}  // namespace pagecnt
