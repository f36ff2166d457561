#include "ps_data_start.h"

namespace pagecnt {

DataStartWatch::Start DataStartWatch::OnWord(std::string_view word, bool literal) {
  bool after_name = after_name_;
  after_name_ = false;
  if (name_words_left_ > 0) --name_words_left_;
  if (current_file_words_left_ > 0) --current_file_words_left_;
  if (literal) {
    if (word == "ASCII85Decode" || word == "A85") {
      name_words_left_ = kNameReach;
      after_name_ = word == "ASCII85Decode";
    }
    return Start::kNone;
  }
  if (word == "currentfile") {
    current_file_words_left_ = kCurrentFileReach;
  } else if (word == "filter") {
    if (after_name && current_file_words_left_ > 0) {
      name_words_left_ = 0;
      return Start::kNextLine;
    }
  } else if (word == "ID" || word == "stream") {
    if (name_words_left_ > 0) {
      name_words_left_ = 0;
      return word == "ID" ? Start::kAfterWord : Start::kNextLine;
    }
  }
  return Start::kNone;
}

}  // namespace pagecnt
