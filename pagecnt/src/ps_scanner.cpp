#include "ps_scanner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ascii85_run.h"
#include "hex_lines_run.h"
#include "pjl.h"
#include "ps_data_start.h"
#include "ps_page_procedures.h"
#include "program_text_run.h"

namespace pagecnt {

namespace {

// Comments that matter are short; longer lines are cut, never grown.
constexpr size_t kMaxLineLength = 256;
constexpr size_t kMaxWordLength = 64;

bool IsWhitespace(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' ||
         c == 0;
}

bool ParseNumber(const std::string& word, double& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  value = std::strtod(word.c_str(), &end);
  return end && *end == 0;
}

// Reads whitespace-separated numbers from `text`; returns how many.
int ReadNumbers(const char* text, double* values, int wanted) {
  int found = 0;
  while (found < wanted) {
    while (*text == ' ' || *text == '\t') ++text;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text) break;
    values[found++] = value;
    text = end;
  }
  return found;
}

// Bytes that are part of a word: not white space, not a delimiter, not a
// line end, and neither ESC nor ^D, which may end the job.
struct ByteTable {
  bool value[256] = {};
  constexpr bool operator[](uint8_t c) const { return value[c]; }
};

constexpr ByteTable OrdinaryBytes() {
  ByteTable table;
  for (int c = 0; c < 256; ++c) table.value[c] = true;
  for (char c : std::string_view(" \t\r\n\f()<>[]{}/%")) {
    table.value[static_cast<uint8_t>(c)] = false;
  }
  table.value[0] = table.value[0x1B] = table.value[0x04] = false;
  return table;
}

// Line ends, the bytes that may end the job, and `extra`.
constexpr ByteTable StopBytes(std::string_view extra) {
  ByteTable table;
  table.value[uint8_t{'\r'}] = table.value[uint8_t{'\n'}] = true;
  table.value[0x1B] = table.value[0x04] = true;
  for (char c : extra) table.value[static_cast<uint8_t>(c)] = true;
  return table;
}

constexpr ByteTable kOrdinary = OrdinaryBytes();
// What ends a run in a comment or a string, in a hex or base-85 string.
constexpr ByteTable kCommentStop = StopBytes("");
constexpr ByteTable kHexStop = StopBytes(">");

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// The high bit of each byte of `word` that is below `limit` (at most 128),
// or that is `value`. Bytes count from the lowest, which comes first in
// memory on the little-endian machines Windows runs on; the lowest flag is
// exact, flags above it may be false.
uint64_t BytesBelow(uint64_t word, uint8_t limit) {
  return (word - kOnes * limit) & ~word & kHighBits;
}
uint64_t BytesEqual(uint64_t word, uint8_t value) {
  return BytesBelow(word ^ (kOnes * value), 1);
}

// The length of the run of bytes from `data` that `stop` does not hold.
size_t RunUntil(const ByteTable& stop, const uint8_t* data, size_t length) {
  size_t n = 0;
  // One test for four bytes, without a branch for each.
  while (n + 4 <= length && !(int{stop[data[n]]} | int{stop[data[n + 1]]} |
                              int{stop[data[n + 2]]} | int{stop[data[n + 3]]})) {
    n += 4;
  }
  while (n < length && !stop[data[n]]) ++n;
  return n;
}

class Scanner {
 public:
  explicit Scanner(PostScriptFacts& facts) : facts_(facts) {}

  void Scan(ByteSource& source, uint64_t start) {
    uint64_t position = start;
    const uint8_t* data = nullptr;
    size_t length = 0;
    while (!finished_ && source.Window(position, data, length)) {
      position = ScanWindow(source, position, data, length);
    }
    if (!finished_) Finish(position);
  }

 private:
  enum class Mode { kCode, kComment, kString, kHexString, kBase85 };
  enum class PageSizeStep { kIdle, kOpen, kWidth, kHeight, kClose };
  enum class DataStart { kNone, kNextLine, kHere };
  enum class StretchStep { kMoved, kCommentLine, kResume };

