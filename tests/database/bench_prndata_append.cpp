// Appends to PRNDATA through the recordset layer, the way the accounting
// does (open the bare table, AddNew, close), and compares with a plain
// prepared INSERT executed in a loop on the same connection. Run by
// scripts/bench; not a test.
//
//   bench_prndata_append DSN ROWS [label]
// Prints one line: rows/s through the layer, rows/s of the plain loop, and
// their ratio, measured at the table's current size.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "database/connection.h"
#include "database/odbc_statement.h"
#include "database/record_classes.h"
#include "database/recordset.h"
#include "database/record_transfer.h"

namespace {

using Clock = std::chrono::steady_clock;

void FillRecord(CPrnDataRecord& record, int i) {
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

double LayerRowsPerSecond(const ConnectionPtr& conn, int nRows) {
  Clock::time_point start = Clock::now();
  for (int i = 0; i < nRows; ++i) {
    CPrnDataRecord record;
    FillRecord(record, i);
    CRecordset rs;
    rs.Open("PRNDATA", conn);
    rs.AddNew(&record);
    rs.Close();
    if (record.dwIdPrnDataStatus != adFldOK) {
      std::fprintf(stderr, "no id came back\n");
      std::exit(1);
    }
  }
  std::chrono::duration<double> elapsed = Clock::now() - start;
  return nRows / elapsed.count();
}

double PlainRowsPerSecond(const ConnectionPtr& conn, int nRows) {
  std::lock_guard<std::recursive_mutex> lock(conn->Mutex());
  COdbcStatement stmt(conn->Handle());
  stmt.Prepare(
      L"INSERT INTO PRNDATA (idPrinter, idUser, idComp, DocName, Pages, JobSize, "
      L"Submitted, PaperSize, PaperLength, PaperWidth, Color, Duplex) "
      L"VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Clock::time_point start = Clock::now();
  for (int i = 0; i < nRows; ++i) {
    CPrnDataRecord r;
    FillRecord(r, i);
    std::vector<CParameterValue> values = {
        r.lIdPrinter, r.lIdUser, r.lIdComp, std::string(r.szDocName), r.lPages,
        r.lJobSize, r.lSubmitted, CParameterValue::SmallInt(r.nPaperSize),
        CParameterValue::SmallInt(r.nPaperLength), CParameterValue::SmallInt(r.nPaperWidth),
        CParameterValue::SmallInt(r.nColor), CParameterValue::SmallInt(r.nDuplex)};
    BindParameters(stmt, values);
    stmt.Execute();
  }
  std::chrono::duration<double> elapsed = Clock::now() - start;
  return nRows / elapsed.count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DSN ROWS [label]\n", argv[0]);
    return 2;
  }
  int nRows = std::atoi(argv[2]);
  const char* pszLabel = argc > 3 ? argv[3] : "";
  try {
    ConnectionPtr conn;
    conn.CreateInstance();
    conn->Open(argv[1]);
    // Warm both paths (statement preparation, the column names) first.
    LayerRowsPerSecond(conn, 50);
    PlainRowsPerSecond(conn, 50);
    // Alternate the two in short rounds, so that neither gets the quieter
    // moments of a busy machine.
    constexpr int kRounds = 8;
    double layer = 0, plain = 0;
    for (int round = 0; round < kRounds; ++round) {
      layer += LayerRowsPerSecond(conn, nRows / kRounds);
      plain += PlainRowsPerSecond(conn, nRows / kRounds);
    }
    layer /= kRounds;
    plain /= kRounds;
    std::printf("%-28s layer %9.0f rows/s   plain loop %9.0f rows/s   ratio %.2f\n",
                pszLabel, layer, plain, layer / plain);
    conn->Close();
    return 0;
  } catch (const _com_error& e) {
    std::fprintf(stderr, "%s: %s\n", ComErrorText(e).c_str(),
                 ComErrorDescription(e).c_str());
    return 1;
  }
}
