// quillonctl.exe given what it must refuse: it names what is wrong, exits
// non-zero, and changes nothing: not the database, not the lists, not the
// service's "DSN" setting.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "db_test_support.h"
#include "installed_service.h"
#include "service_core/configuration.h"
#include "service_core/win_owners.h"
#include "temp_directory.h"

namespace {

DWORD Quillonctl(const std::string& args, std::string* pOutput) {
  return RunProgramOutput(FullPath(QUILLONCTL_EXE), args, pOutput);
}

// The "DSN" value as it is, or "<none>"; restored at the end of the scope.
class CDsnKeeper {
 public:
  CDsnKeeper() : m_before(Read()) {}
  ~CDsnKeeper() {
    if (m_before == "<none>") {
      RegKey key;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, key.put()) ==
          ERROR_SUCCESS) {
        RegDeleteValueA(key.get(), kDsnValue);
      }
    } else {
      SetServiceDsn(m_before);
    }
  }
  static std::string Read() {
    RegKey key;
    char sz[512] = {};
    DWORD cb = sizeof(sz) - 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS ||
        RegQueryValueExA(key.get(), kDsnValue, nullptr, nullptr, reinterpret_cast<BYTE*>(sz),
                         &cb) != ERROR_SUCCESS) {
      return "<none>";
    }
    return sz;
  }

 private:
  std::string m_before;
};

const char kOtherDsn[] = "Driver=SQLite3;Database=/nonexistent/kept.db";

TEST(BadInputTest, APrinterNameWithALineBreakIsRefusedAndNoListIsWritten) {
  CTempDirectory dir;
  std::string out;
  EXPECT_EQ(Quillonctl("printer add \"Laser\nTwo\" --service-dir \"" + dir.Path() + "\"", &out),
            1u);
  EXPECT_NE(out.find("cannot hold a line break"), std::string::npos) << out;
  EXPECT_FALSE(dir.Exists("printers.lst"));
  EXPECT_FALSE(dir.Exists("gdiprinters.lst"));
  // One bad name among several: none of them is listed.
  EXPECT_EQ(Quillonctl("printer add --names \"Laser 1;//Laser 2\" --service-dir \"" + dir.Path() +
                           "\"", &out),
            1u);
  EXPECT_NE(out.find("comment"), std::string::npos) << out;
  EXPECT_FALSE(dir.Exists("printers.lst"));
}

TEST(BadInputTest, ADsnThatDoesNotOpenShowsTheDriversWordsAndIsNotWritten) {
  CDsnKeeper keep;
  ASSERT_TRUE(SetServiceDsn(kOtherDsn));
  std::string out;
  EXPECT_EQ(Quillonctl("setup --dsn \"Driver={No Such Driver};Pwd=hush\"", &out), 6u);
  EXPECT_NE(out.find("the database does not open"), std::string::npos) << out;
  EXPECT_NE(out.find("[01000]"), std::string::npos) << "the driver manager's diagnostic: " << out;
  EXPECT_EQ(out.find("hush"), std::string::npos) << "the password is shown: " << out;
  EXPECT_EQ(CDsnKeeper::Read(), kOtherDsn);
}

class BadInputDatabaseTest : public DatabaseTest {
 protected:
  Schema SchemaOfTest() const override { return Schema::None; }
  std::string Dsn() const { return "\"" + db->ConnectionString() + "\""; }
};

TEST_P(BadInputDatabaseTest, AnUnknownActionIsNamedAndNothingIsRegistered) {
  db->Exec("CREATE TABLE PRINTERS (idPrinter INTEGER PRIMARY KEY, PrnName VARCHAR(254))");
  std::string out;
  EXPECT_EQ(Quillonctl("rule add --printer P --user U --action zap --dsn " + Dsn(), &out), 1u);
  EXPECT_NE(out.find("--action takes none, pause"), std::string::npos) << out;
  EXPECT_EQ(db->Count("PRINTERS"), 0);
}

TEST_P(BadInputDatabaseTest, ADatabaseWhosePrndataLacksAColumnIsNamedAndLeftAsItIs) {
  CDsnKeeper keep;
  ASSERT_TRUE(SetServiceDsn(kOtherDsn));
  db->Exec("CREATE TABLE PRNDATA (idPrnData INTEGER PRIMARY KEY, idPrinter INTEGER, "
           "idUser INTEGER, idComp INTEGER, DocName VARCHAR(254), Pages INTEGER, "
           "JobSize INTEGER, Submitted INTEGER, PaperSize SMALLINT, PaperLength SMALLINT, "
           "PaperWidth SMALLINT, Duplex SMALLINT)");
  std::string out;
  EXPECT_EQ(Quillonctl("setup --dsn " + Dsn(), &out), 7u);
  EXPECT_NE(out.find("PRNDATA: column 12 is Duplex where the service expects Color"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Nothing was changed"), std::string::npos) << out;
  EXPECT_THROW(db->Count("PRINTERS"), std::runtime_error) << "a table was created";
  EXPECT_EQ(CDsnKeeper::Read(), kOtherDsn);
}

INSTANTIATE_FOR_BOTH_DATABASES(BadInputDatabaseTest);

}  // namespace
