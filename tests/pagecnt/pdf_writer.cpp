#include "pdf_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

struct Location {
  int type;  // 1 in the file, 2 in an object stream
  size_t field2;
  size_t field3;
};

std::string ObjectText(int number, const std::string& body) {
  return std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
}

long PreviousStartXref(const std::string& pdf) {
  size_t keyword = pdf.rfind("startxref");
  return keyword == std::string::npos ? -1
                                      : std::atol(pdf.c_str() + keyword + 9);
}

void AppendBigEndian(std::string& out, size_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

// Rows of W [1 4 2] behind PNG "Up" filters, as producers write them.
std::string XrefStreamData(const std::map<int, Location>& entries) {
  const size_t row = 7;
  std::string plain;
  for (const auto& entry : entries) {
    AppendBigEndian(plain, entry.second.type, 1);
    AppendBigEndian(plain, entry.second.field2, 4);
    AppendBigEndian(plain, entry.second.field3, 2);
  }
  std::string filtered;
  for (size_t at = 0; at < plain.size(); at += row) {
    filtered.push_back(2);
    for (size_t i = 0; i < row; ++i) {
      char up = at >= row ? plain[at - row + i] : 0;
      filtered.push_back(static_cast<char>(plain[at + i] - up));
    }
  }
  return filtered;
}

}  // namespace

std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
            reinterpret_cast<const Bytef*>(data.data()),
            static_cast<uLong>(data.size()), Z_BEST_COMPRESSION);
  out.resize(size);
  return out;
}

void AppendRevision(std::string& pdf, const PdfRevision& revision) {
  long previous = PreviousStartXref(pdf);
  if (pdf.empty()) pdf = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::map<int, Location> entries;
  for (const PdfObjectText& object : revision.objects) {
    entries[object.number] = {1, pdf.size(), 0};
    pdf += ObjectText(object.number, object.body);
  }
  if (!revision.compressed.empty()) {
    std::string header;
    std::string bodies;
    for (size_t i = 0; i < revision.compressed.size(); ++i) {
      const PdfObjectText& object = revision.compressed[i];
      header += std::to_string(object.number) + " " +
                std::to_string(bodies.size()) + " ";
      bodies += object.body + "\n";
      entries[object.number] = {2, static_cast<size_t>(revision.object_stream), i};
    }
    std::string data = Deflate(header + bodies);
    entries[revision.object_stream] = {1, pdf.size(), 0};
    pdf += std::to_string(revision.object_stream) +
           " 0 obj\n<< /Type /ObjStm /N " +
           std::to_string(revision.compressed.size()) + " /First " +
           std::to_string(header.size()) + " /Filter /FlateDecode /Length " +
           std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream\nendobj\n";
  }
  std::string prev =
      previous >= 0 ? " /Prev " + std::to_string(previous) : std::string();
  std::string root = " /Root " + std::to_string(revision.root) + " 0 R";
  // Appends a cross-reference stream object listing `listed` and itself.
  auto append_xref_stream = [&pdf](std::map<int, Location> listed,
                                   const std::string& entries_text) {
    int own = listed.empty() ? 1 : listed.rbegin()->first + 1;
    listed[own] = {1, pdf.size(), 0};
    std::string index;
    for (const auto& entry : listed) index += std::to_string(entry.first) + " 1 ";
    std::string data = Deflate(XrefStreamData(listed));
    pdf += std::to_string(own) + " 0 obj\n<< /Type /XRef /Size " +
           std::to_string(own + 1) + " /W [1 4 2] /Index [" + index + "]" +
           entries_text +
           " /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 7 >>"
           " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream\nendobj\n";
    return own;
  };
  size_t section = pdf.size();
  if (revision.xref_stream) {
    append_xref_stream(entries, root + prev);
  } else {
    std::string hidden;
    if (revision.hybrid) {
      std::map<int, Location> compressed;
      for (const auto& entry : entries) {
        if (entry.second.type == 2) compressed.insert(entry);
      }
      size_t offset = pdf.size();
      int own = append_xref_stream(compressed, "");
      entries[own] = {1, offset, 0};
      hidden = " /XRefStm " + std::to_string(offset);
      section = pdf.size();
    }
    pdf += "xref\n";
    if (previous < 0) pdf += "0 1\n0000000000 65535 f\r\n";
    char line[32];
    for (const auto& entry : entries) {
      // Readers that know no object streams see compressed objects as free.
      if (entry.second.type == 2) {
        std::snprintf(line, sizeof(line), "0000000000 00001 f\r\n");
      } else {
        std::snprintf(line, sizeof(line), "%010zu 00000 n\r\n", entry.second.field2);
      }
      pdf += std::to_string(entry.first) + " 1\n" + line;
    }
    int size = entries.empty() ? 1 : entries.rbegin()->first + 1;
    pdf += "trailer\n<< /Size " + std::to_string(size) + root + prev + hidden +
           " >>\n";
  }
  pdf += "startxref\n" + std::to_string(section) + "\n%%EOF\n";
}

std::vector<PdfObjectText> FlatPageTree(int pages,
                                        const std::string& root_entries) {
  std::vector<PdfObjectText> objects;
  objects.push_back({1, "<< /Type /Catalog /Pages 2 0 R >>"});
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
  objects.push_back({2, "<< /Type /Pages /Kids [" + kids + "] /Count " +
                            std::to_string(pages) + " " + root_entries + " >>"});
  for (int i = 0; i < pages; ++i) {
    objects.push_back({3 + i, "<< /Type /Page /Parent 2 0 R >>"});
  }
  return objects;
}

std::string SimplePdf(int pages, const std::string& root_entries) {
  std::string pdf;
  PdfRevision revision;
  revision.objects = FlatPageTree(pages, root_entries);
  AppendRevision(pdf, revision);
  return pdf;
}