  // Scans the bytes of one window, which start at `position`, and returns
  // where the scan goes on: after the window, or further back where what
  // was taken for data turned out to be program text.
  uint64_t ScanWindow(ByteSource& source, uint64_t position, const uint8_t* data,
                      size_t length) {
    // Runs of bytes that change nothing but the current word or skip
    // through a string, a comment or data are passed in tight loops,
    // every other byte one at a time.
    size_t i = 0;
    while (i < length) {
      if (skip_line_feed_) {
        skip_line_feed_ = false;
        if (data[i] == '\n') {
          ++i;
          continue;
        }
      }
      if (data_bytes_ > 0 || data_lines_ > 0) {
        i += SkipData(data + i, length - i);
        continue;
      }
      if (data_start_ == DataStart::kHere) BeginStretch(position + i);
      if (light_pending_ && !in_line_) EnterPageText();
      if (page_text_ && !in_line_) {
        const size_t run = ProgramTextRun(data + i, length - i, line_start_);
        if (run > 0) {
          line_start_ = data[i + run - 1] == '\n' || data[i + run - 1] == '\r';
          i += run;
          continue;
        }
        if (data[i] == '/') {
          const uint8_t next = i + 1 < length ? data[i + 1] : 'P';
          const bool may_be_value = next == 'P' || next == '#' || next == 'N';
          if (!may_be_value || !IsValueName(source, position + i) ||
              InStringOrComment(data, i)) {
            line_start_ = false;
            ++i;
            continue;
          }
          // Read as program text again from the '/' on, up to its value.
          page_text_ = false;
          light_pending_ = true;
        }
        // A comment line, ESC or ^D: as in program text.
      }
      if (stretch_.active && !in_line_) {
        uint64_t resume = 0;
        StretchStep step = ContinueStretch(data, length, position, i, resume);
        if (step == StretchStep::kResume) return resume;
        if (step == StretchStep::kMoved) continue;
      }
      // Whole lines of hexadecimal digits and blanks (image data that the
      // program reads with readhexstring, rows of numbers) say nothing in
      // program text with no word, string, /PageSize or copy count under
      // way: no word the scan looks for is made of such bytes. They are
      // passed at memory speed.
      if (line_start_) {
        const size_t lines = HexLines(data + i, length - i);
        if (lines > 0) {
          i += lines;
          continue;
        }
      }
      size_t run = Run(data + i, length - i);
      if (run > 0) {
        i += run;
        continue;
      }
      int c = data[i];
      if (c == 0x1B || c == 0x04) {
        bool job_end = c == 0x1B ? IsUniversalExit(source, position + i)
                                 : source.Matches(position + i + 1, "%!");
        if (job_end) {
          Finish(position + i);
          return position + i;
        }
      }
      OnByte(c);
      ++i;
    }
    return position + length;
  }

  // Once page comments count the pages, the program text between comment
  // lines is no longer read word by word (see ps_scanner.h).
  void EnterPageText() {
    if (mode_ != Mode::kCode || after_less_than_ || !word_.empty() || literal_ ||
        copies_next_ || page_size_step_ != PageSizeStep::kIdle) {
      return;
    }
    light_pending_ = false;
    page_text_ = true;
    EndStretch();
  }

  // Whether data[at] lies in a string or a comment of its line, as far as
  // the line shows it from its start (or from the window's: the lines of
  // producers' text are short). Strings do not span lines in what they write.
  static bool InStringOrComment(const uint8_t* data, size_t at) {
    size_t start = at;
    while (start > 0 && data[start - 1] != '\n' && data[start - 1] != '\r') --start;
    int depth = 0;
    for (size_t n = start; n < at; ++n) {
      const uint8_t c = data[n];
      if (depth > 0 && c == '\\') {
        ++n;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && depth > 0) {
        --depth;
      } else if (c == '%' && depth == 0) {
        return true;
      }
    }
    return depth > 0;
  }

  // At a '/' in page text: a name whose value the scan takes.
  static bool IsValueName(ByteSource& source, uint64_t position) {
    return source.Matches(position, "/PageSize") || source.Matches(position, "/#copies") ||
           source.Matches(position, "/NumCopies");
  }

  // Out of line: it is asked once a line, and kept out of the loop that
  // passes the bytes between.
  [[gnu::noinline]] size_t HexLines(const uint8_t* data, size_t length) const {
    const bool quiet = mode_ == Mode::kCode && !in_line_ && !after_less_than_ && word_.empty() &&
                       !literal_ && !copies_next_ && page_size_step_ == PageSizeStep::kIdle &&
                       data_start_ == DataStart::kNone && !stretch_.active;
    return quiet ? HexLinesRun(data, length) : 0;
  }

