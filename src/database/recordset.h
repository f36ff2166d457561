// A recordset over the shared connection: opened on a source ("TABLE" or
// "TABLE WHERE ..."), it yields every column of the rows the source selects,
// moves them into a bound record one at a time, and appends rows built from
// a record. The connection's mutex is held from Open to Close, so that the
// statements of one recordset never interleave with another thread's.
//
// Every failing call raises _com_error (the driver's diagnostics as error
// info) once.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/com_errors.h"
#include "database/connection.h"
#include "database/odbc_statement.h"
#include "database/record_binding.h"
#include "database/record_transfer.h"

class CRecordset {
 public:
  CRecordset();
  ~CRecordset();
  CRecordset(const CRecordset&) = delete;
  CRecordset& operator=(const CRecordset&) = delete;

  // Takes the source and the values for its "?" markers, in order. Nothing
  // is read yet: the rows are selected when they are first needed, so an
  // append to a bare table never reads the table.
  void Open(const char* pszSource, const ConnectionPtr& pConnection,
            std::vector<CParameterValue> values = {});
  // From now on the current row's values and statuses appear in the record;
  // with no current row its status words are left as they were.
  void BindToRecordset(CADORecordBinding* pRecord);
  // True when there is no current row. (EOF itself is a C library macro.)
  bool IsEOF();
  void MoveNext();
  // Appends a row built from the record (see ValuesFromRecord); afterwards
  // the record shows the stored row: the columns it wrote hold what was
  // stored, and the columns left to the database are read back where the
  // database hands them out (otherwise they keep their values and status).
  // Raises when the append fails.
  void AddNew(CADORecordBinding* pRecord);
  // Ends the recordset and lets the connection go; closing twice is harmless.
  void Close();

  bool IsOpen() const { return m_bOpen; }

 private:
  void RequireOpen() const;
  void Execute();
  void FetchNext();
  void ReadBack(CConnection* pConnection, CADORecordBinding* pRecord,
                COdbcStatement& insert, const std::vector<ULONG>& generated,
                const std::wstring& generatedNames);

  ConnectionPtr m_pConnection;
  std::unique_lock<std::recursive_mutex> m_lock;
  std::wstring m_source;      // as given, for messages
  std::wstring m_table;
  std::wstring m_condition;   // " WHERE ..." or empty
  std::vector<CParameterValue> m_values;
  COdbcStatement m_stmt;
  CADORecordBinding* m_pRecord;
  bool m_bOpen;
  bool m_bExecuted;
  bool m_bEOF;
};
