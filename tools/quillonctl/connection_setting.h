// The service's "DSN" setting as quillonctl makes, shows and writes it.
#pragma once

#include <windows.h>

#include <string>

#include "service_core/win_owners.h"

// The name under which the SQLite ODBC driver registers itself on Windows
// (its installer's "SQLite3 ODBC Driver"; "SQLite ODBC Driver" is the
// driver for the older SQLite 2 files).
constexpr char kSqliteDriverName[] = "SQLite3 ODBC Driver";
// The busy time-out that `setup --database` gives the embedded default: a
// statement waits about twice this for another program's lock (without it,
// some 200 s).
constexpr int kSqliteTimeoutMs = 2000;

// The connection string of the embedded default on the file; empty, with
// the reason, when the file name cannot stand in a connection string.
std::string SqliteConnectionString(const std::string& file, const std::string& driver,
                                   std::string* pWhy);

// The connection string with the value of every password key (PWD,
// Password; any letter case) shown as "***".
std::string HidePassword(const std::string& dsn);

// The longest "DSN" the service reads (its buffer is 512 bytes).
constexpr size_t kMaxDsnLength = 511;

// The settings key, opened to write "DSN" before anything else is done, so
// that a missing right is known before the database is touched.
class CDsnSetting {
 public:
  // ERROR_SUCCESS, or the registry's error (ERROR_ACCESS_DENIED without
  // administrator rights).
  LONG OpenForWriting();
  // The value as the service reads it now; empty when there is none.
  static std::string Current();
  LONG Write(const std::string& dsn);

 private:
  RegKey m_key;
};
