#include "pcl5_counter.h"

#include <algorithm>
#include <map>

#include "byte_source.h"
#include "paper_sizes.h"
#include "pjl.h"

namespace pagecnt {

namespace {

constexpr int kEscape = 0x1B;
constexpr int kFormFeed = 0x0C;
// Digits of a value beyond these add nothing a real command needs; they are
// read but no longer change the value, which cannot overflow.
constexpr int kMaxValueDigits = 12;
// Macro ids run from 0 to 32767; a job that defines more than this many is
// not a real one, and later definitions are ignored.
constexpr size_t kMaxMacros = 4096;
constexpr uint32_t kMaxCopies = 9999;

// What a macro does when it runs, as seen while it was defined.
struct Macro {
  bool marks_before_eject = false;  // before its first eject, or at all
  uint64_t ejects = 0;
  bool marks_after_eject = false;  // after its last eject
};

// The numeric value of a parameter: sign, digits, and a fraction that is
// read and dropped.
struct Value {
  int64_t integer = 0;
  bool present = false;
};

class Pcl5Counter {
 public:
  Pcl5Counter(ByteSource& source, JobCount& result, Pcl5Context context)
      : source_(source), result_(result), plotter_(context == Pcl5Context::kPlotter) {}

  void Run(uint64_t start) {
    // A plotter's data may begin in HP-GL/2 itself.
    uint64_t position = plotter_ && source_.At(start) != kEscape ? HpGl2(start) : start;
    while (true) {
      int c = source_.At(position);
      if (c < 0) break;
      if (c == kEscape) {
        if (IsUniversalExit(source_, position)) break;
        position = Escape(position);
      } else if (c == kFormFeed) {
        Eject();
        ++position;
      } else {
        // Space and the control codes move the cursor; everything else is
        // a character that prints.
        if (c > 0x20 && c != 0x7F) Mark();
        ++position;
      }
    }
    position = std::min(position, source_.end());
    defining_ = false;
    Eject();
    result_.end = position;
    result_.pages = pages_;
  }

 private:
  void Mark() {
    if (defining_) {
      if (macro_.ejects == 0) {
        macro_.marks_before_eject = true;
      } else {
        macro_.marks_after_eject = true;
      }
    } else {
      marked_ = true;
    }
  }

  void Eject() {
    if (defining_) {
      ++macro_.ejects;
      macro_.marks_after_eject = false;
      return;
    }
    if (!marked_) return;
    marked_ = false;
    if (pages_++ == 0) {
      result_.paper_size = paper_;
      result_.copies = copies_;
    }
  }

  void RunMacro(const Macro& macro) {
    if (macro.marks_before_eject) marked_ = true;
    if (macro.ejects == 0) return;
    Eject();
    // The ejects after the first end pages that the macro itself filled.
    pages_ += macro.ejects - 1;
    marked_ = macro.marks_after_eject;
  }

  void Reset() {
    defining_ = false;  // a reset ends a macro definition
    Eject();
    paper_ = 0;
    copies_ = 0;
  }

  // The escape sequence at `position` (an ESC); returns where the next
  // byte after it and its data lies.
  uint64_t Escape(uint64_t position) {
    int c1 = source_.At(position + 1);
    if (c1 < 0) return position + 1;
    if (c1 >= 0x30 && c1 <= 0x7E) {  // two-character sequence
      if (c1 == 'E') Reset();
      return position + 2;
    }
    if (c1 < 0x21 || c1 > 0x2F) return position + 1;  // a stray ESC
    uint64_t p = position + 2;
    int group = source_.At(p);
    if (group >= 0x60 && group <= 0x7E) {
      ++p;
    } else {
      group = 0;  // ESC ( 8 U, ESC % 1 B: a value comes at once
    }
    // Combined sequences: lower-case parameters go on, upper case ends.
    while (true) {
      Value value;
      p = ReadValue(p, value);
      int parameter = source_.At(p);
      if (parameter < 0) return p;
      bool last = parameter >= 0x40 && parameter <= 0x5E;
      if (!last && !(parameter >= 0x60 && parameter <= 0x7E)) {
        return p;  // not a parameter: the sequence is cut short here
      }
      ++p;
      if (!last) parameter -= 0x20;
      uint64_t data = Command(c1, group, parameter, value);
      // The data may reach past the end; then the job ends there.
      p = data > source_.end() - p ? source_.end() : p + data;
      if (c1 == '%' && parameter == 'B') {
        if (value.integer < 0) plotter_ = true;  // stand-alone plotter mode
        return HpGl2(p);
      }
      if (last) return p;
    }
  }

  uint64_t ReadValue(uint64_t p, Value& value) {
    int c = source_.At(p);
    bool negative = false;
    if (c == '+' || c == '-') {
      negative = c == '-';
      c = source_.At(++p);
    }
    int digits = 0;
    for (; c >= '0' && c <= '9'; c = source_.At(++p)) {
      if (digits++ < kMaxValueDigits) value.integer = value.integer * 10 + (c - '0');
      value.present = true;
    }
    if (c == '.') {
      for (c = source_.At(++p); c >= '0' && c <= '9'; c = source_.At(++p)) {
        value.present = true;
      }
    }
    if (negative) value.integer = -value.integer;
    return p;
  }

