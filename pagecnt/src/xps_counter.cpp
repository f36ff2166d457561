#include "xps_counter.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "paper_sizes.h"
#include "zip_archive.h"

namespace pagecnt {

namespace {

// Markup read from one part: a document of a hundred thousand pages has a
// few megabytes of PageContent elements.
constexpr uint64_t kMaxPartBytes = 256ull << 20;
// Of a tag, only this much is kept: names and the attributes we read.
constexpr size_t kMaxTagLength = 4096;
constexpr size_t kMaxDocuments = 4096;
constexpr double kPointsPerXpsUnit = 72.0 / 96.0;

const char kFixedRepresentation[] = "/fixedrepresentation";

// The start tags of XML markup, one at a time, from bytes given in chunks.
// Comments, processing instructions and declarations are passed over.
class TagScanner {
 public:
  using OnTag = bool (*)(void* context, const std::string& tag);
  TagScanner(OnTag on_tag, void* context) : on_tag_(on_tag), context_(context) {}

  bool Feed(const char* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      char c = data[i];
      switch (state_) {
        case State::kText:
          if (c == '<') {
            state_ = State::kTag;
            tag_.clear();
          }
          break;
        case State::kTag:
          if (c == '>' && quote_ == 0) {
            state_ = State::kText;
            if (!tag_.empty() && tag_[0] != '/' && tag_[0] != '?' && tag_[0] != '!' &&
                !on_tag_(context_, tag_)) {
              return false;
            }
          } else {
            if (c == '"' || c == '\'') quote_ = quote_ == c ? 0 : quote_ == 0 ? c : quote_;
            if (tag_.size() < kMaxTagLength) tag_.push_back(c);
            if (tag_.size() == 3 && tag_ == "!--") state_ = State::kComment;
          }
          break;
        case State::kComment:
          // "-->" ends it; the last two bytes are kept in tag_.
          if (c == '>' && tag_.size() >= 2 && tag_.compare(tag_.size() - 2, 2, "--") == 0) {
            state_ = State::kText;
          } else {
            tag_.push_back(c);
            if (tag_.size() > 2) tag_.erase(0, tag_.size() - 2);
          }
          break;
      }
    }
    return true;
  }

 private:
  enum class State { kText, kTag, kComment };
  OnTag on_tag_;
  void* context_;
  State state_ = State::kText;
  char quote_ = 0;
  std::string tag_;
};

// The local name of a tag's element: "PageContent" of "x:PageContent ...".
std::string ElementName(const std::string& tag) {
  size_t end = tag.find_first_of(" \t\r\n/");
  std::string name = tag.substr(0, end);
  size_t colon = name.find(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

// The value of attribute `name` in a tag, entities left as they are.
bool Attribute(const std::string& tag, const char* name, std::string& value) {
  std::string key = name;
  for (size_t at = tag.find(key); at != std::string::npos; at = tag.find(key, at + 1)) {
    char before = at > 0 ? tag[at - 1] : 0;
    if (before != ' ' && before != '\t' && before != '\r' && before != '\n') continue;
    size_t p = at + key.size();
    while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t')) ++p;
    if (p >= tag.size() || tag[p] != '=') continue;
    ++p;
    while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t')) ++p;
    if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) continue;
    size_t close = tag.find(tag[p], p + 1);
    if (close == std::string::npos) return false;
    value = tag.substr(p + 1, close - p - 1);
    return true;
  }
  return false;
}

struct Scan {
  std::vector<std::string> targets;  // references found
  uint64_t pages = 0;
  std::string first_page;            // Source of the first PageContent
  double width = 0;
  double height = 0;
};

bool ScanPart(ZipArchive& zip, const std::string& name, TagScanner::OnTag on_tag,
              Scan& scan) {
  TagScanner scanner(on_tag, &scan);
  return zip.ReadPart(name, kMaxPartBytes, [&](const char* data, size_t length) {
    return scanner.Feed(data, length);
  });
}

bool OnRelationship(void* context, const std::string& tag) {
  Scan& scan = *static_cast<Scan*>(context);
  std::string type, target;
  if (ElementName(tag) == "Relationship" && Attribute(tag, "Type", type) &&
      Attribute(tag, "Target", target) && type.size() > sizeof kFixedRepresentation &&
      type.compare(type.size() - (sizeof kFixedRepresentation - 1), std::string::npos,
                   kFixedRepresentation) == 0) {
    scan.targets.push_back(target);
    return false;  // a package has one
  }
  return true;
}

bool OnDocumentReference(void* context, const std::string& tag) {
  Scan& scan = *static_cast<Scan*>(context);
  std::string source;
  if (ElementName(tag) == "DocumentReference" && Attribute(tag, "Source", source)) {
    scan.targets.push_back(source);
  }
  return scan.targets.size() < kMaxDocuments;
}

bool OnPageContent(void* context, const std::string& tag) {
  Scan& scan = *static_cast<Scan*>(context);
  if (ElementName(tag) == "PageContent") {
    if (scan.pages++ == 0) Attribute(tag, "Source", scan.first_page);
  }
  return true;
}

bool OnFixedPage(void* context, const std::string& tag) {
  Scan& scan = *static_cast<Scan*>(context);
  std::string width, height;
  if (ElementName(tag) == "FixedPage" && Attribute(tag, "Width", width) &&
      Attribute(tag, "Height", height)) {
    scan.width = std::strtod(width.c_str(), nullptr);
    scan.height = std::strtod(height.c_str(), nullptr);
  }
  return false;  // the root element is the first
}

}  // namespace

bool IsXpsPackage(ByteSource& source, uint64_t position) {
  return source.Matches(position, "PK\x03\x04");
}

bool CountXpsPages(const FileView& file, uint64_t start, JobCount& result) {
  ZipArchive zip(file, start);
  if (!zip.Open()) return false;
  Scan package;
  ScanPart(zip, "_rels/.rels", OnRelationship, package);
  if (package.targets.empty()) return false;
  std::string sequence_name = ResolvePartName("", package.targets.front());
  Scan sequence;
  ScanPart(zip, sequence_name, OnDocumentReference, sequence);
  uint64_t pages = 0;
  std::string first_page;
  for (const std::string& reference : sequence.targets) {
    std::string document_name = ResolvePartName(sequence_name, reference);
    Scan document;
    ScanPart(zip, document_name, OnPageContent, document);
    if (pages == 0 && document.pages > 0 && !document.first_page.empty()) {
      first_page = ResolvePartName(document_name, document.first_page);
    }
    pages += document.pages;
  }
  if (!first_page.empty()) {
    Scan page;
    ScanPart(zip, first_page, OnFixedPage, page);
    result.paper_size = PaperSizeFromPoints(page.width * kPointsPerXpsUnit,
                                            page.height * kPointsPerXpsUnit);
  }
  result.pages = pages;
  return pages > 0;
}

}  // namespace pagecnt
