#include "pdf_object.h"

namespace pagecnt {

const PdfObject& PdfObject::Get(std::string_view key) const {
  static const PdfObject kNull;
  if (kind != Kind::kDictionary) return kNull;
  for (const auto& entry : dictionary) {
    if (entry.first == key) return entry.second;
  }
  return kNull;
}

}  // namespace pagecnt
