// The "DSN" setting and the working directory.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "service_core/configuration.h"
#include "service_core/win_owners.h"

namespace {

class DsnSettingTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey); }
  void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey); }

  static void WriteDsn(const std::string& value, bool withTerminator = true) {
    RegKey hKey;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kSettingsKey, hKey.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(hKey.get(), kDsnValue, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + (withTerminator ? 1 : 0))),
              ERROR_SUCCESS);
  }
};

TEST_F(DsnSettingTest, FirstReadCreatesTheKeyAndGivesEmptyText) {
  const char* dsn = ReadConnectionString();
  ASSERT_NE(dsn, nullptr);
  EXPECT_STREQ(dsn, "");
  RegKey hKey;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, hKey.put()),
            ERROR_SUCCESS);
}

TEST_F(DsnSettingTest, ValuesUpTo511CharactersAreReadWhole) {
  WriteDsn("Driver=SQLite3;Database=/tmp/q.db");
  EXPECT_STREQ(ReadConnectionString(), "Driver=SQLite3;Database=/tmp/q.db");

  const std::string longest(511, 'x');
  WriteDsn(longest);
  EXPECT_EQ(std::string(ReadConnectionString()), longest);
}

TEST_F(DsnSettingTest, TooLongOrMissingValueGivesEmptyText) {
  WriteDsn("Driver=SQLite3;Database=/tmp/q.db");
  ASSERT_STRNE(ReadConnectionString(), "");

  WriteDsn(std::string(600, 'y'));
  EXPECT_STREQ(ReadConnectionString(), "");

  // 512 bytes with no terminating NUL leave no room for one: too long too.
  WriteDsn(std::string(512, 'z'), /*withTerminator=*/false);
  EXPECT_STREQ(ReadConnectionString(), "");

  // A shorter value stored without its NUL still reads as the text.
  WriteDsn("abc", /*withTerminator=*/false);
  EXPECT_STREQ(ReadConnectionString(), "abc");

  RegKey hKey;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, hKey.put()),
            ERROR_SUCCESS);
  RegDeleteValueA(hKey.get(), kDsnValue);
  EXPECT_STREQ(ReadConnectionString(), "");
}

TEST(SetModuleDirectoryTest, CurrentDirectoryBecomesTheExecutablesDirectory) {
  char szExe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, szExe, MAX_PATH);
  std::string expected(szExe);
  expected.erase(expected.find_last_of("\\/") + 1);

  char szTemp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, szTemp);
  ASSERT_TRUE(SetCurrentDirectoryA(szTemp));

  SetModuleDirectory();
  char szCurrent[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, szCurrent);
  std::string current(szCurrent);
  if (current.back() != '\\') current += '\\';
  EXPECT_EQ(_stricmp(current.c_str(), expected.c_str()), 0)
      << current << " vs " << expected;

  // A file beside the executable is now found by its bare name.
  const char kProbe[] = "quillon-setmoduledir.probe";
  std::string beside = expected + kProbe;
  ASSERT_TRUE(UniqueHandle(CreateFileA(beside.c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
  EXPECT_NE(GetFileAttributesA(kProbe), INVALID_FILE_ATTRIBUTES);
  DeleteFileA(beside.c_str());
}

}  // namespace
