// A fresh directory under the system's temporary directory, made the
// current directory for the length of a test (the printer lists and
// "copy.bak" are found there by their bare names), removed afterwards.
#pragma once

#include <windows.h>

#include <string>

class CTempDirectory {
 public:
  CTempDirectory();
  ~CTempDirectory();
  CTempDirectory(const CTempDirectory&) = delete;
  CTempDirectory& operator=(const CTempDirectory&) = delete;

  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "\\" + name; }
  // Raw bytes, written and read in binary.
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::string m_path;
  std::string m_previous;
};