  // A stretch of ASCII85 data that the program reads from its file, passed
  // over while it is one (see ps_scanner.h).
  struct Stretch {
    bool active = false;
    uint64_t start = 0;
    bool start_line_start = false;  // line_start_ where it began
    uint64_t line = 0;              // the start of its current line
    bool tilde = false;             // the last window ended in '~'
  };

  void BeginStretch(uint64_t position) {
    data_start_ = DataStart::kNone;
    // The operator that reads the data is program text, not a string or a
    // comment. Bytes read again after a stretch that failed are not taken
    // for data again, so that each byte is read at most twice.
    if (mode_ != Mode::kCode || after_less_than_ || in_line_ || !word_.empty() ||
        position < no_stretch_before_) {
      return;
    }
    stretch_ = Stretch{true, position, line_start_, position, false};
  }

  // Passes over data from data[i]; moves `i`, or sets `resume` to where
  // the scan must read the program from when the bytes are no data.
  StretchStep ContinueStretch(const uint8_t* data, size_t length, uint64_t position,
                              size_t& i, uint64_t& resume) {
    if (line_start_) stretch_.line = position + i;
    if (stretch_.tilde) {
      stretch_.tilde = false;
      if (data[i] != '>') return FailStretch(position + i - 1, resume);
      EndStretch();
      ++i;
      return StretchStep::kMoved;
    }
    size_t n = Ascii85DataRun(data + i, length - i, line_start_);
    // Only comment lines that begin "%%" say anything; the data has a
    // line that begins with one '%' every few kilobytes.
    while (i + n + 1 < length && data[i + n] == '%' && data[i + n + 1] != '%') {
      n += 1 + Ascii85DataRun(data + i + n + 1, length - i - n - 1, false);
    }
    if (n > 0) {
      for (size_t k = n; k > 0; --k) {
        if (data[i + k - 1] == '\n' || data[i + k - 1] == '\r') {
          stretch_.line = position + i + k;
          break;
        }
      }
      line_start_ = data[i + n - 1] == '\n' || data[i + n - 1] == '\r';
      i += n;
    }
    if (i == length) return StretchStep::kMoved;
    // A comment line is read as anywhere else, then the data goes on.
    if (data[i] == '%' && line_start_) return StretchStep::kCommentLine;
    if (data[i] == '~') {
      line_start_ = false;
      if (i + 1 == length) {
        stretch_.tilde = true;
        ++i;
        return StretchStep::kMoved;
      }
      if (data[i + 1] == '>') {
        EndStretch();
        i += 2;
        return StretchStep::kMoved;
      }
    }
    return FailStretch(position + i, resume);
  }

  // The byte at `stop` is no data: the line that holds it is read again as
  // program text, and so is all of the stretch when that is its first
  // line. The program text around data does not look like it (see
  // ps_scanner.h), so whole lines of data come before.
  StretchStep FailStretch(uint64_t stop, uint64_t& resume) {
    resume = std::max(stretch_.start, stretch_.line);
    line_start_ = resume == stretch_.start ? stretch_.start_line_start : true;
    no_stretch_before_ = stop + 1;
    stretch_.active = false;
    return StretchStep::kResume;
  }

  void EndStretch() {
    stretch_.active = false;
    data_start_ = DataStart::kNone;
  }

  // Passes over data that a %%BeginData or %%BeginBinary comment announced;
  // returns how many bytes of `data` it took.
  size_t SkipData(const uint8_t* data, size_t length) {
    size_t n = 0;
    if (data_bytes_ > 0) {
      n = static_cast<size_t>(std::min<uint64_t>(data_bytes_, length));
      data_bytes_ -= n;
    } else {
      while (n < length && data_lines_ > 0) {
        if (data[n++] == '\n') --data_lines_;
      }
    }
    line_start_ = data[n - 1] == '\n' || data[n - 1] == '\r';
    return n;
  }

  void Finish(uint64_t position) {
    if (in_line_) OnCommentLine();
    EndWord();
    facts_.procedure_pages = procedures_.top_level_uses();
    facts_.end = position;
    finished_ = true;
  }

