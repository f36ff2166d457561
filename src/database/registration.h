// Finding or appending the row of a computer or printer by name. Each
// operation keeps a process-wide cache of the names it has resolved, so a
// name normally costs one query per process.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "database/connection.h"

// Sets lId to the id of the row whose name matches (the name cut to the
// field width: 19 bytes for computers, 254 for printers), appending a row
// when there is none and bInsert is non-zero; -1 when no id is known.
// Returns 0 when the operation ran to its end, else the failing HRESULT.
int RegisterComputer(ConnectionPtr pConnection, const char* pszName,
                     int32_t& lIdComp, int bInsert);
int RegisterPrinter(ConnectionPtr pConnection, const char* pszName,
                    int32_t& lIdPrinter, int bInsert);
