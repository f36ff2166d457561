// The values of a PDF file: the direct objects and references to others.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pagecnt {

struct PdfObject {
  enum class Kind : uint8_t {
    kNull,
    kBoolean,
    kInteger,
    kReal,
    kString,  // its first bytes are kept in `name`: the security handler's keys
    kName,
    kArray,
    kDictionary,
    kReference,
  };

  Kind kind = Kind::kNull;
  int64_t integer = 0;      // integer, boolean, or object number of a reference
  double real = 0;          // real
  std::string name;         // name, without the slash; a string's bytes
  std::vector<PdfObject> array;
  std::vector<std::pair<std::string, PdfObject>> dictionary;

  bool IsNull() const { return kind == Kind::kNull; }
  bool IsDictionary() const { return kind == Kind::kDictionary; }
  bool IsArray() const { return kind == Kind::kArray; }
  bool IsReference() const { return kind == Kind::kReference; }
  bool IsInteger() const { return kind == Kind::kInteger; }
  bool IsNumber() const {
    return kind == Kind::kInteger || kind == Kind::kReal;
  }
  bool IsName(std::string_view value) const {
    return kind == Kind::kName && name == value;
  }
  double Number() const {
    return kind == Kind::kReal ? real : static_cast<double>(integer);
  }

  // The value of `key` in a dictionary; null when absent or not a dictionary.
  const PdfObject& Get(std::string_view key) const;
};

}  // namespace pagecnt
