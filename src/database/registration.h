// Finding or appending the row of a computer or printer by name. Each
// operation keeps the names it has resolved in its cache of the service's
// registration caches, so a name normally costs one query per service.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "database/connection.h"
#include "database/reference_caches.h"

// Sets lId to the id of the row whose name matches (the name cut to the
// field width: 19 bytes for computers, 254 for printers), appending a row
// when there is none and bInsert is non-zero; -1 when no id is known.
// When the schema's unique key refuses the append because another service
// appended the name since the lookup, that service's row is the name's.
// Returns 0 when the operation ran to its end, else the failing HRESULT,
// its error info passed on (com_errors.h: RaisePassedError).
int RegisterComputer(ConnectionPtr pConnection, CRegistrationCaches& caches,
                     const char* pszName, int32_t& lIdComp, int bInsert);
int RegisterPrinter(ConnectionPtr pConnection, CRegistrationCaches& caches,
                    const char* pszName, int32_t& lIdPrinter, int bInsert);
