// Writes PDF files for the tests, with correct cross-reference offsets.
#pragma once

#include <string>
#include <vector>

struct PdfObjectText {
  int number;
  std::string body;  // what goes between "n 0 obj" and "endobj"
};

struct PdfRevision {
  std::vector<PdfObjectText> objects;     // in the file body
  std::vector<PdfObjectText> compressed;  // in one object stream
  int object_stream = 0;                  // that stream's object number
  bool xref_stream = false;  // a cross-reference stream, else a table
  // With a table: the compressed objects are free in the table and listed
  // in a cross-reference stream that the trailer's /XRefStm names.
  bool hybrid = false;
  int root = 1;
};

// Appends `revision` with its cross-reference section to `pdf`. An empty
// `pdf` starts a file; otherwise the revision is an incremental update that
// points back to the section before it.
void AppendRevision(std::string& pdf, const PdfRevision& revision);

// Catalogue 1 and page tree root 2 with `pages` pages numbered from 3;
// `root_entries` go into the root, e.g. an inherited MediaBox.
std::vector<PdfObjectText> FlatPageTree(int pages,
                                        const std::string& root_entries);

// A file of one revision with a classic table.
std::string SimplePdf(int pages, const std::string& root_entries =
                                     "/MediaBox [0 0 612 792]");

std::string Deflate(const std::string& data);
