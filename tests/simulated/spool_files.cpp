#include "spool_files.h"

#include <cstdio>
#include <cstring>
#include <vector>

// Sources named in the comments below:
// [Spool files]: Microsoft's support note on files left in the spool
// directory: each spooled job is a spool file, NNNNN.SPL, the print data,
// and a shadow file of the same number, NNNNN.SHD, which says which printer
// and user the job belongs to and its place in the queue; both are deleted
// once the job has printed, unless the printer keeps printed documents.
// [SHD layout]: Microsoft does not document the shadow file; its layout of
// Windows 2000 and later as publicly described ("The Windows NT print spool
// shadow file format", CodeProject): DWORD signature 0x4967, DWORD header
// size, WORD status, WORD padding, DWORD job id, DWORD priority, then DWORD
// offsets from the file's start of the user name, notify name, document,
// port, printer, driver and DEVMODE (at byte 44), print processor and data
// type; 0 where there is none.
// [PRINTER_INFO_2]: the Win32 print spooler reference of that name.
// [CreateFile]: an open must share the access of every handle already open
// to the file, and its own access must be shared by them.
namespace sim {

namespace {

constexpr DWORD kShadowSignature = 0x4967;   // [SHD layout] Windows 2000 and later
constexpr size_t kShadowHeaderBytes = 56;    // up to the data type's offset
constexpr size_t kDevModeOffsetField = 44;

void PutDword(std::vector<BYTE>& bytes, size_t at, DWORD value) {
  std::memcpy(&bytes[at], &value, sizeof(value));
}

bool WriteAll(HANDLE file, const void* data, size_t cb) {
  DWORD written = 0;
  return cb == 0 || (WriteFile(file, data, static_cast<DWORD>(cb), &written, nullptr) &&
                     written == cb);
}

}  // namespace

std::wstring JobFileName(const WCHAR* directory, DWORD jobId, const wchar_t* extension) {
  wchar_t name[32];
  std::swprintf(name, 32, L"\\%05lu.%ls", static_cast<unsigned long>(jobId), extension);
  return std::wstring(directory) + name;
}

HANDLE WriteJobFiles(const WCHAR* directory, DWORD jobId, DWORD status, DWORD priority,
                     const DEVMODEW* devMode, const std::string& data) {
  std::vector<BYTE> shadow(kShadowHeaderBytes);
  PutDword(shadow, 0, kShadowSignature);
  PutDword(shadow, 4, static_cast<DWORD>(kShadowHeaderBytes));
  const WORD status16 = static_cast<WORD>(status);
  std::memcpy(&shadow[8], &status16, sizeof(status16));
  PutDword(shadow, 12, jobId);
  PutDword(shadow, 16, priority);
  if (devMode) {
    PutDword(shadow, kDevModeOffsetField, static_cast<DWORD>(shadow.size()));
    const BYTE* p = reinterpret_cast<const BYTE*>(devMode);
    shadow.insert(shadow.end(), p, p + devMode->dmSize);
  }
  HANDLE shd = CreateFileW(JobFileName(directory, jobId, L"SHD").c_str(), GENERIC_WRITE, 0,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (shd == INVALID_HANDLE_VALUE) return nullptr;
  const bool shadowWritten = WriteAll(shd, shadow.data(), shadow.size());
  CloseHandle(shd);
  if (!shadowWritten) return nullptr;

  // The spooler writes the spool file while the job spools and reads it
  // while it prints ([PRINTER_INFO_2] PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST:
  // without it, printing begins while the job still spools): held open
  // for writing, it lets others read it only if they share writing
  // [CreateFile], and delete it.
  HANDLE spl = CreateFileW(JobFileName(directory, jobId, L"SPL").c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (spl == INVALID_HANDLE_VALUE) return nullptr;
  if (!WriteAll(spl, data.data(), data.size())) {
    CloseHandle(spl);
    return nullptr;
  }
  return spl;
}

void DeleteJobFiles(const WCHAR* directory, DWORD jobId) {
  DeleteFileW(JobFileName(directory, jobId, L"SPL").c_str());
  DeleteFileW(JobFileName(directory, jobId, L"SHD").c_str());
}

}  // namespace sim
