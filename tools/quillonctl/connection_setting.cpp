#include "connection_setting.h"

#include <cctype>

#include "service_core/configuration.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string SqliteConnectionString(const std::string& file, const std::string& driver,
                                   std::string* pWhy) {
  // Values are not quoted: a ";" or brace would end or garble them.
  if (file.empty()) {
    *pWhy = "the database file name is empty";
    return "";
  }
  if (file.find_first_of(";{}") != std::string::npos) {
    *pWhy = "the database file name cannot hold ';', '{' or '}' in a connection string";
    return "";
  }
  if (driver.empty() || driver.find_first_of(";{}") != std::string::npos) {
    *pWhy = "the driver name cannot be empty or hold ';', '{' or '}'";
    return "";
  }
  return "Driver={" + driver + "};Database=" + file + ";Timeout=" +
         std::to_string(kSqliteTimeoutMs);
}

std::string HidePassword(const std::string& dsn) {
  std::string out;
  size_t i = 0;
  while (i < dsn.size()) {
    const size_t eq = dsn.find('=', i);
    const size_t semi = dsn.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      // A piece without a value: kept as it is.
      const size_t end = semi == std::string::npos ? dsn.size() : semi + 1;
      out += dsn.substr(i, end - i);
      i = end;
      continue;
    }
    std::string key = dsn.substr(i, eq - i);
    size_t end = eq + 1;
    if (end < dsn.size() && dsn[end] == '{') {
      // A braced value ends at a "}" that is not doubled.
      ++end;
      while (end < dsn.size()) {
        if (dsn[end] == '}') {
          if (end + 1 < dsn.size() && dsn[end + 1] == '}') {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
    }
    end = dsn.find(';', end);
    if (end == std::string::npos) end = dsn.size();
    size_t first = key.find_first_not_of(' ');
    size_t last = key.find_last_not_of(' ');
    const std::string name = first == std::string::npos ? "" : Upper(key.substr(first, last - first + 1));
    if (name == "PWD" || name == "PASSWORD") {
      out += key + "=***";
    } else {
      out += dsn.substr(i, end - i);
    }
    if (end < dsn.size()) out += ';';
    i = end + 1;
  }
  return out;
}

LONG CDsnSetting::OpenForWriting() {
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_SET_VALUE, nullptr, m_key.put(), nullptr);
}

std::string CDsnSetting::Current() {
  // The service's reader creates the key when it is missing; a look must not.
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return "";
  }
  return ReadConnectionString();
}

LONG CDsnSetting::Write(const std::string& dsn) {
  if (!m_key) {
    const LONG rc = OpenForWriting();
    if (rc != ERROR_SUCCESS) return rc;
  }
  return RegSetValueExA(m_key.get(), kDsnValue, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(dsn.c_str()),
                        static_cast<DWORD>(dsn.size() + 1));
}
