#include "pjl.h"

#include <cctype>

namespace pagecnt {

namespace {

// Job headers are a few hundred bytes; a file with more is not PJL.
constexpr uint64_t kMaxHeaderSize = 1 << 20;
constexpr size_t kMaxLineLength = 256;

bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads the line at `position` (without its end) and moves past it.
std::string ReadLine(ByteSource& source, uint64_t& position, uint64_t limit) {
  std::string line;
  for (int c = source.At(position); c >= 0 && position < limit;
       c = source.At(position)) {
    ++position;
    if (c == '\n') break;
    if (line.size() < kMaxLineLength) line.push_back(static_cast<char>(c));
  }
  return line;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The value of "@PJL ENTER LANGUAGE = value", or false for other commands.
bool ParseEnterLanguage(const std::string& line, std::string& language) {
  std::string text = Upper(line);
  size_t enter = text.find("ENTER");
  size_t key = text.find("LANGUAGE", enter == std::string::npos ? 0 : enter);
  if (enter == std::string::npos || key == std::string::npos) return false;
  size_t equals = text.find('=', key);
  if (equals == std::string::npos) return false;
  size_t begin = text.find_first_not_of(" \t", equals + 1);
  if (begin == std::string::npos) return false;
  size_t end = text.find_first_of(" \t\r", begin);
  language = text.substr(begin, end == std::string::npos ? end : end - begin);
  return true;
}

// The value of "@PJL SET COPIES = n" or "@PJL SET QTY = n", or false. A
// printer takes the last one before the data; so do we.
bool ParseCopies(const std::string& line, uint32_t& copies) {
  std::string text = Upper(line);
  size_t set = text.find("SET");
  if (set == std::string::npos) return false;
  size_t key = text.find("COPIES", set);
  if (key == std::string::npos) key = text.find("QTY", set);
  if (key == std::string::npos) return false;
  size_t equals = text.find('=', key);
  if (equals == std::string::npos) return false;
  size_t digits = text.find_first_not_of(" \t", equals + 1);
  uint32_t value = 0;
  size_t length = 0;
  for (; digits != std::string::npos && digits + length < text.size() &&
         std::isdigit(static_cast<unsigned char>(text[digits + length])) &&
         length < 6;
       ++length) {
    value = value * 10 + static_cast<uint32_t>(text[digits + length] - '0');
  }
  if (length == 0 || value == 0) return false;
  copies = value;
  return true;
}

bool IsPjlCommand(ByteSource& source, uint64_t position) {
  static const char kPrefix[] = "@PJL";
  for (int i = 0; i < 4; ++i) {
    int c = source.At(position + i);
    if (c < 0 || std::toupper(c) != kPrefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsUniversalExit(ByteSource& source, uint64_t position) {
  return source.At(position) == 0x1B && source.Matches(position + 1, "%-12345X");
}

PrintData SkipJobHeader(ByteSource& source, uint64_t position) {
  PrintData data;
  uint64_t limit = position + kMaxHeaderSize;
  while (position < limit) {
    int c = source.At(position);
    if (c == 0x04 || IsBlank(c)) {
      ++position;
    } else if (IsUniversalExit(source, position)) {
      position += 9;
      data.pjl = true;
    } else if (IsPjlCommand(source, position)) {
      data.pjl = true;
      std::string line = ReadLine(source, position, limit);
      if (ParseEnterLanguage(line, data.language)) break;
      ParseCopies(line, data.copies);
    } else {
      break;
    }
  }
  // Some drivers send a ^D between the header and the data.
  while (source.At(position) == 0x04) ++position;
  data.start = position;
  return data;
}

uint64_t FindUniversalExit(ByteSource& source, uint64_t position) {
  for (; position < source.end(); ++position) {
    int c = source.At(position);
    if (c < 0) break;
    if (c == 0x1B && IsUniversalExit(source, position)) return position;
  }
  return source.end();
}

}  // namespace pagecnt
