// The recordset layer against a real database: reading rows into records,
// statuses, appends with generated ids, and failures as COM errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/record_classes.h"
#include "database/recordset.h"
#include "db_test_support.h"

namespace {

class RecordsetTest : public DatabaseTest {};

HRESULT ErrorOf(void (*pfn)(void*), void* pContext) {
  try {
    pfn(pContext);
  } catch (const _com_error& e) {
    return e.Error();
  }
  return S_OK;
}

TEST_P(RecordsetTest, ReadsEveryRowByColumnPositionWithStatuses) {
  db->Exec("INSERT INTO PRINTERS (PrnName) VALUES ('alpha'), ('beta'), (' gamma ')");
  CPrinterRecord record;
  CRecordset rs;
  rs.Open("PRINTERS", conn);
  rs.BindToRecordset(&record);
  std::vector<std::string> names;
  std::vector<int32_t> ids;
  while (!rs.IsEOF()) {
    EXPECT_EQ(record.dwPrnNameStatus, adFldOK);
    EXPECT_EQ(record.dwIdPrinterStatus, adFldOK);
    names.push_back(record.szPrnName);
    ids.push_back(record.lIdPrinter);
    rs.MoveNext();
  }
  rs.Close();
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta", " gamma "}));
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));
}

TEST_P(RecordsetTest, NoMatchingRowLeavesStatusesAndNullGivesNullStatus) {
  CPrinterRecord record;
  CRecordset rs;
  rs.Open("PRINTERS WHERE PrnName = ?", conn, {"nobody"});
  rs.BindToRecordset(&record);
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(record.dwIdPrinterStatus, kStatusUnset);
  EXPECT_EQ(record.dwPrnNameStatus, kStatusUnset);
  try {
    rs.MoveNext();
    ADD_FAILURE() << "MoveNext at the end must raise";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_UNEXPECTED);
  }
  rs.Close();

  db->Exec("INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages) "
           "VALUES (1, 2, 3, NULL, 4)");
  CPrnDataRecord data;
  rs.Open("PRNDATA", conn);
  rs.BindToRecordset(&data);
  EXPECT_EQ(data.dwDocNameStatus, adFldNull);
  EXPECT_EQ(data.dwPaperSizeStatus, adFldNull);
  EXPECT_EQ(data.dwPagesStatus, adFldOK);
  EXPECT_EQ(data.lPages, 4);
}

TEST_P(RecordsetTest, AddNewStoresValuesInTheirColumnsAndShowsTheGeneratedId) {
  for (int i = 1; i <= 2; ++i) {
    CPrnDataRecord record;
    PrepareForAppend(record);
    record.lIdPrinter = 10 * i;
    record.lIdUser = 20;
    record.lIdComp = -1;
    std::strcpy(record.szDocName, "Report 'Q3'.pdf");
    record.lPages = 12;
    record.lJobSize = 123456;
    record.lSubmitted = 1700000000;
    record.nPaperSize = 9;
    record.nPaperLength = 2970;
    record.nPaperWidth = 2100;
    record.nDuplex = 2;
    record.nColor = 1;
    CRecordset rs;
    rs.Open("PRNDATA", conn);
    rs.AddNew(&record);
    EXPECT_EQ(record.dwIdPrnDataStatus, adFldOK);
    EXPECT_EQ(record.lIdPrnData, i);
    EXPECT_EQ(record.lIdPrinter, 10 * i);
  }
  EXPECT_EQ(db->QueryInt("SELECT Color FROM PRNDATA WHERE idPrnData = 2"), 1);
  EXPECT_EQ(db->QueryInt("SELECT Duplex FROM PRNDATA WHERE idPrnData = 2"), 2);
  EXPECT_EQ(db->QueryInt("SELECT PaperWidth FROM PRNDATA WHERE idPrnData = 2"), 2100);
  EXPECT_EQ(db->QueryInt("SELECT idComp FROM PRNDATA WHERE idPrnData = 2"), -1);
  EXPECT_EQ(db->QueryTexts("SELECT DocName FROM PRNDATA WHERE idPrnData = 1"),
            std::vector<std::string>{"Report 'Q3'.pdf"});
}

