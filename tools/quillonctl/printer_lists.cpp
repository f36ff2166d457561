#include "printer_lists.h"

#include <windows.h>

#include "printer_monitor/ini_file.h"
#include "service_core/exc.h"
#include "service_core/quillon_service.h"

namespace {

std::string ListPath(const std::string& dir, PrinterKind kind) {
  return dir + "\\" + PrinterListFile(kind);
}

PrinterKind Other(PrinterKind kind) {
  return kind == PrinterKind::Gdi ? PrinterKind::Ordinary : PrinterKind::Gdi;
}

[[noreturn]] void CannotWrite(const std::string& path) {
  throw std::runtime_error("cannot write " + path +
                           " (it needs administrator rights where the service is installed)");
}

// The list's editing runs in the service's directory: a removal rewrites
// the list through copy.bak in the current directory.
class CInDirectory {
 public:
  explicit CInDirectory(const std::string& dir) {
    char szOld[MAX_PATH] = {};
    const DWORD cch = GetCurrentDirectoryA(MAX_PATH, szOld);
    if (cch && cch < MAX_PATH) m_old = szOld;
    if (!SetCurrentDirectoryA(dir.c_str())) {
      throw std::runtime_error("the service's directory " + dir + " cannot be entered");
    }
  }
  ~CInDirectory() {
    if (!m_old.empty()) SetCurrentDirectoryA(m_old.c_str());
  }
  CInDirectory(const CInDirectory&) = delete;
  CInDirectory& operator=(const CInDirectory&) = delete;

 private:
  std::string m_old;
};

// Removes every entry of the name from the list at path; how many there were.
int RemoveAll(const std::string& path, const std::string& name) {
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
  int nRemoved = 0;
  try {
    CIniFile list(path.c_str(), "a+");
    while (list.DeleteLine(name.c_str())) ++nRemoved;
    // DeleteLine says 0 both when the entry is gone and when the list could
    // not be rewritten: an entry still found was not removed.
    CIniFile check(path.c_str(), "r");
    if (check.FindLine((name + "\n").c_str(), nullptr)) CannotWrite(path);
  } catch (const BadIniFile&) {
    CannotWrite(path);
  }
  return nRemoved;
}

}  // namespace

const char* PrinterListFile(PrinterKind kind) {
  return kind == PrinterKind::Gdi ? kGdiPrinterListFile : kPrinterListFile;
}

std::string PrinterNameProblem(const std::string& name) {
  if (name.empty()) return "a printer name cannot be empty";
  if (name.find_first_of("\r\n") != std::string::npos) {
    return "a printer name cannot hold a line break: the list files hold one name a line";
  }
  if (name.compare(0, 2, "//") == 0) {
    return "a printer name cannot start with //: the list files read such a line as a comment";
  }
  if (name.size() > static_cast<size_t>(kListLineBuffer - 2)) {
    return "a printer name takes at most " + std::to_string(kListLineBuffer - 2) +
           " bytes in the list files, this one " + std::to_string(name.size());
  }
  return "";
}

std::vector<std::string> SplitPrinterNames(const std::string& list) {
  std::vector<std::string> names;
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t end = list.find(';', begin);
    if (end == std::string::npos) end = list.size();
    const size_t first = list.find_first_not_of(" \t", begin);
    if (first != std::string::npos && first < end) {
      const size_t last = list.find_last_not_of(" \t", end - 1);
      names.push_back(list.substr(first, last - first + 1));
    }
    begin = end + 1;
  }
  return names;
}

std::vector<LISTED_PRINTER> ReadPrinterLists(const std::string& dir) {
  std::vector<LISTED_PRINTER> printers;
  for (PrinterKind kind : {PrinterKind::Ordinary, PrinterKind::Gdi}) {
    const std::string path = ListPath(dir, kind);
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    try {
      CIniFile list(path.c_str(), "r");
      char szEntry[kListLineBuffer];
      while (list.GetNextLine(szEntry, sizeof(szEntry))) printers.push_back({szEntry, kind});
    } catch (const BadIniFile&) {
      throw std::runtime_error("cannot read " + path);
    }
  }
  return printers;
}

ListChange ListPrinter(const std::string& dir, const std::string& name, PrinterKind kind) {
  CInDirectory in(dir);
  const std::string path = ListPath(dir, kind);
  int nAdded = 0;
  try {
    CIniFile list(path.c_str(), "a+");
    nAdded = list.AddLine(name.c_str(), true);
  } catch (const BadIniFile&) {
    CannotWrite(path);
  }
  if (nAdded == 0) CannotWrite(path);
  const bool bMoved = RemoveAll(ListPath(dir, Other(kind)), name) > 0;
  if (bMoved) return ListChange::Moved;
  return nAdded > 0 ? ListChange::Added : ListChange::AlreadyListed;
}

bool UnlistPrinter(const std::string& dir, const std::string& name) {
  CInDirectory in(dir);
  int nRemoved = 0;
  for (PrinterKind kind : {PrinterKind::Ordinary, PrinterKind::Gdi}) {
    nRemoved += RemoveAll(ListPath(dir, kind), name);
  }
  return nRemoved > 0;
}
