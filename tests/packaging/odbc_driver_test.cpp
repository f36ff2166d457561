// The SQLite ODBC driver that the package carries, on its own: loaded as a
// library and called through its exported ODBC functions, the way a driver
// manager calls a driver, with no driver manager in between (under Wine the
// driver manager is the host's, which cannot load a Windows driver).
#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <string>

#include "db_test_support.h"
#include "service_core/win_owners.h"

namespace {

// The driver's entry points that this test calls, looked up by name, with
// the types sql.h declares for them.
struct DriverEntryPoints {
#define QUILLON_DRIVER_ENTRY(name) \
  decltype(&::name) name = reinterpret_cast<decltype(&::name)>(  \
      reinterpret_cast<void*>(GetProcAddress(module, #name)))
  explicit DriverEntryPoints(HMODULE h) : module(h) {}
  HMODULE module;
  QUILLON_DRIVER_ENTRY(SQLAllocHandle);
  QUILLON_DRIVER_ENTRY(SQLSetEnvAttr);
  QUILLON_DRIVER_ENTRY(SQLDriverConnectW);
  QUILLON_DRIVER_ENTRY(SQLExecDirectW);
  QUILLON_DRIVER_ENTRY(SQLPrepareW);
  QUILLON_DRIVER_ENTRY(SQLBindParameter);
  QUILLON_DRIVER_ENTRY(SQLExecute);
  QUILLON_DRIVER_ENTRY(SQLFetch);
  QUILLON_DRIVER_ENTRY(SQLGetData);
  QUILLON_DRIVER_ENTRY(SQLFreeStmt);
  QUILLON_DRIVER_ENTRY(SQLGetDiagRecW);
  QUILLON_DRIVER_ENTRY(SQLDisconnect);
  QUILLON_DRIVER_ENTRY(SQLFreeHandle);
#undef QUILLON_DRIVER_ENTRY
  bool Complete() const {
    return SQLAllocHandle && SQLSetEnvAttr && SQLDriverConnectW && SQLExecDirectW && SQLPrepareW &&
           SQLBindParameter && SQLExecute && SQLFetch && SQLGetData && SQLFreeStmt &&
           SQLGetDiagRecW && SQLDisconnect && SQLFreeHandle;
  }
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class SqliteOdbcDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    m_module.reset(LoadLibraryA(QUILLON_ODBC_DRIVER));
    ASSERT_TRUE(m_module) << QUILLON_ODBC_DRIVER << ": error " << GetLastError();
    m_api.reset(new DriverEntryPoints(m_module.get()));
    ASSERT_TRUE(m_api->Complete()) << "an ODBC entry point is not exported";
    ASSERT_TRUE(SQL_SUCCEEDED(m_api->SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env)));
    m_api->SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_TRUE(SQL_SUCCEEDED(m_api->SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc)));
  }
  void TearDown() override {
    if (m_stmt) m_api->SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
    if (m_connected) m_api->SQLDisconnect(m_dbc);
    if (m_dbc) m_api->SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
    if (m_env) m_api->SQLFreeHandle(SQL_HANDLE_ENV, m_env);
  }

  // The driver's first diagnostic for the handle, for failure messages.
  std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle) const {
    SQLWCHAR state[6] = {}, text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT cch = 0;
    if (!SQL_SUCCEEDED(m_api->SQLGetDiagRecW(type, handle, 1, state, &native, text, 512, &cch))) {
      return "(no diagnostic)";
    }
    std::string s;
    for (const SQLWCHAR* p = text; *p; ++p) s += static_cast<char>(*p);
    return s;
  }

  void Connect(const std::string& file) {
    std::wstring in = Wide("Database=" + file);
    SQLWCHAR out[1024] = {};
    SQLSMALLINT cchOut = 0;
    const SQLRETURN rc = m_api->SQLDriverConnectW(m_dbc, nullptr, &in[0], SQL_NTS, out, 1024,
                                               &cchOut, SQL_DRIVER_NOPROMPT);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << Diagnostic(SQL_HANDLE_DBC, m_dbc);
    m_connected = true;
    ASSERT_TRUE(SQL_SUCCEEDED(m_api->SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &m_stmt)));
  }
  void Exec(const std::string& sql) {
    std::wstring w = Wide(sql);
    ASSERT_TRUE(SQL_SUCCEEDED(m_api->SQLExecDirectW(m_stmt, &w[0], SQL_NTS)))
        << sql << ": " << Diagnostic(SQL_HANDLE_STMT, m_stmt);
    m_api->SQLFreeStmt(m_stmt, SQL_CLOSE);
  }

  ModuleHandle m_module;
  std::unique_ptr<DriverEntryPoints> m_api;
  SQLHENV m_env = SQL_NULL_HENV;
  SQLHDBC m_dbc = SQL_NULL_HDBC;
  SQLHSTMT m_stmt = SQL_NULL_HSTMT;
  bool m_connected = false;
};