TEST_P(RecordsetTest, AnsiTextIsStoredAsUnicode) {
  if (GetACP() != 1252) GTEST_SKIP() << "the case is written for code page 1252";
  CPrinterRecord record;
  std::strcpy(record.szPrnName, "Caf\xE9 \x80");   // e acute, euro sign
  PrepareForAppend(record);
  CRecordset rs;
  rs.Open("PRINTERS", conn);
  rs.AddNew(&record);
  rs.Close();
  EXPECT_EQ(db->QueryInt("SELECT LENGTH(PrnName) FROM PRINTERS"), 6);
  const char* pszCodePoint = db->Kind() == Backend::SQLite ? "UNICODE" : "ASCII";
  EXPECT_EQ(db->QueryInt(std::string("SELECT ") + pszCodePoint +
                         "(SUBSTR(PrnName, 4, 1)) FROM PRINTERS"),
            0xE9);
  EXPECT_EQ(db->QueryInt(std::string("SELECT ") + pszCodePoint +
                         "(SUBSTR(PrnName, 6, 1)) FROM PRINTERS"),
            0x20AC);
  CPrinterRecord back;
  rs.Open("PRINTERS", conn);
  rs.BindToRecordset(&back);
  EXPECT_STREQ(back.szPrnName, "Caf\xE9 \x80");
}

TEST_P(RecordsetTest, FailuresRaiseComErrorsWithTheDriversDiagnostic) {
  struct Ctx {
    ConnectionPtr conn;
    const char* pszSource;
  };
  auto open_and_bind = [](void* p) {
    Ctx* c = static_cast<Ctx*>(p);
    CPrinterRecord record;
    CRecordset rs;
    rs.Open(c->pszSource, c->conn);
    rs.BindToRecordset(&record);
  };
  Ctx missing{conn, "NOPE"};
  try {
    open_and_bind(&missing);
    ADD_FAILURE() << "a missing table must raise";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
    std::string text = ComErrorDescription(e);
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(text.find("nope"), std::string::npos) << text;
  }
  Ctx injected{conn, "PRINTERS; DROP TABLE USERS"};
  EXPECT_EQ(ErrorOf(open_and_bind, &injected), E_INVALIDARG);
  EXPECT_EQ(db->Count("USERS"), 0);   // still there
  Ctx empty{ConnectionPtr(), "PRINTERS"};
  EXPECT_EQ(ErrorOf(open_and_bind, &empty), E_POINTER);
  ConnectionPtr closed = db->Connect();
  closed->Close();
  Ctx notOpen{closed, "PRINTERS"};
  EXPECT_EQ(ErrorOf(open_and_bind, &notOpen), E_FAIL);

  // A value beyond its field is an error, not a silently wrong number.
  db->WidenColumn("PRNPERMISSIONS", "Action");
  db->Exec("INSERT INTO PRNPERMISSIONS (idPrinter, idUser, Action) VALUES (1, 1, 5000000000)");
  try {
    CPermissionRecord record;
    CRecordset rs;
    rs.Open("PRNPERMISSIONS", conn);
    rs.BindToRecordset(&record);
    ADD_FAILURE() << "an out-of-range value must raise";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_OVERFLOW);
  }
}

INSTANTIATE_FOR_BOTH_DATABASES(RecordsetTest);

TEST(CutToWidth, KeepsWholeCharactersOfTheCodePage) {
  // Shift-JIS: 0x82 0xA0 is one character.
  const char sjis[] = "ab\x82\xA0\x82\xA2";
  EXPECT_EQ(CutBytesToWidth(sjis, 6, 6, 932), sjis);
  EXPECT_EQ(CutBytesToWidth(sjis, 6, 5, 932), std::string("ab\x82\xA0"));
  EXPECT_EQ(CutBytesToWidth(sjis, 6, 3, 932), std::string("ab"));
  // UTF-8: the euro sign takes three bytes.
  const char utf8[] = "x\xE2\x82\xAC";
  EXPECT_EQ(CutBytesToWidth(utf8, 4, 3, CP_UTF8), std::string("x"));
  EXPECT_EQ(CutBytesToWidth("abcdef", 6, 4, 1252), std::string("abcd"));
  EXPECT_EQ(CutToWidth(nullptr, 4), std::string());
}

}  // namespace
