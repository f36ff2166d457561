#include "printer_monitor/ini_file.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "service_core/exc.h"

namespace {

// The stream is opened in binary and the text-mode translation is done
// here: CR LF reads as LF and LF is written as CR LF. File offsets then are
// plain byte offsets, which the reading cursor and DeleteLine rely on and
// which the C runtime's text-mode ftell does not give for LF-only files.
std::string BinaryMode(const char* pszMode) {
  std::string mode;
  for (const char* p = pszMode; *p; ++p) {
    if (*p != 't' && *p != 'b') mode += *p;
  }
  return mode + "b";
}

// Reads one piece of at most cbBuffer - 1 characters, up to and including a
// line end. False when nothing could be read (end of file or read error).
bool ReadPiece(FILE* pFile, char* pszBuffer, int cbBuffer) {
  int n = 0;
  while (n < cbBuffer - 1) {
    int c = std::getc(pFile);
    if (c == EOF) break;
    if (c == '\r') {
      int next = std::getc(pFile);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, pFile);
      }
    }
    pszBuffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  pszBuffer[n] = '\0';
  return n > 0;
}

bool IsComment(const char* pszLine) { return pszLine[0] == '/' && pszLine[1] == '/'; }

// Writes a piece read by ReadPiece, its line end as CR LF.
bool WritePiece(FILE* pFile, const char* pszPiece) {
  size_t cb = std::strlen(pszPiece);
  bool bLineEnd = cb > 0 && pszPiece[cb - 1] == '\n';
  if (bLineEnd) --cb;
  if (cb && std::fwrite(pszPiece, 1, cb, pFile) != cb) return false;
  return !bLineEnd || std::fputs("\r\n", pFile) >= 0;
}

// The line that stands for an entry, or false when the entry cannot be one.
bool EntryLine(const char* pszEntry, std::string& line) {
  if (!pszEntry || std::strchr(pszEntry, '\n')) return false;
  line = std::string(pszEntry) + "\n";
  return true;
}

}  // namespace

CIniFile::CIniFile(const char* pszPath, const char* pszMode)
    : m_pFile(nullptr), m_szPath(), m_szMode(), m_lCursor(0) {
  if (!pszPath || !pszMode || std::strlen(pszPath) >= sizeof(m_szPath) ||
      std::strlen(pszMode) >= sizeof(m_szMode)) {
    throw BadIniFile();
  }
  std::strcpy(m_szPath, pszPath);
  std::strcpy(m_szMode, pszMode);

  bool bExisted = false;
  if (FILE* pProbe = std::fopen(m_szPath, "r")) {
    std::fclose(pProbe);
    bExisted = true;
  }
  m_pFile = std::fopen(m_szPath, BinaryMode(m_szMode).c_str());
  if (!m_pFile) throw BadIniFile();
  if (bExisted) {
    std::rewind(m_pFile);
  } else {
    std::fputs(kListHeader, m_pFile);
    std::fputs("\r\n", m_pFile);
    std::fflush(m_pFile);
  }
}

CIniFile::~CIniFile() {
  if (m_pFile) std::fclose(m_pFile);
}

int CIniFile::ReadLine(char* pszBuffer, int cbBuffer) {
  if (!m_pFile || !pszBuffer || cbBuffer < 3) return 0;
  while (ReadPiece(m_pFile, pszBuffer, cbBuffer)) {
    if (!IsComment(pszBuffer)) return 1;
  }
  return 0;
}

int CIniFile::FindLine(const char* pszLine, long* pOffset) {
  if (!m_pFile || !pszLine) return 0;
  char szBuffer[kListLineBuffer];
  while (ReadLine(szBuffer, sizeof(szBuffer))) {
    // The last line of a file may lack its line end and is an entry all the
    // same: it matches the line that has one.
    const size_t cb = std::strlen(szBuffer);
    const bool bUnended = szBuffer[cb - 1] != '\n' && std::feof(m_pFile);
    if (std::strcmp(szBuffer, pszLine) == 0 ||
        (bUnended && std::strncmp(szBuffer, pszLine, cb) == 0 &&
         std::strcmp(pszLine + cb, "\n") == 0)) {
      if (pOffset) *pOffset = std::ftell(m_pFile);
      return 1;
    }
  }
  return 0;
}

int CIniFile::GetCount() {
  char szBuffer[kListLineBuffer];
  int nCount = 0;
  while (ReadLine(szBuffer, sizeof(szBuffer))) ++nCount;
  return nCount;
}

int CIniFile::GetNextLine(char* pszBuffer, int cbBuffer) {
  if (!pszBuffer || cbBuffer < kListLineBuffer || !m_pFile) return 0;
  if (std::fseek(m_pFile, m_lCursor, SEEK_SET) != 0 ||
      !ReadLine(pszBuffer, kListLineBuffer)) {
    m_lCursor = 0;
    return 0;
  }
  m_lCursor = std::ftell(m_pFile);
  if (char* pEnd = std::strchr(pszBuffer, '\n')) *pEnd = '\0';
  return 1;
}

int CIniFile::AddLine(const char* pszEntry, bool bUnique) {
  std::string line;
  if (!m_pFile || !EntryLine(pszEntry, line)) return 0;
  if (bUnique && FindLine(line.c_str(), nullptr)) return -1;
  // Reading and writing on one stream need a positioning call between them.
  // A last line without its line end is an entry too: it gets one first, so
  // that the new entry does not run on into it.
  bool bEndsLine = true;
  if (std::fseek(m_pFile, -1, SEEK_END) == 0) bEndsLine = std::getc(m_pFile) == '\n';
  if (std::fseek(m_pFile, 0, SEEK_END) != 0) return 0;
  if (!bEndsLine && std::fputs("\r\n", m_pFile) < 0) return 0;
  if (!WritePiece(m_pFile, line.c_str())) return 0;
  return std::fflush(m_pFile) == 0 ? 1 : 0;
}

int CIniFile::DeleteLine(const char* pszEntry) {
  std::string line;
  if (!m_pFile || !EntryLine(pszEntry, line)) return 0;
  std::rewind(m_pFile);
  long lMatchEnd = 0;
  if (!FindLine(line.c_str(), &lMatchEnd)) return 0;

  FILE* pCopy = std::fopen(kListTempFile, "w+b");
  if (!pCopy) return 0;
  std::rewind(m_pFile);
  char szPiece[kListLineBuffer];
  bool bWritten = true;
  while (ReadPiece(m_pFile, szPiece, sizeof(szPiece))) {
    if (std::ftell(m_pFile) != lMatchEnd) bWritten = WritePiece(pCopy, szPiece) && bWritten;
  }
  bool bComplete = !std::ferror(m_pFile) && bWritten;
  bComplete = std::fclose(pCopy) == 0 && bComplete;
  if (!bComplete) {
    DeleteFileA(kListTempFile);
    return 0;
  }

  // The copy replaces the list in one step: if that fails, the list is
  // still there as it was, and no entry can be lost between a deletion and
  // a rename that does not happen.
  std::fclose(m_pFile);
  m_pFile = nullptr;
  int nResult = 1;
  if (!MoveFileExA(kListTempFile, m_szPath,
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                       MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(kListTempFile);
    nResult = 0;
  }
  Reopen();
  return nResult;
}

void CIniFile::Reopen() {
  m_pFile = std::fopen(m_szPath, BinaryMode(m_szMode).c_str());
  if (!m_pFile) throw BadIniFile();
  std::rewind(m_pFile);
  m_lCursor = 0;
}
