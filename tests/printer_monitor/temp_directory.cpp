#include "temp_directory.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {
int g_nSerial = 0;
}

CTempDirectory::CTempDirectory() {
  char szTemp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, szTemp);
  m_path = std::string(szTemp) + "quillon-pm-" + std::to_string(GetCurrentProcessId()) +
           "-" + std::to_string(++g_nSerial);
  CreateDirectoryA(m_path.c_str(), nullptr);
  char szCurrent[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, szCurrent);
  m_previous = szCurrent;
  SetCurrentDirectoryA(m_path.c_str());
}

CTempDirectory::~CTempDirectory() {
  SetCurrentDirectoryA(m_previous.c_str());
  WIN32_FIND_DATAA found;
  HANDLE hFind = FindFirstFileA((m_path + "\\*").c_str(), &found);
  if (hFind != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(File(found.cFileName).c_str());
      }
    } while (FindNextFileA(hFind, &found));
    FindClose(hFind);
  }
  RemoveDirectoryA(m_path.c_str());
}

void CTempDirectory::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string CTempDirectory::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool CTempDirectory::Exists(const std::string& name) const {
  return GetFileAttributesA(File(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}