  // Acts on one command; returns how many bytes of data follow it.
  uint64_t Command(int family, int group, int parameter, const Value& value) {
    const uint64_t length = value.integer > 0 ? static_cast<uint64_t>(value.integer) : 0;
    if (family == '&' && group == 'l') {
      switch (parameter) {
        case 'A':  // page size
          Eject();
          if (!defining_) paper_ = PaperSizeFromPcl5(value.integer);
          return 0;
        case 'O': case 'H': case 'S': case 'P':
          // orientation, paper source, duplex mode, page length
          Eject();
          return 0;
        case 'X':
          if (!defining_ && value.integer >= 1) {
            copies_ = static_cast<uint32_t>(std::min<int64_t>(value.integer, kMaxCopies));
          }
          return 0;
        default:
          return 0;
      }
    }
    if (family == '&' && group == 'a' && parameter == 'G') {  // duplex side
      Eject();
      return 0;
    }
    if (family == '&' && group == 'f') {
      if (parameter == 'Y') macro_id_ = value.integer;
      if (parameter == 'X') MacroControl(value.integer);
      return 0;
    }
    if (family == '&' && group == 'p' && parameter == 'X') {  // transparent data
      if (length > 0) Mark();
      return length;
    }
    if (family == '*' && group == 'b' && (parameter == 'W' || parameter == 'V')) {
      if (length > 0) Mark();  // a raster row, or one plane of it
      return length;
    }
    if (family == '*' && group == 'c' && parameter == 'P') {  // fill rectangle
      Mark();
      return 0;
    }
    // Every other "W" carries data: fonts, characters, patterns, symbol
    // sets, palettes, dither matrices, configurations, ids.
    return parameter == 'W' ? length : 0;
  }

  void MacroControl(int64_t operation) {
    switch (operation) {
      case 0:  // start definition
        if (!defining_) {
          defining_ = true;
          macro_ = Macro();
        }
        break;
      case 1:  // stop definition
        if (defining_) {
          defining_ = false;
          if (macros_.size() < kMaxMacros || macros_.count(macro_id_)) {
            macros_[macro_id_] = macro_;
          }
        }
        break;
      case 2: case 3: {  // execute, call
        if (defining_) break;  // stored, not run
        auto found = macros_.find(macro_id_);
        if (found != macros_.end()) RunMacro(found->second);
        break;
      }
      default:
        break;
    }
  }

  // HP-GL/2 from `position` to the next escape, which returns to PCL or
  // ends the job. Only whether it draws matters: a page it draws on is
  // ejected later by PCL.
  uint64_t HpGl2(uint64_t position) {
    int first = 0;
    bool pen_down = false;
    while (true) {
      int c = source_.At(position);
      if (c < 0 || c == kEscape) return position;
      ++position;
      int letter = c & ~0x20;
      if (letter < 'A' || letter > 'Z') {
        first = 0;
        continue;
      }
      if (!first) {
        first = letter;
        continue;
      }
      int mnemonic = first << 8 | letter;
      first = 0;
      switch (mnemonic) {
        case 'P' << 8 | 'U':
          pen_down = false;
          break;
        case 'P' << 8 | 'D':
          pen_down = true;
          Mark();
          break;
        case 'P' << 8 | 'A': case 'P' << 8 | 'R':
          if (pen_down) Mark();
          break;
        case 'P' << 8 | 'G':  // advance page, where a plotter reads it
          if (plotter_) Eject();
          break;
        case 'B' << 8 | 'P':  // begin plot: only plotters know it
          plotter_ = true;
          break;
        case 'P' << 8 | 'E':  // encoded polyline: its data holds letters
          Mark();
          position = SkipPast(position, ';');
          break;
        case 'L' << 8 | 'B':  // label text, ended by ETX
          Mark();
          position = SkipPast(position, 0x03);
          break;
        case 'D' << 8 | 'T': case 'S' << 8 | 'M':  // a character follows
          position = SkipPast(position, ';');
          break;
        case 'C' << 8 | 'O':  // a quoted comment
          position = SkipPast(SkipPast(position, '"'), '"');
          break;
        case 'R' << 8 | 'R': case 'R' << 8 | 'A': case 'E' << 8 | 'R':
        case 'E' << 8 | 'A': case 'E' << 8 | 'W': case 'W' << 8 | 'G':
        case 'C' << 8 | 'I': case 'A' << 8 | 'A': case 'A' << 8 | 'R':
        case 'A' << 8 | 'T': case 'B' << 8 | 'R': case 'B' << 8 | 'Z':
        case 'E' << 8 | 'P': case 'F' << 8 | 'P': case 'R' << 8 | 'T':
          Mark();
          break;
        default:
          break;
      }
    }
  }

  // The position after the next `stop`, or of the next escape.
  uint64_t SkipPast(uint64_t position, int stop) {
    while (true) {
      int c = source_.At(position);
      if (c < 0 || c == kEscape) return position;
      ++position;
      if (c == stop) return position;
    }
  }

  ByteSource& source_;
  JobCount& result_;
  uint64_t pages_ = 0;
  bool marked_ = false;
  uint16_t paper_ = 0;
  uint32_t copies_ = 0;
  bool defining_ = false;
  bool plotter_;  // HP-GL/2's PG ends a page
  int64_t macro_id_ = 0;
  Macro macro_;
  std::map<int64_t, Macro> macros_;
};

}  // namespace

bool CountPcl5Pages(const FileView& file, uint64_t start, JobCount& result,
                    Pcl5Context context) {
  ByteSource source(file, start, file.size(), ByteSource::kStreamingBlock);
  Pcl5Counter(source, result, context).Run(start);
  return result.pages > 0;
}

}  // namespace pagecnt
