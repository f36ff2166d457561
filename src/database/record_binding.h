// Binding of fixed in-memory records to table columns: each record class
// lists, per bound column, where its value and its status word live.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

// Data types of bound columns.
enum : WORD {
  adEmpty = 0,
  adSmallInt = 2,   // int16
  adInteger = 3,    // int32
  adVarChar = 200,  // ANSI text, zero-terminated in a fixed buffer
};

// Field status words.
enum : DWORD {
  adFldOK = 0,          // the value is valid
  adFldTruncated = 4,   // text was cut to fit its buffer
  adFldNull = 3,        // the column holds NULL
  adFldDefault = 13,    // on append: let the database supply the value
  adFldIgnore = 15,     // on append: leave the column out
};

// Preset of a status word that an operation tests after binding: still set
// afterwards means there was no current row.
constexpr DWORD kStatusUnset = 0xFFFFFFFF;

struct BINDING_ENTRY {
  ULONG ulOrdinal;        // 1-based column position; 0 ends the table
  WORD wType;             // adInteger, adSmallInt, adVarChar; adEmpty ends
  BYTE bPrecision;        // always 0
  BYTE bScale;            // always 0
  ULONG ulSize;           // value buffer size; text includes the terminator
  ULONG ulValueOffset;    // position of the value in the record
  ULONG ulStatusOffset;   // position of the DWORD status word
  ULONG ulLengthOffset;   // always 0: no length field is bound
  ULONG ulBaseOffset;     // always 0
  BOOL fModify;           // always TRUE
};

class CADORecordBinding {
 public:
  virtual ~CADORecordBinding() = default;
  // The record's binding table, ended by an entry with ordinal 0.
  virtual const BINDING_ENTRY* GetADOBindingEntries() = 0;
};

// Binding tables are written with these macros inside the record class:
//   BEGIN_BINDING_TABLE(CPrinterRecord)
//     BIND_FIXED(1, adInteger, lIdPrinter, dwIdPrinterStatus)
//     BIND_TEXT(2, szPrnName, 255, dwPrnNameStatus)
//   END_BINDING_TABLE()
// Offsets are taken with offsetof on a polymorphic class: every compiler the
// service is built with lays such a class out with fixed member offsets.
#define BEGIN_BINDING_TABLE(cls)                                    \
 public:                                                            \
  const BINDING_ENTRY* GetADOBindingEntries() override {            \
    typedef cls ThisRecord;                                         \
    static const BINDING_ENTRY entries[] = {

#define BIND_FIXED(ordinal, type, member, status)                   \
  {ordinal, type, 0, 0,                                             \
   static_cast<ULONG>(sizeof(static_cast<ThisRecord*>(nullptr)->member)), \
   static_cast<ULONG>(offsetof(ThisRecord, member)),                \
   static_cast<ULONG>(offsetof(ThisRecord, status)), 0, 0, TRUE},

#define BIND_TEXT(ordinal, member, size, status)                    \
  {ordinal, adVarChar, 0, 0, size,                                  \
   static_cast<ULONG>(offsetof(ThisRecord, member)),                \
   static_cast<ULONG>(offsetof(ThisRecord, status)), 0, 0, TRUE},

#define END_BINDING_TABLE()                                         \
      {0, adEmpty, 0, 0, 0, 0, 0, 0, 0, FALSE}};                    \
    return entries;                                                 \
  }
