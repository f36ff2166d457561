// The two printer lists in the service's directory, edited by their own
// rules (printer_monitor/ini_file.h): the header line in a list that is
// created, one entry per printer, and a printer in one list only, so that
// the service watches it once and as one kind. Names are ANSI, as the
// files hold them.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

enum class PrinterKind { Ordinary, Gdi };

struct LISTED_PRINTER {
  std::string name;
  PrinterKind kind;
};

// Why the name cannot be an entry, or "" when it can: empty, a line break
// (it would end the entry), a leading "//" (a comment), or longer than the
// 258 bytes the service reads as one line.
std::string PrinterNameProblem(const std::string& name);

// The names of a list such as the package's PRINTERS property gives them,
// "Laser 2;Laser 3": separated by ";", the blanks around each dropped,
// empty pieces skipped.
std::vector<std::string> SplitPrinterNames(const std::string& list);

// The entries of printers.lst, then gdiprinters.lst, in file order. A list
// that is not there holds none. Throws std::runtime_error naming a list
// that is there but cannot be read.
std::vector<LISTED_PRINTER> ReadPrinterLists(const std::string& dir);

enum class ListChange { Added, Moved, AlreadyListed };

// Makes the name the one entry of its kind's list, and removes it from the
// other list (Moved). A list that is missing is created with its header.
// Throws std::runtime_error naming the list that cannot be written.
ListChange ListPrinter(const std::string& dir, const std::string& name, PrinterKind kind);

// Removes every entry of the name from both lists; false when there was
// none. Throws std::runtime_error as ListPrinter.
bool UnlistPrinter(const std::string& dir, const std::string& name);

const char* PrinterListFile(PrinterKind kind);
