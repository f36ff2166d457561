// In-memory records of the service's seven tables. Each value member is
// followed by its status word; the binding tables address columns by
// position, so a schema may name the unnamed columns as it likes.
#pragma once

#include <stdint.h>

#include <cstring>

#include "database/record_binding.h"

#if defined(__GNUC__)
// offsetof on these polymorphic classes is well defined for the compilers
// used (no virtual bases); GCC warns about it all the same.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif

// The insert convention of every table: the generated id (column 1, where
// the record binds it) is left to the database, as the value 1 with the
// status adFldDefault, and every other bound column is written as the
// record holds it (adFldOK). Call it after filling the values, before
// CRecordset::AddNew.
inline void PrepareForAppend(CADORecordBinding& record) {
  BYTE* base = reinterpret_cast<BYTE*>(&record);
  for (const BINDING_ENTRY* e = record.GetADOBindingEntries(); e->ulOrdinal; ++e) {
    DWORD status = adFldOK;
    if (e->ulOrdinal == 1) {
      status = adFldDefault;
      if (e->wType == adInteger) {
        const int32_t lOne = 1;
        std::memcpy(base + e->ulValueOffset, &lOne, sizeof(lOne));
      }
    }
    std::memcpy(base + e->ulStatusOffset, &status, sizeof(status));
  }
}

// Widths of the name fields, without the terminating zero.
constexpr size_t kPrinterNameWidth = 254;
constexpr size_t kUserNameWidth = 254;
constexpr size_t kComputerNameWidth = 19;
constexpr size_t kDocNameWidth = 254;

// PRINTERS: idPrinter (generated), PrnName.
class CPrinterRecord : public CADORecordBinding {
  BEGIN_BINDING_TABLE(CPrinterRecord)
    BIND_FIXED(1, adInteger, lIdPrinter, dwIdPrinterStatus)
    BIND_TEXT(2, szPrnName, kPrinterNameWidth + 1, dwPrnNameStatus)
  END_BINDING_TABLE()

 public:
  char szPrnName[256] = {};
  DWORD dwPrnNameStatus = kStatusUnset;
  int32_t lIdPrinter = 0;
  DWORD dwIdPrinterStatus = kStatusUnset;
};

// USERS: idUser (generated), UserName.
class CUserRecord : public CADORecordBinding {
  BEGIN_BINDING_TABLE(CUserRecord)
    BIND_FIXED(1, adInteger, lIdUser, dwIdUserStatus)
    BIND_TEXT(2, szUserName, kUserNameWidth + 1, dwUserNameStatus)
  END_BINDING_TABLE()

 public:
  char szUserName[256] = {};
  DWORD dwUserNameStatus = kStatusUnset;
  int32_t lIdUser = 0;
  DWORD dwIdUserStatus = kStatusUnset;
};

// COMPUTERS: idComp (generated), CompName.
class CComputerRecord : public CADORecordBinding {
  BEGIN_BINDING_TABLE(CComputerRecord)
    BIND_FIXED(1, adInteger, lIdComp, dwIdCompStatus)
    BIND_TEXT(2, szCompName, kComputerNameWidth + 1, dwCompNameStatus)
  END_BINDING_TABLE()

 public:
  char szCompName[20] = {};
  DWORD dwCompNameStatus = kStatusUnset;
  int32_t lIdComp = 0;
  DWORD dwIdCompStatus = kStatusUnset;
};

// PRNPERMISSIONS: (unused), idPrinter, idUser, Action; -1 ids are wildcards.
class CPermissionRecord : public CADORecordBinding {
  BEGIN_BINDING_TABLE(CPermissionRecord)
    BIND_FIXED(2, adInteger, lIdPrinter, dwIdPrinterStatus)
    BIND_FIXED(3, adInteger, lIdUser, dwIdUserStatus)
    BIND_FIXED(4, adInteger, lAction, dwActionStatus)
  END_BINDING_TABLE()

 public:
  int32_t lIdPrinter = 0;
  DWORD dwIdPrinterStatus = kStatusUnset;
  int32_t lIdUser = 0;
  DWORD dwIdUserStatus = kStatusUnset;
  int32_t lAction = 0;
  DWORD dwActionStatus = kStatusUnset;
};

// PRNUSERS (idUser) and PRNCOMPS (idComp): (generated), idPrinter, member.
class CPrinterLinkRecord : public CADORecordBinding {
  BEGIN_BINDING_TABLE(CPrinterLinkRecord)
    BIND_FIXED(2, adInteger, lIdPrinter, dwIdPrinterStatus)
    BIND_FIXED(3, adInteger, lIdMember, dwIdMemberStatus)
  END_BINDING_TABLE()

 public:
  int32_t lIdPrinter = 0;
  DWORD dwIdPrinterStatus = kStatusUnset;
  int32_t lIdMember = 0;
  DWORD dwIdMemberStatus = kStatusUnset;
};

// PRNDATA: one row per accounted print job. Duplex (column 13) is declared
// before Color (column 12); the binding table lists columns in order.
class CPrnDataRecord : public CADORecordBinding {
  BEGIN_BINDING_TABLE(CPrnDataRecord)
    BIND_FIXED(1, adInteger, lIdPrnData, dwIdPrnDataStatus)
    BIND_FIXED(2, adInteger, lIdPrinter, dwIdPrinterStatus)
    BIND_FIXED(3, adInteger, lIdUser, dwIdUserStatus)
    BIND_FIXED(4, adInteger, lIdComp, dwIdCompStatus)
    BIND_TEXT(5, szDocName, kDocNameWidth + 1, dwDocNameStatus)
    BIND_FIXED(6, adInteger, lPages, dwPagesStatus)
    BIND_FIXED(7, adInteger, lJobSize, dwJobSizeStatus)
    BIND_FIXED(8, adInteger, lSubmitted, dwSubmittedStatus)
    BIND_FIXED(9, adSmallInt, nPaperSize, dwPaperSizeStatus)
    BIND_FIXED(10, adSmallInt, nPaperLength, dwPaperLengthStatus)
    BIND_FIXED(11, adSmallInt, nPaperWidth, dwPaperWidthStatus)
    BIND_FIXED(12, adSmallInt, nColor, dwColorStatus)
    BIND_FIXED(13, adSmallInt, nDuplex, dwDuplexStatus)
  END_BINDING_TABLE()

 public:
  int32_t lIdPrnData = 0;
  DWORD dwIdPrnDataStatus = kStatusUnset;
  int32_t lIdPrinter = 0;
  DWORD dwIdPrinterStatus = kStatusUnset;
  int32_t lIdUser = 0;
  DWORD dwIdUserStatus = kStatusUnset;
  int32_t lIdComp = 0;
  DWORD dwIdCompStatus = kStatusUnset;
  char szDocName[256] = {};
  DWORD dwDocNameStatus = kStatusUnset;
  int32_t lPages = 0;
  DWORD dwPagesStatus = kStatusUnset;
  int32_t lJobSize = 0;
  DWORD dwJobSizeStatus = kStatusUnset;
  int32_t lSubmitted = 0;
  DWORD dwSubmittedStatus = kStatusUnset;
  int16_t nPaperSize = 0;
  DWORD dwPaperSizeStatus = kStatusUnset;
  int16_t nPaperLength = 0;
  DWORD dwPaperLengthStatus = kStatusUnset;
  int16_t nPaperWidth = 0;
  DWORD dwPaperWidthStatus = kStatusUnset;
  int16_t nDuplex = 0;
  DWORD dwDuplexStatus = kStatusUnset;
  int16_t nColor = 0;
  DWORD dwColorStatus = kStatusUnset;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
