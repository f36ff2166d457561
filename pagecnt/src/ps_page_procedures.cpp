#include "ps_page_procedures.h"

namespace pagecnt {

namespace {

size_t FilterIndex(std::string_view word) {
  return (word.size() % 64) * 256 + static_cast<uint8_t>(word[0]);
}

}  // namespace

PageProcedures::PageProcedures() { Add("showpage"); }

bool PageProcedures::EndsPage(std::string_view word) const {
  return !word.empty() && filter_[FilterIndex(word)] && names_.count(std::string(word)) > 0;
}

void PageProcedures::Add(const std::string& name) {
  if (name.empty() || names_.size() >= kMaxProcedures) return;
  names_.insert(name);
  filter_.set(FilterIndex(name));
}

void PageProcedures::OnWord(std::string_view word, bool literal) {
  if (depth_ > 0) {
    if (defining_ && !literal && EndsPage(word)) defined_ends_page_ = true;
    return;
  }
  if (literal) {
    literal_before_.swap(last_literal_);
    last_literal_.assign(word);
    ++literals_in_row_;
    return;
  }
  if (word == "load" && literals_in_row_ >= 2 && EndsPage(last_literal_)) {
    Add(literal_before_);
  } else if (EndsPage(word)) {
    ++uses_;
  }
  literals_in_row_ = 0;
}

void PageProcedures::OnOpenBrace() {
  if (depth_++ == 0 && literals_in_row_ > 0) {
    defining_ = true;
    defined_ends_page_ = false;
    defined_name_ = last_literal_;
  }
  literals_in_row_ = 0;
}

void PageProcedures::OnCloseBrace() {
  if (depth_ == 0) return;  // unbalanced: the program's error, not ours
  if (--depth_ == 0 && defining_) {
    if (defined_ends_page_) Add(defined_name_);
    defining_ = false;
  }
  literals_in_row_ = 0;
}

}  // namespace pagecnt
