#include "pjl.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "paper_sizes.h"

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

// The words of a PJL command line, upper case, with "=" a word of its own:
// "@PJL SET PAPER = A4" and "@pjl set paper=a4" read alike.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  auto end_word = [&] {
    if (!word.empty()) words.push_back(Upper(word));
    word.clear();
  };
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r') {
      end_word();
    } else if (c == '=') {
      end_word();
      words.emplace_back("=");
    } else {
      word.push_back(c);
    }
  }
  end_word();
  return words;
}

// The value of "VERB KEY = value" (words[1] to words[4]), or empty.
std::string Setting(const std::vector<std::string>& words, const char* verb,
                    const char* key) {
  if (words.size() < 5 || words[1] != verb || words[2] != key || words[3] != "=") return "";
  return words[4];
}

// A whole number of at most `digits` digits, or 0.
uint32_t Number(const std::string& text, size_t digits) {
  if (text.empty() || text.size() > digits) return 0;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

// What one command line says; true when it is ENTER LANGUAGE.
struct PaperSettings {
  uint32_t length = 0;  // decipoints
  uint32_t width = 0;
};

bool ReadCommand(const std::string& line, PrintData& data, PaperSettings& custom) {
  const std::vector<std::string> words = Words(line);
  if (words.size() >= 5 && words[1] == "ENTER" && words[2] == "LANGUAGE" && words[3] == "=") {
    data.language = words[4];
    return true;
  }
  std::string value = Setting(words, "SET", "COPIES");
  if (value.empty()) value = Setting(words, "SET", "QTY");
  if (uint32_t copies = Number(value, 4)) data.copies = copies;
  value = Setting(words, "SET", "PAPER");
  if (!value.empty()) data.paper = PaperSizeFromPjlName(value.c_str());
  if (uint32_t length = Number(Setting(words, "SET", "PAPERLENGTH"), 6)) custom.length = length;
  if (uint32_t width = Number(Setting(words, "SET", "PAPERWIDTH"), 6)) custom.width = width;
  return false;
}

// "@PJL" in any case at `position`, or behind "%%".
bool IsPjlCommand(ByteSource& source, uint64_t position) {
  if (source.At(position) == '%' && source.At(position + 1) == '%') position += 2;
  static const char kPrefix[] = "@PJL";
  for (int i = 0; i < 4; ++i) {
    int c = source.At(position + i);
    if (c < 0 || std::toupper(c) != kPrefix[i]) return false;
  }
  // "@PJL" alone, or followed by a blank and a command.
  int after = source.At(position + 4);
  return after < 0 || IsBlank(after);
}

}  // namespace

bool IsUniversalExit(ByteSource& source, uint64_t position) {
  return source.At(position) == 0x1B && source.Matches(position + 1, "%-12345X");
}

PrintData SkipJobHeader(ByteSource& source, uint64_t position) {
  PrintData data;
  PaperSettings custom;
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
      if (ReadCommand(line, data, custom)) break;
    } else {
      break;
    }
  }
  // Some drivers send a ^D between the header and the data.
  while (source.At(position) == 0x04) ++position;
  data.start = position;
  if (data.paper == 0 && custom.length > 0 && custom.width > 0) {
    data.paper = PaperSizeFromPoints(custom.width / 10.0, custom.length / 10.0);
  }
  return data;
}

uint64_t FindUniversalExit(ByteSource& source, uint64_t position) {
  // A block at a time, from ESC to ESC.
  const uint8_t* data = nullptr;
  size_t length = 0;
  while (position < source.end() && source.Window(position, data, length)) {
    const void* escape = std::memchr(data, 0x1B, length);
    if (!escape) {
      position += length;
      continue;
    }
    position += static_cast<uint64_t>(static_cast<const uint8_t*>(escape) - data);
    if (IsUniversalExit(source, position)) return position;
    ++position;
  }
  return source.end();
}

}  // namespace pagecnt