  // How many bytes from `data` on the scan may pass without looking at
  // each: none at a line start or in a comment line, which are collected,
  // and none that end a word, a string or a comment, start a line or may
  // start the next job.
  size_t Run(const uint8_t* data, size_t length) {
    if (in_line_ && (mode_ == Mode::kComment || stretch_.active)) {
      // The rest of a comment line, which is nothing to the program.
      size_t n = RunUntil(kCommentStop, data, length);
      size_t room = kMaxLineLength - std::min(line_.size(), kMaxLineLength);
      line_.append(reinterpret_cast<const char*>(data), std::min(n, room));
      return n;
    }
    if (line_start_ || in_line_ || after_less_than_) return 0;
    size_t n = 0;
    switch (mode_) {
      case Mode::kCode: {
        while (n < length && kOrdinary[data[n]]) ++n;
        size_t room = kMaxWordLength - std::min(word_.size(), kMaxWordLength);
        word_.append(reinterpret_cast<const char*>(data), std::min(n, room));
        return n;
      }
      case Mode::kComment:
        return RunUntil(kCommentStop, data, length);
      case Mode::kString: {
        // Nesting and escapes are followed here too: strings are most of
        // what image data read as program text looks like. The state is
        // kept in locals, which the bytes cannot alias.
        bool escaped = escaped_;
        int depth = string_depth_;
        while (n < length) {
          if (!escaped && n + 8 <= length) {
            // Eight bytes at once, up to the first that is a control
            // byte, a parenthesis or a backslash.
            uint64_t word;
            std::memcpy(&word, data + n, 8);
            uint64_t special = BytesBelow(word, 0x20) | BytesEqual(word, '(') |
                               BytesEqual(word, ')') | BytesEqual(word, '\\');
            if (special == 0) {
              n += 8;
              continue;
            }
            n += static_cast<size_t>(__builtin_ctzll(special) / 8);
          }
          uint8_t c = data[n];
          if (kCommentStop[c]) {
            // A line end inside a string matters only when the next line
            // may be a comment line.
            bool line_end = c == '\n' || c == '\r';
            if (!line_end || n + 1 >= length || data[n + 1] == '%') break;
            escaped = false;
          } else if (escaped) {
            escaped = false;
          } else if (c == '\\') {
            escaped = true;
          } else if (c == '(') {
            ++depth;
          } else if (c == ')' && --depth == 0) {
            mode_ = Mode::kCode;
            ++n;
            break;
          }
          ++n;
        }
        escaped_ = escaped;
        string_depth_ = depth;
        return n;
      }
      case Mode::kHexString:
      case Mode::kBase85:
        n = RunUntil(kHexStop, data, length);
        if (n > 0) previous_ = data[n - 1];
        return n;
    }
    return 0;
  }

  void OnByte(int c) {
    // Structuring comments are whole lines beginning "%%", whatever the
    // program around them does.
    if (line_start_ && c == '%') {
      in_line_ = true;
      line_.clear();
    }
    bool line_end = c == '\n' || c == '\r';
    if (in_line_) {
      if (line_end) {
        in_line_ = false;
        OnCommentLine();
        // The data starts after the line end, which may be CR LF.
        skip_line_feed_ = c == '\r' && (data_bytes_ > 0 || data_lines_ > 0);
      } else if (line_.size() < kMaxLineLength) {
        line_.push_back(static_cast<char>(c));
      }
    }
    line_start_ = line_end;
    // A comment line in data is no program text.
    if (stretch_.active) return;
    OnProgramByte(c);
    if (line_end && data_start_ == DataStart::kNextLine) {
      data_start_ = mode_ == Mode::kCode ? DataStart::kHere : DataStart::kNone;
    }
  }

  bool LineIs(const char* keyword) const {
    return line_.compare(0, std::strlen(keyword), keyword) == 0;
  }
  const char* LineValue(const char* keyword) const {
    return line_.c_str() + std::strlen(keyword);
  }

