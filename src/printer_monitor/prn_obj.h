// One watched printer: its name, its open spooler handle and its kind.
// Copies are shallow; the element kept in the service's printer list owns
// the handle and the name and is Close()d by whoever empties the list.
#pragma once

#include <windows.h>
#include <winspool.h>

enum : DWORD {
  PRN_NORMAL = 1,   // listed in printers.lst
  PRN_GDI = 2,      // listed in gdiprinters.lst (host-based printer)
};

class CPrnObj {
 public:
  // Throws a new CExc ("CPrnObj") when the name is null, the copy cannot be
  // made, or (with bOpen) the printer cannot be opened.
  CPrnObj(const char* pszName, DWORD dwKind, BOOL bOpen);
  CPrnObj(const CPrnObj&) = default;
  CPrnObj& operator=(const CPrnObj&) = default;
  virtual ~CPrnObj();
  virtual void Fail(const char* pszMessage);
  virtual void FailSystem();

  void Open();
  void Close();

  HANDLE m_hPrinter;
  char* m_pszName;
  DWORD m_dwKind;
};
