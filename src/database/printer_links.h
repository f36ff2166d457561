// The per-printer user and computer lists (PRNUSERS, PRNCOMPS): one row per
// pair, appended on first sight and remembered in the service's registration
// caches.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "database/connection.h"
#include "database/reference_caches.h"

// Makes sure the pair has a row in the table that pszSource selects from;
// the source has two "?" markers, for the printer id and the member id in
// that order. When the schema's unique key refuses the append because
// another service appended the pair since the lookup, the pair is there
// all the same. Returns 0, or the HRESULT of the failure that ended it (the
// pair is then not cached, so the next call tries again).
int EnsurePrinterLink(ConnectionPtr pConnection, const char* pszSource,
                      CPairCache& cache, int32_t lIdPrinter, int32_t lIdMember);

int EnsurePrinterUser(ConnectionPtr pConnection, CRegistrationCaches& caches,
                      int32_t lIdPrinter, int32_t lIdUser);
int EnsurePrinterComputer(ConnectionPtr pConnection, CRegistrationCaches& caches,
                          int32_t lIdPrinter, int32_t lIdComp);
