// A printer list file (printers.lst, gdiprinters.lst): ANSI text, one
// printer name per line, lines starting with "//" are comments. Lines are
// read in text mode (CR LF reads as LF) in pieces of at most 259
// characters; each piece counts as a line of its own. One object stands for
// one open list and is used by one thread.
#pragma once

#include <cstdio>

// Size of the line buffer that every reading operation uses; a line of
// kListLineBuffer - 1 characters with its line end is the longest read whole.
constexpr int kListLineBuffer = 260;
constexpr const char kListHeader[] = "//Please do not modify this file manualy!!!";
// The temporary file that DeleteLine writes, in the current directory.
constexpr const char kListTempFile[] = "copy.bak";

class CIniFile {
 public:
  // Opens the file with the mode (the service passes "a+"), creating it with
  // the header line when it does not exist. Throws BadIniFile when it cannot
  // be opened, or when the path or mode is too long for the object.
  CIniFile(const char* pszPath, const char* pszMode);
  ~CIniFile();
  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;

  // Appends the entry and a line end (after ending a last line that has
  // none). 1 appended, 0 failed (also for an entry containing "\n"), -1
  // when bUnique is set and the entry was found from the current position on.
  virtual int AddLine(const char* pszEntry, bool bUnique);
  // Removes the first occurrence of the entry; 1 when removed, else 0. The
  // list is rewritten through "copy.bak" and replaced in one step, so a
  // failure leaves it as it was. Throws BadIniFile when the list cannot be
  // opened again afterwards.
  virtual int DeleteLine(const char* pszEntry);
  // From the current position, looks for a line equal to pszLine (line end
  // included; a last line without its line end matches too); on a match
  // stores the offset just after it. 1 found, else 0.
  virtual int FindLine(const char* pszLine, long* pOffset);
  // Reads from the current position up to the next line that is not a
  // comment and leaves it, line end included, in the buffer. 1, or 0 at the
  // end of the file (a read error counts as the end).
  virtual int ReadLine(char* pszBuffer, int cbBuffer);

  // The number of lines ReadLine can still deliver; leaves the position at
  // the end of the file.
  int GetCount();
  // The next entry after the reading cursor, without its line end, and the
  // cursor moved past it. 0 at the end (the cursor goes back to the start),
  // or at once for a null buffer or one smaller than kListLineBuffer.
  int GetNextLine(char* pszBuffer, int cbBuffer);

 private:
  void Reopen();

  FILE* m_pFile;
  char m_szPath[260];
  char m_szMode[12];
  long m_lCursor;
};
