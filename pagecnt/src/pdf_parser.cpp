#include "pdf_parser.h"

#include <cstdint>
#include <limits>

namespace pagecnt {

namespace {

// Far beyond any real page tree node or trailer; bounds stack and memory.
constexpr int kMaxDepth = 64;
constexpr size_t kMaxElements = 1 << 18;
constexpr int64_t kMaxObjectNumber = std::numeric_limits<int32_t>::max();

}  // namespace

PdfParser::PdfParser(ByteSource& source, uint64_t position, uint64_t limit)
    : lexer_(source, position, limit) {}

bool PdfParser::ParseObject(PdfObject& out) {
  return ParseValue(lexer_.Next(), out, 0);
}

bool PdfParser::ParseIndirectObject(IndirectObject& out) {
  PdfToken number = lexer_.Next();
  PdfToken generation = lexer_.Next();
  PdfToken keyword = lexer_.Next();
  if (number.type != PdfToken::Type::kInteger || number.integer < 0 ||
      number.integer > kMaxObjectNumber ||
      generation.type != PdfToken::Type::kInteger || generation.integer < 0 ||
      generation.integer > kMaxObjectNumber || !keyword.IsKeyword("obj")) {
    return false;
  }
  out.number = static_cast<uint32_t>(number.integer);
  out.generation = static_cast<uint32_t>(generation.integer);
  if (!ParseObject(out.value)) return false;
  uint64_t after_value = lexer_.position();
  PdfToken next = lexer_.Next();
  if (next.IsKeyword("stream") && out.value.IsDictionary()) {
    // The data starts after the end of line that follows the keyword.
    ByteSource& source = lexer_.source();
    uint64_t position = lexer_.position();
    if (source.At(position) == '\r') ++position;
    if (source.At(position) == '\n') ++position;
    out.has_stream = true;
    out.stream_start = position;
  } else {
    lexer_.Seek(after_value);
  }
  return true;
}

bool PdfParser::ParseValue(const PdfToken& token, PdfObject& out, int depth) {
  if (depth > kMaxDepth || ++elements_ > kMaxElements) return false;
  switch (token.type) {
    case PdfToken::Type::kInteger:
      ParseIntegerOrReference(token.integer, out);
      return true;
    case PdfToken::Type::kReal:
      out.kind = PdfObject::Kind::kReal;
      out.real = token.real;
      return true;
    case PdfToken::Type::kName:
      out.kind = PdfObject::Kind::kName;
      out.name = token.text;
      return true;
    case PdfToken::Type::kString:
      out.kind = PdfObject::Kind::kString;
      out.name = token.text;
      return true;
    case PdfToken::Type::kArrayBegin:
      return ParseArray(out, depth);
    case PdfToken::Type::kDictionaryBegin:
      return ParseDictionary(out, depth);
    case PdfToken::Type::kKeyword:
      if (token.text == "null") {
        out.kind = PdfObject::Kind::kNull;
        return true;
      }
      if (token.text == "true" || token.text == "false") {
        out.kind = PdfObject::Kind::kBoolean;
        out.integer = token.text == "true";
        return true;
      }
      return false;  // endobj, stream or garbage where a value belongs
    default:
      return false;
  }
}

void PdfParser::ParseIntegerOrReference(int64_t value, PdfObject& out) {
  out.kind = PdfObject::Kind::kInteger;
  out.integer = value;
  if (value < 0 || value > kMaxObjectNumber) return;
  uint64_t after_first = lexer_.position();
  PdfToken generation = lexer_.Next();
  if (generation.type == PdfToken::Type::kInteger && generation.integer >= 0) {
    if (lexer_.Next().IsKeyword("R")) {
      out.kind = PdfObject::Kind::kReference;
      return;
    }
  }
  lexer_.Seek(after_first);
}

bool PdfParser::ParseArray(PdfObject& out, int depth) {
  out.kind = PdfObject::Kind::kArray;
  for (;;) {
    PdfToken token = lexer_.Next();
    if (token.type == PdfToken::Type::kArrayEnd) return true;
    PdfObject item;
    if (!ParseValue(token, item, depth + 1)) return false;
    out.array.push_back(std::move(item));
  }
}

bool PdfParser::ParseDictionary(PdfObject& out, int depth) {
  out.kind = PdfObject::Kind::kDictionary;
  for (;;) {
    PdfToken key = lexer_.Next();
    if (key.type == PdfToken::Type::kDictionaryEnd) return true;
    if (key.type != PdfToken::Type::kName) return false;
    PdfToken token = lexer_.Next();
    PdfObject value;
    if (token.type == PdfToken::Type::kDictionaryEnd) {
      // A key without a value at the end: keep what came before it.
      out.dictionary.emplace_back(key.text, std::move(value));
      return true;
    }
    if (!ParseValue(token, value, depth + 1)) return false;
    out.dictionary.emplace_back(key.text, std::move(value));
  }
}

}  // namespace pagecnt
