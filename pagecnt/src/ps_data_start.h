// Where a PostScript program starts to read ASCII85 data from its own file.
#pragma once

#include <string_view>

namespace pagecnt {

// Watches the words of a program for what makes the interpreter read the
// bytes that follow as ASCII85 data rather than as program text:
//
//   currentfile /ASCII85Decode filter ...   the data follows the line, once
//                                           an operator such as image reads
//                                           from the filter
//   BI ... /F [/A85 ...] ... ID             an inline image in a page
//                                           description that a procedure
//                                           set interprets, as Ghostscript's
//                                           ps2write writes; the data
//                                           follows the white space after ID
//   << ... /Filter /ASCII85Decode ... >> stream
//                                           a stream object read the same
//                                           way; the data follows the line
//
// What it says is a guess that the scanner checks byte by byte: it passes
// over the bytes only while they are such data.
class DataStartWatch {
 public:
  enum class Start {
    kNone,
    kAfterWord,  // at the byte after the white space that ended this word
    kNextLine,   // at the start of the next line
  };

  // Every word of the program text in order, literal names without their
  // slash.
  Start OnWord(std::string_view word, bool literal);

 private:
  // An /A85 or /ASCII85Decode name counts for the words of one inline
  // image or stream dictionary; these hold far fewer.
  static constexpr int kNameReach = 32;
  // "currentfile" starts the filter chain that ASCII85Decode is the first
  // of; a few operands of other filters may come between.
  static constexpr int kCurrentFileReach = 8;

  int name_words_left_ = 0;
  int current_file_words_left_ = 0;
  bool after_name_ = false;  // the word before was /ASCII85Decode
};

}  // namespace pagecnt
