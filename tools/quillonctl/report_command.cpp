#include "report_command.h"

#include <windows.h>
#include <comdef.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "database/com_errors.h"
#include "database/wide_text.h"
#include "exit_codes.h"
#include "service_core/configuration.h"
#include "service_core/win_owners.h"

namespace {

// The service's DSN value, read without creating its key.
bool ReadServiceDsn(std::string& dsn) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  char value[512] = {};
  DWORD cb = sizeof(value) - 1;
  DWORD dwType = 0;
  const LONG rc = RegQueryValueExA(key.get(), kDsnValue, nullptr, &dwType,
                                   reinterpret_cast<BYTE*>(value), &cb);
  if (rc != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) return false;
  dsn.assign(value, strnlen(value, cb));
  return !dsn.empty();
}

usage_report::CalendarDate Today() {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

// A console shows UTF-16 faithfully whatever its code page; a pipe or a
// file gets the UTF-8 bytes as they are.
bool WriteStandardOutput(const std::string& text) {
  HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD dwMode = 0;
  if (GetConsoleMode(hOut, &dwMode)) {
    // In parts: older consoles refuse one write of more than 64 KB.
    const std::wstring wide = Utf8ToWide(text);
    for (size_t done = 0; done < wide.size();) {
      DWORD cchWritten = 0;
      const DWORD cch = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
      if (!WriteConsoleW(hOut, wide.data() + done, cch, &cchWritten, nullptr) ||
          cchWritten == 0) {
        return false;
      }
      done += cchWritten;
    }
    return true;
  }
  size_t done = 0;
  while (done < text.size()) {
    DWORD cbWritten = 0;
    const DWORD cb = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1 << 20));
    if (!WriteFile(hOut, text.data() + done, cb, &cbWritten, nullptr) || cbWritten == 0) {
      return false;
    }
    done += cbWritten;
  }
  return true;
}

// The whole report or nothing: a file that cannot be written whole is
// removed again.
DWORD WriteReportFile(const std::wstring& path, const std::string& text) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  DWORD cbWritten = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &cbWritten,
                 nullptr) ||
      cbWritten != text.size()) {
    const DWORD dwError = GetLastError();
    file.reset();
    DeleteFileW(path.c_str());
    return dwError ? dwError : ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

}  // namespace

int RunReportCommand(const CReportCommand& cmd) {
  std::string dsn;
  if (cmd.dsn) {
    dsn = WideToAnsi(*cmd.dsn);
  } else if (!ReadServiceDsn(dsn)) {
    std::fprintf(stderr,
                 "quillonctl: no database: the service's DSN value (HKEY_LOCAL_MACHINE\\%s) is "
                 "not set; give --dsn\n",
                 kSettingsKey);
    return kExitDatabase;
  }
  std::string report;
  try {
    ConnectionPtr connection;
    connection.CreateInstance();
    connection->Open(dsn.c_str());
    report = usage_report::ProduceReport(cmd.options, connection, usage_report::CLocalDays(),
                                         Today());
    connection->Close();
  } catch (const usage_report::ReportOptionError& e) {
    std::fprintf(stderr, "quillonctl: %s\n", e.what());
    return kExitBadArguments;
  } catch (const _com_error& e) {
    std::fprintf(stderr, "quillonctl: the database failed: %s\n",
                 ComErrorDescription(e).empty() ? ComErrorText(e).c_str()
                                                : ComErrorDescription(e).c_str());
    return kExitDatabase;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillonctl: cannot make the report: %s\n", e.what());
    return kExitDatabase;
  }
  if (cmd.output) {
    const DWORD dwError = WriteReportFile(*cmd.output, report);
    if (dwError != ERROR_SUCCESS) {
      std::fprintf(stderr, "quillonctl: cannot write %s (error %lu)\n",
                   WideToUtf8(*cmd.output).c_str(), static_cast<unsigned long>(dwError));
      return kExitCannotWrite;
    }
  } else if (!WriteStandardOutput(report)) {
    std::fprintf(stderr, "quillonctl: cannot write the report (error %lu)\n",
                 static_cast<unsigned long>(GetLastError()));
    return kExitCannotWrite;
  }
  return kExitSent;
}
