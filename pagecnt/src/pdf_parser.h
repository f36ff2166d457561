// Builds PDF objects from tokens, within bounds on nesting and size.
#pragma once

#include <cstdint>

#include "pdf_lexer.h"
#include "pdf_object.h"

namespace pagecnt {

// "n g obj <value> [stream]" as found in the file or in an object stream.
struct IndirectObject {
  uint32_t number = 0;
  uint32_t generation = 0;
  PdfObject value;
  bool has_stream = false;
  uint64_t stream_start = 0;  // first byte of the stream data
};

class PdfParser {
 public:
  PdfParser(ByteSource& source, uint64_t position, uint64_t limit);

  // Parses one object at the current position. False when the bytes are no
  // object, or one nested or sized beyond any real document.
  bool ParseObject(PdfObject& out);

  // Parses an indirect object with its header.
  bool ParseIndirectObject(IndirectObject& out);

  PdfLexer& lexer() { return lexer_; }

 private:
  bool ParseValue(const PdfToken& token, PdfObject& out, int depth);
  bool ParseArray(PdfObject& out, int depth);
  bool ParseDictionary(PdfObject& out, int depth);
  void ParseIntegerOrReference(int64_t value, PdfObject& out);

  PdfLexer lexer_;
  size_t elements_ = 0;
};

}  // namespace pagecnt
