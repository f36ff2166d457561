#include "database/record_transfer.h"

#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "database/com_errors.h"
#include "database/field_text.h"
#include "database/wide_text.h"

CParameterValue::CParameterValue(int32_t lValue)
    : m_nCType(SQL_C_SLONG), m_nSqlType(SQL_INTEGER), m_lValue(lValue) {}

CParameterValue::CParameterValue(const char* pszText)
    : CParameterValue(std::string(pszText ? pszText : "")) {}

CParameterValue::CParameterValue(const std::string& text)
    : m_nCType(SQL_C_WCHAR), m_nSqlType(SQL_WVARCHAR), m_text(AnsiToWide(text)) {
  m_cbIndicator = static_cast<SQLLEN>(m_text.size() * sizeof(SQLWCHAR));
}

CParameterValue CParameterValue::SmallInt(int16_t nValue) {
  CParameterValue v;
  v.m_nCType = SQL_C_SSHORT;
  v.m_nSqlType = SQL_SMALLINT;
  v.m_nValue = nValue;
  return v;
}

CParameterValue CParameterValue::Wide(const std::wstring& text) {
  CParameterValue v;
  v.m_nCType = SQL_C_WCHAR;
  v.m_nSqlType = SQL_WVARCHAR;
  v.m_text = text;
  v.m_cbIndicator = static_cast<SQLLEN>(text.size() * sizeof(SQLWCHAR));
  return v;
}

CParameterValue CParameterValue::Null(WORD wType) {
  CParameterValue v;
  if (wType == adVarChar) {
    v.m_nCType = SQL_C_WCHAR;
    v.m_nSqlType = SQL_WVARCHAR;
  } else if (wType == adSmallInt) {
    v.m_nCType = SQL_C_SSHORT;
    v.m_nSqlType = SQL_SMALLINT;
  }
  v.m_cbIndicator = SQL_NULL_DATA;
  return v;
}

void CParameterValue::Bind(COdbcStatement& stmt, SQLUSMALLINT nParam) {
  SQLPOINTER pValue = nullptr;
  SQLULEN cchColumn = 0;
  SQLLEN cbBuffer = 0;
  if (m_nCType == SQL_C_WCHAR) {
    pValue = const_cast<wchar_t*>(m_text.c_str());
    cchColumn = std::max<SQLULEN>(m_text.size(), 1);
    cbBuffer = static_cast<SQLLEN>((m_text.size() + 1) * sizeof(SQLWCHAR));
  } else if (m_nCType == SQL_C_SSHORT) {
    pValue = &m_nValue;
    cchColumn = 5;
  } else {
    pValue = &m_lValue;
    cchColumn = 10;
  }
  stmt.Check(SQLBindParameter(stmt.Handle(), nParam, SQL_PARAM_INPUT, m_nCType,
                              m_nSqlType, cchColumn, 0, pValue, cbBuffer,
                              &m_cbIndicator));
}

void BindParameters(COdbcStatement& stmt, std::vector<CParameterValue>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    values[i].Bind(stmt, static_cast<SQLUSMALLINT>(i + 1));
  }
}

std::vector<const BINDING_ENTRY*> CheckedBindingEntries(CADORecordBinding* pRecord) {
  if (!pRecord) RaiseComError(E_POINTER, L"No record was given to bind.");
  const BINDING_ENTRY* pEntries = pRecord->GetADOBindingEntries();
  if (!pEntries) RaiseComError(E_INVALIDARG, L"The record has no binding table.");

  std::vector<const BINDING_ENTRY*> entries;
  for (const BINDING_ENTRY* p = pEntries; p->ulOrdinal != 0 || p->wType != adEmpty;
       ++p) {
    if (entries.size() == kMaxBindingEntries) {
      RaiseComError(E_INVALIDARG, L"The record's binding table has no end entry.");
    }
    bool bSizeFits = (p->wType == adInteger && p->ulSize == sizeof(int32_t)) ||
                     (p->wType == adSmallInt && p->ulSize == sizeof(int16_t)) ||
                     (p->wType == adVarChar && p->ulSize >= 1);
    if (p->ulOrdinal == 0 || !bSizeFits || p->ulLengthOffset != 0 ||
        p->ulBaseOffset != 0) {
      RaiseComError(E_INVALIDARG,
                    L"Binding entry for column " + std::to_wstring(p->ulOrdinal) +
                        L" has an unsupported type, size or layout.");
    }
    entries.push_back(p);
  }
  return entries;
}

