#include "pdf_lexer.h"

#include <algorithm>
#include <cstdlib>

namespace pagecnt {

namespace {

// Names and keywords that matter to counting are short; longer ones are
// read through but not kept.
constexpr size_t kMaxTextLength = 127;
// The security handler's strings are at most 127 bytes (ISO 32000-2 allows
// /O and /U of 48 and an /ID of any length, which we cut).
constexpr size_t kMaxStringLength = 256;

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool IsPdfWhitespace(int c) {
  return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}

bool IsPdfDelimiter(int c) {
  switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']':
    case '{': case '}': case '/': case '%':
      return true;
    default:
      return false;
  }
}

PdfLexer::PdfLexer(ByteSource& source, uint64_t position, uint64_t limit)
    : source_(source),
      position_(position),
      limit_(std::min(limit, source.end())) {}

void PdfLexer::SkipWhitespaceAndComments() {
  for (int c = Peek(); c >= 0; c = Peek()) {
    if (c == '%') {
      while (c >= 0 && c != '\r' && c != '\n') {
        ++position_;
        c = Peek();
      }
    } else if (IsPdfWhitespace(c)) {
      ++position_;
    } else {
      return;
    }
  }
}

PdfToken PdfLexer::Next() {
  SkipWhitespaceAndComments();
  PdfToken token;
  token.start = position_;
  int c = Peek();
  if (c < 0) return token;
  switch (c) {
    case '[':
      ++position_;
      token.type = PdfToken::Type::kArrayBegin;
      return token;
    case ']':
      ++position_;
      token.type = PdfToken::Type::kArrayEnd;
      return token;
    case '/':
      ReadName(token);
      return token;
    case '(':
      ReadLiteralString(token);
      token.type = PdfToken::Type::kString;
      return token;
    case '<':
      ++position_;
      if (Peek() == '<') {
        ++position_;
        token.type = PdfToken::Type::kDictionaryBegin;
      } else {
        ReadHexString(token);
        token.type = PdfToken::Type::kString;
      }
      return token;
    case '>':
      ++position_;
      if (Peek() == '>') {
        ++position_;
        token.type = PdfToken::Type::kDictionaryEnd;
        return token;
      }
      // A stray '>' is read as a word of its own.
      token.type = PdfToken::Type::kKeyword;
      token.text = ">";
      return token;
    default:
      break;
  }
  if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
    ReadNumber(token);
    return token;
  }
  token.type = PdfToken::Type::kKeyword;
  if (IsPdfDelimiter(c)) {  // ')', '{', '}' on their own
    ++position_;
    token.text.assign(1, static_cast<char>(c));
    return token;
  }
  while (c >= 0 && !IsPdfWhitespace(c) && !IsPdfDelimiter(c)) {
    if (token.text.size() < kMaxTextLength) token.text.push_back(static_cast<char>(c));
    ++position_;
    c = Peek();
  }
  return token;
}

void PdfLexer::ReadNumber(PdfToken& token) {
  std::string text;
  int c = Peek();
  while (c >= 0 && ((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-')) {
    if (text.size() < 64) text.push_back(static_cast<char>(c));
    ++position_;
    c = Peek();
  }
  bool is_integer = text.find('.') == std::string::npos;
  if (is_integer) {
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    // strtoll saturates on overflow; an absurd value stays absurd.
    if (end && *end == 0 && end != text.c_str()) {
      token.type = PdfToken::Type::kInteger;
      token.integer = value;
      return;
    }
  } else {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end && end != text.c_str()) {
      token.type = PdfToken::Type::kReal;
      token.real = value;
      return;
    }
  }
  // "+-", "..", "1-2": not a number; kept as a word so parsing can move on.
  token.type = PdfToken::Type::kKeyword;
  token.text = text;
}

void PdfLexer::ReadName(PdfToken& token) {
  token.type = PdfToken::Type::kName;
  ++position_;  // the slash
  for (int c = Peek(); c >= 0 && !IsPdfWhitespace(c) && !IsPdfDelimiter(c);
       c = Peek()) {
    ++position_;
    if (c == '#') {
      int high = HexValue(Peek());
      int low = high >= 0 && position_ + 1 < limit_ ? HexValue(source_.At(position_ + 1)) : -1;
      if (high >= 0 && low >= 0) {
        position_ += 2;
        c = high * 16 + low;
      }
    }
    if (token.text.size() < kMaxTextLength) token.text.push_back(static_cast<char>(c));
  }
}

void PdfLexer::ReadLiteralString(PdfToken& token) {
  ++position_;  // the opening parenthesis
  int depth = 1;
  auto keep = [&](int c) {
    if (token.text.size() < kMaxStringLength) token.text.push_back(static_cast<char>(c));
  };
  for (int c = Peek(); c >= 0; c = Peek()) {
    ++position_;
    if (c == '\\') {
      int next = Peek();
      if (next < 0) return;
      ++position_;
      switch (next) {
        case 'n': keep('\n'); break;
        case 'r': keep('\r'); break;
        case 't': keep('\t'); break;
        case 'b': keep('\b'); break;
        case 'f': keep('\f'); break;
        case '\r':  // a line end after a backslash is no byte of the string
          if (Peek() == '\n') ++position_;
          break;
        case '\n':
          break;
        default:
          if (next >= '0' && next <= '7') {
            int value = next - '0';
            for (int i = 0; i < 2 && Peek() >= '0' && Peek() <= '7'; ++i) {
              value = value * 8 + (Peek() - '0');
              ++position_;
            }
            keep(value & 0xFF);
          } else {
            keep(next);  // \( \) \\ and any other byte stand for themselves
          }
      }
    } else if (c == '(') {
      ++depth;
      keep(c);
    } else if (c == ')' && --depth == 0) {
      return;
    } else if (c == '\r') {  // an end of line in a string is a line feed
      if (Peek() == '\n') ++position_;
      keep('\n');
    } else {
      keep(c);
    }
  }
}

void PdfLexer::ReadHexString(PdfToken& token) {
  int high = -1;
  auto digit = [](int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (int c = Peek(); c >= 0; c = Peek()) {
    ++position_;
    if (c == '>') break;
    int value = digit(c);
    if (value < 0) continue;  // white space, or damage
    if (high < 0) {
      high = value;
    } else {
      if (token.text.size() < kMaxStringLength) token.text.push_back(static_cast<char>(high * 16 + value));
      high = -1;
    }
  }
  // An odd last digit is followed by a zero.
  if (high >= 0 && token.text.size() < kMaxStringLength) token.text.push_back(static_cast<char>(high * 16));
}

}  // namespace pagecnt
