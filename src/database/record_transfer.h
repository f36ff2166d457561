// Moves values between bound records and ODBC statements: the current row
// into a record (values and status words), a record's values into the
// parameters of an append, and lookup values into parameters.
#pragma once

#include <windows.h>
#include <sql.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "database/odbc_statement.h"
#include "database/record_binding.h"

// One value bound to a "?" of a statement. Texts are ANSI and travel as
// wide strings.
class CParameterValue {
 public:
  CParameterValue(int32_t lValue);            // NOLINT: lookups pass plain ids
  CParameterValue(const char* pszText);       // NOLINT: and plain names
  CParameterValue(const std::string& text);   // NOLINT
  static CParameterValue SmallInt(int16_t nValue);
  // A text that is wide already (a name typed by a person), not ANSI.
  static CParameterValue Wide(const std::wstring& text);
  static CParameterValue Null(WORD wType);

  // The value must stay in place until the statement has run.
  void Bind(COdbcStatement& stmt, SQLUSMALLINT nParam);

 private:
  CParameterValue() = default;

  SQLSMALLINT m_nCType = SQL_C_SLONG;
  SQLSMALLINT m_nSqlType = SQL_INTEGER;
  int32_t m_lValue = 0;
  int16_t m_nValue = 0;
  std::wstring m_text;
  SQLLEN m_cbIndicator = 0;
};

void BindParameters(COdbcStatement& stmt, std::vector<CParameterValue>& values);

// The record's binding table, checked: known types, sizes that fit them,
// ordinals from 1, at most kMaxBindingEntries entries. Raises E_INVALIDARG.
std::vector<const BINDING_ENTRY*> CheckedBindingEntries(CADORecordBinding* pRecord);
constexpr size_t kMaxBindingEntries = 256;

// Copies the statement's current row into the record: every bound column's
// value and status word (adFldOK, adFldNull, adFldTruncated). The record is
// changed only when every value converts; a value out of range for its
// field raises DISP_E_OVERFLOW. Without pColumns the result holds the whole
// table row; with it, result column k holds table column (*pColumns)[k-1]
// and only those columns are copied.
void CopyRowToRecord(COdbcStatement& stmt, CADORecordBinding* pRecord,
                     const std::wstring& source,
                     const std::vector<ULONG>* pColumns = nullptr);

// What an append writes: the ordinals of the columns taken from the record
// and their values. Columns whose status is adFldOK give their value,
// adFldNull gives NULL; every other status (adFldDefault above all) leaves
// the column to the database.
struct INSERT_VALUES {
  std::vector<ULONG> ordinals;
  std::vector<CParameterValue> values;
  std::vector<ULONG> generated;   // bound but left to the database, ascending
};
INSERT_VALUES ValuesFromRecord(CADORecordBinding* pRecord);