namespace {

char* FieldAt(CADORecordBinding* pRecord, ULONG ulOffset) {
  return reinterpret_cast<char*>(pRecord) + ulOffset;
}

DWORD* StatusAt(CADORecordBinding* pRecord, const BINDING_ENTRY* p) {
  return reinterpret_cast<DWORD*>(FieldAt(pRecord, p->ulStatusOffset));
}

// One column of the current row, converted for its field.
struct FIELD_VALUE {
  const BINDING_ENTRY* pEntry;
  DWORD dwStatus;
  int64_t llValue;
  std::string text;
};

[[noreturn]] void RaiseOverflow(const std::wstring& source, ULONG ulOrdinal,
                                int64_t llValue) {
  RaiseComError(DISP_E_OVERFLOW,
                L"Column " + std::to_wstring(ulOrdinal) + L" of " + source +
                    L" holds " + std::to_wstring(llValue) +
                    L", which does not fit its field.");
}

FIELD_VALUE ReadColumn(COdbcStatement& stmt, const BINDING_ENTRY* p,
                       SQLUSMALLINT nColumn, const std::wstring& source) {
  FIELD_VALUE field{p, adFldOK, 0, std::string()};
  SQLLEN cbIndicator = 0;
  if (p->wType == adVarChar) {
    // Room for more characters than the field holds, so that a cut is seen.
    std::wstring buffer(static_cast<size_t>(p->ulSize) * 2 + 2, L'\0');
    SQLRETURN rc = SQLGetData(stmt.Handle(), nColumn, SQL_C_WCHAR, &buffer[0],
                              static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)),
                              &cbIndicator);
    stmt.Check(rc);
    if (cbIndicator == SQL_NULL_DATA) {
      field.dwStatus = adFldNull;
      return field;
    }
    bool bCut = cbIndicator == SQL_NO_TOTAL ||
                static_cast<size_t>(cbIndicator) >=
                    buffer.size() * sizeof(SQLWCHAR);
    size_t cch = std::wcslen(buffer.c_str());
    std::string ansi = WideToAnsi(buffer.c_str(), cch);
    field.text = CutBytesToWidth(ansi.data(), ansi.size(), p->ulSize - 1);
    if (bCut || field.text.size() < ansi.size()) field.dwStatus = adFldTruncated;
    return field;
  }

  SQLBIGINT llValue = 0;
  stmt.Check(SQLGetData(stmt.Handle(), nColumn, SQL_C_SBIGINT, &llValue,
                        sizeof(llValue), &cbIndicator));
  if (cbIndicator == SQL_NULL_DATA) {
    field.dwStatus = adFldNull;
    return field;
  }
  int64_t lo = p->wType == adSmallInt ? std::numeric_limits<int16_t>::min()
                                      : std::numeric_limits<int32_t>::min();
  int64_t hi = p->wType == adSmallInt ? std::numeric_limits<int16_t>::max()
                                      : std::numeric_limits<int32_t>::max();
  if (llValue < lo || llValue > hi) RaiseOverflow(source, p->ulOrdinal, llValue);
  field.llValue = llValue;
  return field;
}

void StoreField(CADORecordBinding* pRecord, const FIELD_VALUE& field) {
  const BINDING_ENTRY* p = field.pEntry;
  char* pValue = FieldAt(pRecord, p->ulValueOffset);
  if (p->wType == adVarChar) {
    std::memset(pValue, 0, p->ulSize);
    std::memcpy(pValue, field.text.data(), field.text.size());
  } else if (p->wType == adSmallInt) {
    int16_t n = static_cast<int16_t>(field.llValue);
    std::memcpy(pValue, &n, sizeof(n));
  } else {
    int32_t l = static_cast<int32_t>(field.llValue);
    std::memcpy(pValue, &l, sizeof(l));
  }
  *StatusAt(pRecord, p) = field.dwStatus;
}

}  // namespace