  void OnCommentLine() {
    // Data does not run on into the next page or the trailer.
    if (stretch_.active &&
        (LineIs("%%Page:") || LineIs("%%Trailer") || LineIs("%%EOF"))) {
      EndStretch();
    }
    if (LineIs("%%BeginBinary:") || LineIs("%%BeginData:")) {
      OnBeginData();
    } else if (LineIs("%%BeginDocument")) {
      ++nested_documents_;
    } else if (LineIs("%%EndDocument")) {
      if (nested_documents_ > 0) --nested_documents_;
    } else if (nested_documents_ > 0) {
      return;
    } else if (LineIs("%%Pages:")) {
      double value = 0;
      bool numeric = ReadNumbers(LineValue("%%Pages:"), &value, 1) == 1 &&
                     value >= 0 && value < 4294967296.0;
      if (!seen_pages_) facts_.first_pages = numeric ? static_cast<int64_t>(value) : -1;
      if (numeric) facts_.last_pages = static_cast<int64_t>(value);
      seen_pages_ = true;
    } else if (LineIs("%%Page:")) {
      ++facts_.page_comments;
      if (!page_text_) light_pending_ = true;
    } else if (LineIs("%%PageBoundingBox:")) {
      double box[4];
      if (!facts_.first_page_bounding_box.known &&
          ReadNumbers(LineValue("%%PageBoundingBox:"), box, 4) == 4) {
        facts_.first_page_bounding_box = Size{true, box[2] - box[0], box[3] - box[1]};
      }
    } else if (LineIs("%%BoundingBox:")) {
      double box[4];
      Size size;
      if (ReadNumbers(LineValue("%%BoundingBox:"), box, 4) == 4) {
        size = Size{true, box[2] - box[0], box[3] - box[1]};
        facts_.last_bounding_box = size;
      }
      if (!seen_bounding_box_) facts_.first_bounding_box = size;
      seen_bounding_box_ = true;
    } else if (LineIs("%%DocumentMedia:") && !facts_.document_media.known) {
      OnDocumentMedia(LineValue("%%DocumentMedia:"));
    } else if (LineIs("%%Requirements:")) {
      size_t at = line_.find("numcopies(");
      double value = 0;
      if (at != std::string::npos &&
          ReadNumbers(line_.c_str() + at + 10, &value, 1) == 1) {
        OnCopies(value);
      }
    }
  }

  void OnCopies(double value) {
    // Beyond this no driver asks; a larger number is damage.
    constexpr double kMaxCopies = 9999;
    if (facts_.copies == 0 && nested_documents_ == 0 && value >= 1 &&
        value <= kMaxCopies) {
      facts_.copies = static_cast<uint32_t>(value);
    }
  }

  // "%%BeginBinary: bytes" and "%%BeginData: count [type [Bytes|Lines]]"
  // announce data that the program reads itself, and that is no program
  // text: it may hold any byte, the Universal Exit's too.
  void OnBeginData() {
    bool binary = LineIs("%%BeginBinary:");
    const char* text = binary ? LineValue("%%BeginBinary:") : LineValue("%%BeginData:");
    double count = 0;
    if (ReadNumbers(text, &count, 1) != 1 || count < 1 || count > 1e18) return;
    if (!binary && line_.find("Lines") != std::string::npos) {
      data_lines_ = static_cast<uint64_t>(count);
    } else {
      data_bytes_ = static_cast<uint64_t>(count);
    }
  }

  // "%%DocumentMedia: name width height weight colour type"; the name may
  // be a parenthesised text with spaces.
  void OnDocumentMedia(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    if (*text == '(') {
      const char* close = std::strchr(text, ')');
      if (!close) return;
      text = close + 1;
    } else {
      while (*text && *text != ' ' && *text != '\t') ++text;
    }
    double size[2];
    if (ReadNumbers(text, size, 2) == 2) {
      facts_.document_media = Size{true, size[0], size[1]};
    }
  }

  void OnProgramByte(int c) {
    switch (mode_) {
      case Mode::kComment:
        if (c == '\n' || c == '\r') mode_ = Mode::kCode;
        return;
      case Mode::kString:
        if (escaped_) {
          escaped_ = false;
        } else if (c == '\\') {
          escaped_ = true;
        } else if (c == '(') {
          ++string_depth_;
        } else if (c == ')' && --string_depth_ == 0) {
          mode_ = Mode::kCode;
        }
        return;
      case Mode::kHexString:
        if (c == '>') mode_ = Mode::kCode;
        return;
      case Mode::kBase85:
        if (c == '>' && previous_ == '~') mode_ = Mode::kCode;
        previous_ = c;
        return;
      case Mode::kCode:
        break;
    }
    if (after_less_than_) {
      after_less_than_ = false;
      if (c == '<') return;  // "<<" opens a dictionary
      if (c == '~') {
        mode_ = Mode::kBase85;
        previous_ = 0;
        return;
      }
      mode_ = Mode::kHexString;
      OnProgramByte(c);
      return;
    }
    switch (c) {
      case '%':
        EndWord();
        mode_ = Mode::kComment;
        return;
      case '(':
        EndWord();
        procedures_.OnOtherToken();
        mode_ = Mode::kString;
        string_depth_ = 1;
        return;
      case '<':
        EndWord();
        procedures_.OnOtherToken();
        after_less_than_ = true;
        return;
      case '/':
        EndWord();
        literal_ = true;
        return;
      case '[': case ']': case '{': case '}': case '>': case ')':
        EndWord();
        OnDelimiter(c);
        return;
      default:
        break;
    }
    if (IsWhitespace(c)) {
      EndWord();
    } else if (word_.size() < kMaxWordLength) {
      word_.push_back(static_cast<char>(c));
    }
  }

