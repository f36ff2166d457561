// pagecount.exe FILE...: counts print files as pagecnt.dll does and shows,
// per file, the language, the pages, the copies the file asks for and the
// paper size of its first page.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "file_view.h"
#include "format_dispatch.h"
#include "page_count.h"

namespace {

// Exit codes: every file counted; some file with no page to count; some
// file that could not be opened, or a wrong command line.
constexpr int kCounted = 0;
constexpr int kNotCounted = 1;
constexpr int kNotOpened = 2;

const char kUsage[] =
    "Usage: pagecount FILE...\n"
    "Counts the pages of print files (PDF, PostScript, PCL 5, PCL XL, XPS,\n"
    "plain text; also several jobs in one file, with or without PJL) as\n"
    "pagecnt.dll counts them for the service, and prints per file:\n"
    "  the language, the pages, the copies that the file itself asks for\n"
    "  (\"-\" when it asks for none; the pages are not multiplied by them),\n"
    "  and the paper size code (DMPAPER_*) of the first page, 0 when the\n"
    "  file does not say.\n"
    "Exit status: 0 when every file was counted, 1 when some file has no\n"
    "page that could be counted, 2 when some file could not be opened.\n";

const char* PaperName(uint16_t code) {
  switch (code) {
    case DMPAPER_LETTER: return "Letter";
    case DMPAPER_TABLOID: return "Tabloid";
    case DMPAPER_LEGAL: return "Legal";
    case DMPAPER_STATEMENT: return "Statement";
    case DMPAPER_EXECUTIVE: return "Executive";
    case DMPAPER_A3: return "A3";
    case DMPAPER_A4: return "A4";
    case DMPAPER_A5: return "A5";
    case DMPAPER_B4: return "B4 (JIS)";
    case DMPAPER_B5: return "B5 (JIS)";
    case DMPAPER_FOLIO: return "Folio";
    case DMPAPER_QUARTO: return "Quarto";
    case DMPAPER_ENV_10: return "Envelope #10";
    case DMPAPER_ENV_DL: return "Envelope DL";
    case DMPAPER_ENV_C5: return "Envelope C5";
    case DMPAPER_ENV_B5: return "Envelope B5";
    case DMPAPER_ENV_MONARCH: return "Envelope Monarch";
    case DMPAPER_JAPANESE_POSTCARD: return "Japanese postcard";
    case DMPAPER_A2: return "A2";
    case DMPAPER_A6: return "A6";
    case 0: return "not stated";
    default: return "other";
  }
}

std::string SystemMessage(DWORD error) {
  char text[512] = {};
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == '.')) {
    text[--length] = 0;
  }
  if (length == 0) return "error " + std::to_string(error);
  return text;
}

int CountOne(const char* name) {
  pagecnt::FileView file;
  if (!file.Open(name)) {
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesA(name);
    std::string why = attributes != INVALID_FILE_ATTRIBUTES &&
                              (attributes & FILE_ATTRIBUTE_DIRECTORY)
                          ? "it is a directory"
                      : error == 0 ? "it is not a disk file"
                                   : SystemMessage(error);
    std::fprintf(stderr, "pagecount: cannot open %s: %s\n", name, why.c_str());
    return kNotOpened;
  }
  pagecnt::PageCount count;
  bool counted = pagecnt::CountPrintFile(file, count);
  std::string format = pagecnt::FormatName(count.format);
  if (count.jobs > 1) {
    format += " (" + std::to_string(count.jobs) + " jobs" +
              (count.mixed ? ", several languages)" : ")");
  }
  std::string copies = count.copies ? std::to_string(count.copies) : "-";
  std::printf("%s: format %s; pages %u; copies %s; paper %u (%s)\n", name,
              counted ? format.c_str() : "not recognised", count.pages,
              copies.c_str(), count.paper_size, PaperName(count.paper_size));
  return counted ? kCounted : kNotCounted;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kNotOpened;
  }
  int status = kCounted;
  bool files_only = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!files_only && std::strcmp(argument, "--") == 0) {
      files_only = true;
      continue;
    }
    if (!files_only && (std::strcmp(argument, "--help") == 0 ||
                        std::strcmp(argument, "-h") == 0 ||
                        std::strcmp(argument, "/?") == 0)) {
      std::fputs(kUsage, stdout);
      return kCounted;
    }
    if (!files_only && argument[0] == '-' && argument[1] != 0) {
      std::fprintf(stderr, "pagecount: unknown option %s\n%s", argument, kUsage);
      return kNotOpened;
    }
    int result = CountOne(argument);
    if (result > status) status = result;
  }
  return status;
}
