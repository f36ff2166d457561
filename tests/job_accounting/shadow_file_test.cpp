// The copy count from a job's spool shadow file, on real files in a
// directory that the test makes the spooler's.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "job_accounting/shadow_file.h"
#include "job_accounting/spool_file.h"
#include "spool_fixture.h"
#include "service_core/win_owners.h"

namespace {

class ShadowFileTest : public ::testing::Test {
 protected:
  ShadowFileTest() : m_dir(MakeDirectory()), m_setting(m_dir) {}
  ~ShadowFileTest() override {
    for (const std::string& file : m_files) DeleteFileA(file.c_str());
    RemoveDirectoryA(m_dir.c_str());
  }

  static std::string MakeDirectory() {
    char szTemp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, szTemp);
    std::string dir = std::string(szTemp) + "quillon-spool-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
  }

  std::string Write(int32_t jobId, const std::string& bytes) {
    char szName[32];
    snprintf(szName, sizeof(szName), "\\%05d.shd", static_cast<int>(jobId));
    std::string path = m_dir + szName;
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << path;
    DWORD written = 0;
    if (!bytes.empty()) {
      WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    m_files.push_back(path);
    return path;
  }

  // Nothing of the reader's may still hold the file: it opens exclusively.
  static bool OpenedByNobody(const std::string& path) {
    return static_cast<bool>(UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                      0, nullptr, OPEN_EXISTING,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr)));
  }

  std::string m_dir;
  CSpoolDirectorySetting m_setting;
  std::vector<std::string> m_files;
};

TEST_F(ShadowFileTest, BothLayoutsGiveTheStoredCount) {
  struct Case {
    BYTE signature;
    int16_t copies;
  } cases[] = {{0x66, 3}, {0x67, 3}, {0x66, 0}, {0x01, 7}};
  int32_t job = 10;
  for (const Case& c : cases) {
    std::string path = Write(job, ShadowFileBytes(c.signature, 200, c.copies));
    EXPECT_EQ(ReadShadowCopies(job), c.copies) << "signature " << int(c.signature);
    EXPECT_TRUE(OpenedByNobody(path));
    ++job;
  }
  // The first layout reads its offset at byte 40, not 44, where a device
  // mode of its own would say 9.
  std::string bytes = ShadowFileBytes(0x66, 300, 3, 600);
  const std::string decoy = ShadowFileBytes(0x67, 60, 9, 300);
  bytes.replace(44, 256, decoy, 44, 256);
  Write(20, bytes);
  EXPECT_EQ(ReadShadowCopies(20), 3);
}

TEST_F(ShadowFileTest, WhatCannotBeReadCountsAsOneCopy) {
  // Offsets and device modes that are not what the layouts say.
  std::string noCopies = ShadowFileBytes(0x66, 200, 3);
  std::memset(&noCopies[200 + offsetof(DEVMODEW, dmFields)], 0, sizeof(DWORD));
  std::string olderLayout = ShadowFileBytes(0x66, 200, 3);
  const WORD cbOlder = offsetof(DEVMODEW, dmCopies);
  std::memcpy(&olderLayout[200 + offsetof(DEVMODEW, dmSize)], &cbOlder, sizeof(cbOlder));
  struct Case {
    const char* label;
    std::string bytes;
  } cases[] = {
      {"40 bytes: no room for the offset", ShadowFileBytes(0x66, 200, 3, 40)},
      {"43 bytes: the offset cut short", ShadowFileBytes(0x66, 200, 3, 43)},
      {"offset beyond the end", ShadowFileBytes(0x66, 5000, 3)},
      {"device mode cut short", ShadowFileBytes(0x66, 400 - 87, 3)},
      {"offset near 4 GB", ShadowFileBytes(0x67, 0xFFFFFFF0u, 3)},
      {"no DM_COPIES", noCopies},
      {"a dmSize that ends before dmCopies", olderLayout},
      {"empty file", {}},
  };
  int32_t job = 30;
  for (const Case& c : cases) {
    std::string path = Write(job, c.bytes);
    EXPECT_EQ(ReadShadowCopies(job), 1) << c.label;
    EXPECT_TRUE(OpenedByNobody(path)) << c.label;
    ++job;
  }
  EXPECT_EQ(ReadShadowCopies(99), 1) << "no file";
}

TEST_F(ShadowFileTest, FileNamesHaveFiveDigitsAtLeast) {
  wchar_t wszPath[MAX_PATH];
  FormatShadowFileName(L"C:\\SPOOL", 42, wszPath);
  EXPECT_STREQ(wszPath, L"C:\\SPOOL\\00042.shd");
  FormatShadowFileName(L"C:\\SPOOL", 123456, wszPath);
  EXPECT_STREQ(wszPath, L"C:\\SPOOL\\123456.shd");
  Write(123456, ShadowFileBytes(0x66, 200, 4));
  EXPECT_EQ(ReadShadowCopies(123456), 4);
}

// Whatever id a report gives, the name is the spool directory's and the
// id's digits: no other file can be named.
TEST_F(ShadowFileTest, ASpoolFileIsNamedByItsJobIdsDigitsInTheSpoolDirectory) {
  EXPECT_EQ(SpoolFilePath(42), m_dir + "\\00042.SPL");
  EXPECT_EQ(SpoolFilePath(123456), m_dir + "\\123456.SPL");
  EXPECT_EQ(SpoolFilePath(0xFFFFFFFF), m_dir + "\\4294967295.SPL");
  EXPECT_EQ(SpoolFilePath(0), "") << "no job has the id 0";

  // The counter takes an ANSI name (code page 1252 here): a directory it
  // cannot spell exactly names no file, rather than a best fit of it.
  m_setting.Set(std::wstring(L"C:\\Spool\u00E9"));
  EXPECT_EQ(SpoolFilePath(7), "C:\\Spool\xE9\\00007.SPL");
  m_setting.Set(std::wstring(L"C:\\\uFF33pool"));   // a fullwidth S
  EXPECT_EQ(SpoolFilePath(7), "");
  m_setting.Set(std::wstring(L"C:\\Spool\u4E2D"));
  EXPECT_EQ(SpoolFilePath(7), "");

  m_setting.Remove();
  EXPECT_EQ(SpoolFilePath(7), "") << "no spool directory";
}

TEST_F(ShadowFileTest, TheSpoolDirectoryComesFromTheRegistry) {
  wchar_t wszDir[MAX_PATH];
  ASSERT_TRUE(GetSpoolDirectory(wszDir));
  EXPECT_EQ(std::wstring(wszDir), std::wstring(m_dir.begin(), m_dir.end()));

  // 129 characters fit the 260-byte area, 130 do not.
  m_setting.Set("C:\\" + std::string(126, 's'));
  EXPECT_TRUE(GetSpoolDirectory(wszDir));
  m_setting.Set("C:\\" + std::string(127, 's'));
  EXPECT_FALSE(GetSpoolDirectory(wszDir));
  EXPECT_STREQ(wszDir, L"");

  m_setting.Remove();
  EXPECT_FALSE(GetSpoolDirectory(wszDir));
  Write(50, ShadowFileBytes(0x66, 200, 3));
  EXPECT_EQ(ReadShadowCopies(50), 1) << "no spool directory";
}

}  // namespace
