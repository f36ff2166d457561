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
#include "plain_insert_rate.h"

namespace {

using Clock = std::chrono::steady_clock;

double LayerRowsPerSecond(const ConnectionPtr& conn, int nRows) {
  Clock::time_point start = Clock::now();
  for (int i = 0; i < nRows; ++i) {
    CPrnDataRecord record;
    FillBenchRecord(record, i);
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
