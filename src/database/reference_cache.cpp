// Reference tables held in memory by the service object.
#include "service_core/quillon_service.h"

// The reference tables are not read yet: until the database layer lands,
// each loader reports success without touching the database.
int CQuillonService::LoadPermissionTable() { return 1; }
int CQuillonService::LoadPrinterTable() { return 1; }
int CQuillonService::LoadUserTable() { return 1; }
