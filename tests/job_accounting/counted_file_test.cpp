// Which file names of a job report the service counts and deletes: plain
// files of its own directory, never its own files, never anything else.
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "job_accounting/counted_file.h"
#include "service_core/win_owners.h"

namespace {

std::string ExePath() {
  char szPath[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szPath, MAX_PATH);
  return szPath;
}

std::string ExeDirectory() {
  std::string path = ExePath();
  return path.substr(0, path.find_last_of("\\/") + 1);
}

TEST(CountedFileTest, APlainNameIsTakenInTheServicesDirectory) {
  for (const char* name : {"job42.prn", "a", "report 3.pcl", "x.y.z", "~job.tmp"}) {
    EXPECT_EQ(CountedFilePath(name), ExeDirectory() + name) << name;
  }
}

TEST(CountedFileTest, NamesThatLeadElsewhereAreRefused) {
  for (const char* name :
       {"", "..", ".", "..\\x.prn", "../x.prn", "sub\\x.prn", "sub/x.prn", "C:x.prn",
        "C:\\x.prn", "\\\\server\\share\\x", "x.prn:stream", "x.prn::$DATA", "a..b",
        "x.prn.", "x.prn ", "*.prn", "x?.prn", "x<y", "x|y", "x\"y", "tab\there"}) {
    EXPECT_EQ(CountedFilePath(name), "") << "'" << name << "'";
  }
  EXPECT_EQ(CountedFilePath(nullptr), "");
  EXPECT_EQ(CountedFilePath(std::string(300, 'x').c_str()), "");
}

TEST(CountedFileTest, DeviceNamesAreRefusedWithOrWithoutAnExtension) {
  for (const char* name : {"NUL", "nul", "CON", "PRN", "AUX", "COM1", "com9", "LPT1",
                           "NUL.txt", "com1.prn", "LPT3 .x", "CONIN$", "conout$"}) {
    EXPECT_EQ(CountedFilePath(name), "") << name;
  }
  // Names that only begin like a device are files.
  for (const char* name : {"COM10", "NULL", "CONSOLE.txt", "LPT0", "COM"}) {
    EXPECT_NE(CountedFilePath(name), "") << name;
  }
}

TEST(CountedFileTest, TheServicesOwnFilesAreRefusedUnderAnyName) {
  const std::string exe = ExePath().substr(ExePath().find_last_of("\\/") + 1);
  for (std::string name : {exe, std::string("pagecnt.dll"), std::string("PAGECNT.DLL"),
                           std::string("printers.lst"), std::string("GdiPrinters.Lst"),
                           std::string("copy.bak"), std::string("quillon.jnl")}) {
    EXPECT_EQ(CountedFilePath(name.c_str()), "") << name;
  }
  // By its short alias, where the file system gives one.
  const std::string list = ExeDirectory() + "gdiprinters.lst";
  UniqueHandle file(CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  file.reset();
  char szShort[MAX_PATH] = {};
  DWORD n = GetShortPathNameA(list.c_str(), szShort, MAX_PATH);
  std::string shortPath(szShort, n);
  std::string shortName = shortPath.substr(shortPath.find_last_of("\\/") + 1);
  if (n && _stricmp(shortName.c_str(), "gdiprinters.lst") != 0) {
    EXPECT_EQ(CountedFilePath(shortName.c_str()), "") << shortName;
  } else {
    std::cout << "no short alias for " << list << " here\n";
  }
  DeleteFileA(list.c_str());
}

}  // namespace