TEST_F(SqliteOdbcDriver, CreatesTheSchemaInANewFileAndKeepsAJobRow) {
  char dir[MAX_PATH] = {};
  GetFullPathNameA(QUILLON_DRIVER_TEST_DIR, MAX_PATH, dir, nullptr);
  CreateDirectoryA(dir, nullptr);
  const std::string file = std::string(dir) + "\\driver_test.db";
  DeleteFileA(file.c_str());

  ASSERT_NO_FATAL_FAILURE(Connect(file));
  for (const std::string& statement : SchemaStatements(Backend::SQLite)) {
    ASSERT_NO_FATAL_FAILURE(Exec(statement));
  }
  ASSERT_NO_FATAL_FAILURE(Exec("INSERT INTO PRINTERS (PrnName) VALUES ('Laser 2')"));

  // The row as the service writes it: bound parameters, wide text.
  std::wstring insert = Wide(
      "INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages, JobSize, Submitted,"
      " PaperSize, PaperLength, PaperWidth, Color, Duplex) VALUES (1, 2, 3, ?, ?, 0, ?,"
      " 9, 2970, 2100, 2, 1)");
  ASSERT_TRUE(SQL_SUCCEEDED(m_api->SQLPrepareW(m_stmt, &insert[0], SQL_NTS)))
      << Diagnostic(SQL_HANDLE_STMT, m_stmt);
  SQLWCHAR doc[] = L"Plan \u00e9t\u00e9.pdf";
  SQLLEN cbDoc = SQL_NTS, cbInt = 0;
  SQLINTEGER pages = 12, submitted = 1700000000;
  m_api->SQLBindParameter(m_stmt, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 254, 0, doc, 0,
                       &cbDoc);
  m_api->SQLBindParameter(m_stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &pages, 0,
                       &cbInt);
  m_api->SQLBindParameter(m_stmt, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &submitted,
                       0, &cbInt);
  ASSERT_TRUE(SQL_SUCCEEDED(m_api->SQLExecute(m_stmt))) << Diagnostic(SQL_HANDLE_STMT, m_stmt);
  m_api->SQLFreeStmt(m_stmt, SQL_RESET_PARAMS);
  m_api->SQLFreeStmt(m_stmt, SQL_CLOSE);

  std::wstring select = Wide(
      "SELECT p.PrnName, d.DocName, d.Pages, d.Submitted FROM PRNDATA d"
      " JOIN PRINTERS p ON p.idPrinter = d.idPrinter");
  ASSERT_TRUE(SQL_SUCCEEDED(m_api->SQLExecDirectW(m_stmt, &select[0], SQL_NTS)))
      << Diagnostic(SQL_HANDLE_STMT, m_stmt);
  ASSERT_EQ(m_api->SQLFetch(m_stmt), SQL_SUCCESS);
  SQLWCHAR printer[64] = {}, docBack[64] = {};
  SQLINTEGER pagesBack = 0, submittedBack = 0;
  SQLLEN ind = 0;
  m_api->SQLGetData(m_stmt, 1, SQL_C_WCHAR, printer, sizeof(printer), &ind);
  m_api->SQLGetData(m_stmt, 2, SQL_C_WCHAR, docBack, sizeof(docBack), &ind);
  m_api->SQLGetData(m_stmt, 3, SQL_C_SLONG, &pagesBack, 0, &ind);
  m_api->SQLGetData(m_stmt, 4, SQL_C_SLONG, &submittedBack, 0, &ind);
  EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(printer)), L"Laser 2");
  EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(docBack)), L"Plan \u00e9t\u00e9.pdf");
  EXPECT_EQ(pagesBack, 12);
  EXPECT_EQ(submittedBack, 1700000000);
  EXPECT_EQ(m_api->SQLFetch(m_stmt), SQL_NO_DATA) << "one row was written";
  m_api->SQLFreeStmt(m_stmt, SQL_CLOSE);

  // The file is an SQLite database on disk, not a connection's memory.
  UniqueHandle h(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h) << file;
  char magic[16] = {};
  DWORD n = 0;
  ReadFile(h.get(), magic, sizeof(magic), &n, nullptr);
  EXPECT_EQ(std::string(magic, n), std::string("SQLite format 3\0", 16));
}

// The same pins give the same bytes: the linker's time stamp and its image
// base taken from the output's path are the two things that would differ.
TEST(SqliteOdbcDriverFile, CarriesNoStampOfItsBuild) {
  char path[MAX_PATH] = {};
  GetFullPathNameA(QUILLON_ODBC_DRIVER, MAX_PATH, path, nullptr);
  UniqueHandle h(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr));
  ASSERT_TRUE(h) << path;
  std::string bytes(4096, '\0');
  DWORD n = 0;
  ReadFile(h.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &n, nullptr);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  ASSERT_TRUE(n == bytes.size() && dos->e_magic == IMAGE_DOS_SIGNATURE &&
              dos->e_lfanew > 0 && dos->e_lfanew < 2048);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
  EXPECT_EQ(nt->FileHeader.TimeDateStamp, 0u);
  EXPECT_EQ(nt->OptionalHeader.ImageBase, 0x180000000ull) << std::hex << nt->OptionalHeader.ImageBase;
}

}  // namespace
