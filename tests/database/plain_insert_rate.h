// What the benchmarks measure the database layer and the accounting
// against: a plain prepared INSERT into PRNDATA, executed in a loop on the
// same connection.
#pragma once

#include "database/connection.h"
#include "database/record_classes.h"

// A print record with values that vary with i, ready to append.
void FillBenchRecord(CPrnDataRecord& record, int i);

// Rows per second of the plain loop over nRows rows.
double PlainRowsPerSecond(const ConnectionPtr& conn, int nRows);
