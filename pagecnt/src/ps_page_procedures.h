// The procedures of a PostScript program that end a page, and how often
// the program's top level uses them.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

namespace pagecnt {

// Producers end their pages in procedures of their own: groff with
// "/EP { level0 restore showpage } def" and "EP" at the end of each page,
// enscript with "/S { gsave showpage grestore } bind def". Without page
// comments, the pages are the top-level uses of showpage and of such
// procedures.
//
// A procedure ends a page when it is defined at the top level as
// "/name { ... }" and its body uses showpage or a procedure already known
// to end a page, or as "/name /other load" of such a procedure. What a
// procedure does at run time (a loop, a condition) is not followed: a use
// inside braces, such as a loop body, is no top-level use.
//
// Budget: at most kMaxProcedures names of at most the scanner's word
// length are kept (some 100 KB); later ones are not. Each word costs a
// constant time: a filter on its length and first byte, then a hash look-up.
class PageProcedures {
 public:
  static constexpr size_t kMaxProcedures = 1024;

  PageProcedures();

  // Every word of the program text, outside comments and strings, in
  // order; literal names without their slash.
  void OnWord(std::string_view word, bool literal);
  void OnOpenBrace();
  void OnCloseBrace();
  // Any other token: a string, an array or dictionary bracket.
  void OnOtherToken() { literals_in_row_ = 0; }

  // Top-level uses of showpage and of the procedures that end a page.
  uint64_t top_level_uses() const { return uses_; }

 private:
  bool EndsPage(std::string_view word) const;
  void Add(const std::string& name);

  std::unordered_set<std::string> names_;
  std::bitset<64 * 256> filter_;  // (length % 64, first byte) of every name
  int depth_ = 0;                 // braces open
  uint64_t uses_ = 0;
  // The literal names just before, at the top level: "/name {" defines a
  // procedure, "/name /other load" takes another's.
  int literals_in_row_ = 0;
  std::string last_literal_;
  std::string literal_before_;
  // The procedure being defined, while its braces are open.
  bool defining_ = false;
  bool defined_ends_page_ = false;
  std::string defined_name_;
};

}  // namespace pagecnt
