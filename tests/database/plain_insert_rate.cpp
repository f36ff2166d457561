#include "plain_insert_rate.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "database/odbc_statement.h"
#include "database/record_transfer.h"

void FillBenchRecord(CPrnDataRecord& record, int i) {
  PrepareForAppend(record);
  record.lIdPrinter = 1 + i % 50;
  record.lIdUser = 1 + i % 500;
  record.lIdComp = 1 + i % 200;
  std::snprintf(record.szDocName, sizeof(record.szDocName), "Document %d.pdf", i);
  record.lPages = 1 + i % 30;
  record.lJobSize = 10000 + i;
  record.lSubmitted = 1700000000 + i;
  record.nPaperSize = 9;
  record.nPaperLength = 2970;
  record.nPaperWidth = 2100;
  record.nDuplex = 1;
  record.nColor = 2;
}

double PlainRowsPerSecond(const ConnectionPtr& conn, int nRows) {
  std::lock_guard<std::recursive_mutex> lock(conn->Mutex());
  COdbcStatement stmt(conn->Handle());
  stmt.Prepare(
      L"INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages, JobSize, "
      L"Submitted, PaperSize, PaperLength, PaperWidth, Color, Duplex) "
      L"VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  for (int i = 0; i < nRows; ++i) {
    CPrnDataRecord r;
    FillBenchRecord(r, i);
    std::vector<CParameterValue> values = {
        r.lIdPrinter, r.lIdUser, r.lIdComp, std::string(r.szDocName), r.lPages,
        r.lJobSize, r.lSubmitted, CParameterValue::SmallInt(r.nPaperSize),
        CParameterValue::SmallInt(r.nPaperLength), CParameterValue::SmallInt(r.nPaperWidth),
        CParameterValue::SmallInt(r.nColor), CParameterValue::SmallInt(r.nDuplex)};
    BindParameters(stmt, values);
    stmt.Execute();
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return nRows / elapsed.count();
}