  void EndWord() {
    if (!word_.empty()) OnWord();
    word_.clear();
    literal_ = false;
  }

  template <size_t N>
  bool WordIs(const char (&text)[N]) const {
    return word_.size() == N - 1 && std::memcmp(word_.data(), text, N - 1) == 0;
  }

  void OnWord() {
    switch (data_watch_.OnWord(word_, literal_)) {
      case DataStartWatch::Start::kAfterWord:
        data_start_ = DataStart::kHere;
        break;
      case DataStartWatch::Start::kNextLine:
        data_start_ = DataStart::kNextLine;
        break;
      case DataStartWatch::Start::kNone:
        break;
    }
    if (nested_documents_ == 0) procedures_.OnWord(word_, literal_);
    if (page_size_step_ == PageSizeStep::kIdle && !copies_next_) {
      // Most words: only a name can start what we look for, and no number
      // needs converting.
      if (!literal_) {
        if (WordIs("showpage")) ++facts_.showpages;
        return;
      }
      copies_next_ = WordIs("#copies") || WordIs("NumCopies");
      if (WordIs("PageSize")) page_size_step_ = PageSizeStep::kOpen;
      return;
    }
    if (!literal_ && WordIs("showpage")) ++facts_.showpages;
    double value = 0;
    bool number = !literal_ && ParseNumber(word_, value);
    if (copies_next_ && number) OnCopies(value);
    copies_next_ = literal_ && (word_ == "#copies" || word_ == "NumCopies");
    switch (page_size_step_) {
      case PageSizeStep::kWidth:
        if (number) {
          width_ = value;
          page_size_step_ = PageSizeStep::kHeight;
          return;
        }
        break;
      case PageSizeStep::kHeight:
        if (number) {
          height_ = value;
          page_size_step_ = PageSizeStep::kClose;
          return;
        }
        break;
      default:
        break;
    }
    page_size_step_ = literal_ && word_ == "PageSize" ? PageSizeStep::kOpen
                                                      : PageSizeStep::kIdle;
  }

  void OnDelimiter(int c) {
    if (c == '{') {
      procedures_.OnOpenBrace();
    } else if (c == '}') {
      procedures_.OnCloseBrace();
    } else {
      procedures_.OnOtherToken();
    }
    if (c == '[' && page_size_step_ == PageSizeStep::kOpen) {
      page_size_step_ = PageSizeStep::kWidth;
      return;
    }
    if (c == ']' && page_size_step_ == PageSizeStep::kClose &&
        !facts_.page_size.known) {
      facts_.page_size = Size{true, width_, height_};
    }
    page_size_step_ = PageSizeStep::kIdle;
  }

  PostScriptFacts& facts_;
  bool finished_ = false;
  bool line_start_ = true;
  bool in_line_ = false;
  uint64_t data_bytes_ = 0;  // announced data still to pass over
  uint64_t data_lines_ = 0;
  bool skip_line_feed_ = false;
  std::string line_;
  int nested_documents_ = 0;
  bool seen_pages_ = false;
  bool seen_bounding_box_ = false;

  Mode mode_ = Mode::kCode;
  int string_depth_ = 0;
  bool escaped_ = false;
  bool after_less_than_ = false;
  int previous_ = 0;
  std::string word_;
  bool literal_ = false;
  bool copies_next_ = false;  // the word before was /#copies or /NumCopies
  PageSizeStep page_size_step_ = PageSizeStep::kIdle;
  double width_ = 0;
  double height_ = 0;

  DataStartWatch data_watch_;
  PageProcedures procedures_;
  // Page comments count the pages: the program text between comment lines
  // is passed at memory speed (page_text_), once the words under way are
  // done (light_pending_).
  bool page_text_ = false;
  bool light_pending_ = false;
  DataStart data_start_ = DataStart::kNone;
  Stretch stretch_;
  uint64_t no_stretch_before_ = 0;
};

}  // namespace

PostScriptFacts ScanPostScript(ByteSource& source, uint64_t start) {
  PostScriptFacts facts;
  Scanner(facts).Scan(source, start);
  return facts;
}

}  // namespace pagecnt
