// The text of a COM error, and how the connection raises its failures.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "database/com_errors.h"
#include "database/connection.h"
#include "service_core/win_owners.h"

namespace {

std::string SystemText(HRESULT hr) {
  LocalBuffer<char> text;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, static_cast<DWORD>(hr), 0x400,
                 reinterpret_cast<LPSTR>(text.put()), 0, nullptr);
  return text ? text.get() : "";
}

TEST(ComErrorTextTest, SystemTextLosesItsLineEnd) {
  // The texts as Wine gives them, with their CR LF.
  ASSERT_EQ(SystemText(E_OUTOFMEMORY), "Out of memory.\r\n");
  EXPECT_EQ(ComErrorText(_com_error(E_OUTOFMEMORY)), "Out of memory.");
  EXPECT_EQ(ComErrorText(E_FAIL), "Call failed.");
}

TEST(ComErrorTextTest, CodesWithoutSystemTextAreNamed) {
  ASSERT_EQ(SystemText(0x80040205), "") << "this system knows 0x80040205";
  EXPECT_EQ(ComErrorText(0x80040205), "IDispatch error #5");
  EXPECT_EQ(ComErrorText(0x8004FFFF), "IDispatch error #65023");
  ASSERT_EQ(SystemText(0x80040200), "");
  EXPECT_EQ(ComErrorText(0x80040200), "Unknown error 0x80040200");
  EXPECT_EQ(ComErrorText(static_cast<HRESULT>(0x8FFF1234)), "Unknown error 0x8FFF1234");
}

TEST(ComErrorTextTest, RaisedErrorCarriesItsDescription) {
  try {
    RaiseComError(E_INVALIDARG, L"[42S02] no such table: NOPE");
    FAIL() << "nothing was raised";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_INVALIDARG);
    EXPECT_EQ(ComErrorDescription(e), "[42S02] no such table: NOPE");
  }
  EXPECT_EQ(ComErrorDescription(_com_error(E_FAIL)), "");
}

TEST(ConnectionTest, EmptyPointerRaisesEPointer) {
  ConnectionPtr empty;
  try {
    empty->Open("whatever");
    FAIL() << "nothing was raised";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
  }
}

TEST(ConnectionTest, BadConnectionStringsRaiseWithTheDriversDiagnostic) {
  for (const char* dsn : {"", "DSN=NoSuchDataSource", "Driver={No Such Driver}"}) {
    ConnectionPtr connection;
    ASSERT_EQ(connection.CreateInstance(), S_OK);
    try {
      connection->Open(dsn);
      FAIL() << "opened '" << dsn << "'";
    } catch (const _com_error& e) {
      EXPECT_TRUE(FAILED(e.Error())) << dsn;
      EXPECT_FALSE(ComErrorDescription(e).empty()) << dsn;
    }
    EXPECT_FALSE(connection->IsOpen());
  }
}

TEST(ConnectionTest, SqliteDatabaseOpensAndCloses) {
  char szTemp[MAX_PATH];
  GetTempPathA(MAX_PATH, szTemp);
  // The driver is a native library: it wants the Unix path of the file.
  std::string unixPath = "/tmp/quillon-conn-" + std::to_string(GetCurrentProcessId()) + ".db";
  ConnectionPtr connection;
  ASSERT_EQ(connection.CreateInstance(), S_OK);
  ASSERT_NO_THROW(connection->Open(("Driver=SQLite3;Database=" + unixPath).c_str()));
  EXPECT_TRUE(connection->IsOpen());
  ConnectionPtr second = connection;   // shared, reference-counted
  EXPECT_NO_THROW(second->Close());
  EXPECT_FALSE(connection->IsOpen());
  DeleteFileA(("Z:" + unixPath).c_str());
}

}  // namespace
