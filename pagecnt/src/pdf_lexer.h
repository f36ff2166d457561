// Splits PDF bytes into tokens.
#pragma once

#include <cstdint>
#include <string>

#include "byte_source.h"

namespace pagecnt {

struct PdfToken {
  enum class Type {
    kEnd,  // the end of the bytes the lexer may read
    kInteger,
    kReal,
    kName,
    kString,
    kArrayBegin,
    kArrayEnd,
    kDictionaryBegin,
    kDictionaryEnd,
    kKeyword,  // obj, R, xref, true, stream, and any other bare word
  };
  Type type = Type::kEnd;
  int64_t integer = 0;
  double real = 0;
  // Names and keywords, and the bytes of strings (the security handler
  // reads its keys from them), cut at a bounded length.
  std::string text;
  uint64_t start = 0;

  bool IsKeyword(const char* word) const {
    return type == Type::kKeyword && text == word;
  }
};

// Reads tokens from `position` up to `limit`; never reads past `limit`.
class PdfLexer {
 public:
  PdfLexer(ByteSource& source, uint64_t position, uint64_t limit);

  PdfToken Next();
  uint64_t position() const { return position_; }
  void Seek(uint64_t position) { position_ = position; }
  ByteSource& source() { return source_; }

 private:
  int Peek() { return position_ < limit_ ? source_.At(position_) : -1; }
  void SkipWhitespaceAndComments();
  void ReadNumber(PdfToken& token);
  void ReadName(PdfToken& token);
  void ReadLiteralString(PdfToken& token);
  void ReadHexString(PdfToken& token);

  ByteSource& source_;
  uint64_t position_;
  uint64_t limit_;
};

bool IsPdfWhitespace(int c);
bool IsPdfDelimiter(int c);

}  // namespace pagecnt
