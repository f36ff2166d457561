#include "pdf_page_tree.h"

#include <cmath>
#include <unordered_set>
#include <vector>

namespace pagecnt {

namespace {

// Real trees are a few levels deep; this bounds the walk's stack.
constexpr size_t kMaxDepth = 256;
// Kids arrays may list the same nodes over and over; each listing costs a
// step even when the node was visited before.
constexpr uint64_t kMaxSteps = 1 << 22;

struct Frame {
  PdfObject kids;
  size_t next = 0;
  PdfObject media_box;  // inherited by the kids
};

}  // namespace

void WalkPageTree(PdfDocument& document, const PdfObject& root,
                  const PageVisitor& visit) {
  std::unordered_set<int64_t> visited;
  std::vector<Frame> stack;
  // Enters a node: a page goes to the visitor, an inner node on the stack.
  auto enter = [&](const PdfObject& reference, const PdfObject& inherited) {
    if (reference.IsReference() && !visited.insert(reference.integer).second) {
      return true;
    }
    PdfObject node = document.Resolve(reference);
    if (!node.IsDictionary()) return true;
    PdfObject media_box = node.Get("MediaBox").IsNull()
                              ? inherited
                              : document.Resolve(node.Get("MediaBox"));
    const PdfObject& type = node.Get("Type");
    if (type.IsName("Page") ||
        (type.IsNull() && node.Get("Kids").IsNull())) {
      return visit(node, media_box);
    }
    PdfObject kids = document.Resolve(node.Get("Kids"));
    if (kids.IsArray() && stack.size() < kMaxDepth) {
      stack.push_back(Frame{std::move(kids), 0, std::move(media_box)});
    }
    return true;
  };

  if (!enter(root, PdfObject())) return;
  for (uint64_t steps = 0; !stack.empty() && steps < kMaxSteps; ++steps) {
    Frame& top = stack.back();
    if (top.next >= top.kids.array.size()) {
      stack.pop_back();
      continue;
    }
    // Copies: entering may grow the stack and move `top`.
    PdfObject kid = top.kids.array[top.next++];
    PdfObject inherited = top.media_box;
    if (!enter(kid, inherited)) return;
  }
}

bool MediaBoxSize(PdfDocument& document, const PdfObject& media_box,
                  double& width, double& height) {
  if (!media_box.IsArray() || media_box.array.size() != 4) return false;
  double corner[4];
  for (int i = 0; i < 4; ++i) {
    PdfObject value = document.Resolve(media_box.array[i]);
    if (!value.IsNumber()) return false;
    corner[i] = value.Number();
  }
  width = std::fabs(corner[2] - corner[0]);
  height = std::fabs(corner[3] - corner[1]);
  return true;
}

}  // namespace pagecnt