void CopyRowToRecord(COdbcStatement& stmt, CADORecordBinding* pRecord,
                     const std::wstring& source, const std::vector<ULONG>* pColumns) {
  std::vector<const BINDING_ENTRY*> entries = CheckedBindingEntries(pRecord);
  // Drivers may only hand out columns in ascending order.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const BINDING_ENTRY* a, const BINDING_ENTRY* b) {
                     return a->ulOrdinal < b->ulOrdinal;
                   });
  // A result of chosen columns is known to hold them; ask only otherwise.
  SQLSMALLINT nColumns = pColumns ? static_cast<SQLSMALLINT>(pColumns->size())
                                  : stmt.ResultColumns();
  std::vector<FIELD_VALUE> fields;
  fields.reserve(entries.size());
  for (const BINDING_ENTRY* p : entries) {
    ULONG ulResultColumn = p->ulOrdinal;
    if (pColumns) {
      auto it = std::find(pColumns->begin(), pColumns->end(), p->ulOrdinal);
      if (it == pColumns->end()) continue;
      ulResultColumn = static_cast<ULONG>(it - pColumns->begin()) + 1;
    }
    if (ulResultColumn > static_cast<ULONG>(nColumns)) {
      RaiseComError(E_INVALIDARG, source + L" has no column " +
                                      std::to_wstring(p->ulOrdinal) + L".");
    }
    if (!fields.empty() && fields.back().pEntry->ulOrdinal == p->ulOrdinal) {
      FIELD_VALUE copy = fields.back();
      copy.pEntry = p;
      fields.push_back(copy);
      continue;
    }
    fields.push_back(ReadColumn(stmt, p, static_cast<SQLUSMALLINT>(ulResultColumn),
                                source));
  }
  for (const FIELD_VALUE& field : fields) StoreField(pRecord, field);
}

INSERT_VALUES ValuesFromRecord(CADORecordBinding* pRecord) {
  INSERT_VALUES insert;
  for (const BINDING_ENTRY* p : CheckedBindingEntries(pRecord)) {
    DWORD dwStatus = *StatusAt(pRecord, p);
    if (!p->fModify || (dwStatus != adFldOK && dwStatus != adFldNull)) {
      insert.generated.push_back(p->ulOrdinal);
      continue;
    }
    if (std::find(insert.ordinals.begin(), insert.ordinals.end(), p->ulOrdinal) !=
        insert.ordinals.end()) {
      RaiseComError(E_INVALIDARG, L"Column " + std::to_wstring(p->ulOrdinal) +
                                      L" is bound twice for an append.");
    }
    insert.ordinals.push_back(p->ulOrdinal);
    if (dwStatus == adFldNull) {
      insert.values.push_back(CParameterValue::Null(p->wType));
      continue;
    }
    const char* pValue = FieldAt(pRecord, p->ulValueOffset);
    if (p->wType == adVarChar) {
      // A field without its terminator still ends at its width.
      size_t cb = strnlen(pValue, p->ulSize);
      insert.values.push_back(CParameterValue(CutBytesToWidth(pValue, cb, p->ulSize - 1)));
    } else if (p->wType == adSmallInt) {
      int16_t n;
      std::memcpy(&n, pValue, sizeof(n));
      insert.values.push_back(CParameterValue::SmallInt(n));
    } else {
      int32_t l;
      std::memcpy(&l, pValue, sizeof(l));
      insert.values.push_back(CParameterValue(l));
    }
  }
  std::sort(insert.generated.begin(), insert.generated.end());
  insert.generated.erase(std::unique(insert.generated.begin(), insert.generated.end()),
                         insert.generated.end());
  // A column both written and left out is written.
  for (ULONG ulOrdinal : insert.ordinals) {
    insert.generated.erase(
        std::remove(insert.generated.begin(), insert.generated.end(), ulOrdinal),
        insert.generated.end());
  }
  return insert;
}
